#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include "CFValues.h"
#include "DeviceLink.h"
#include "LogCapture.h"
#include "ServicePeer.h"
#include "SimFramework.h"
#include "ThrownText.h"

namespace
{

using Step = ServicePeer::Step;

class DeviceLinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
    }
};

QString xmlOf(const CFType &value)
{
    return QString::fromUtf8(CFType::toPropertyListData(value, kCFPropertyListFormatXml));
}

const QString kVersionsOk = QStringLiteral(R"(["DLMessageVersionExchange", "DLVersionsOk"])");

TEST_F(DeviceLinkTest, TheHandshakeAnswersAnyFirstMessageUntilTheDeviceIsReady)
{
    const CFType ready = cfNames({"DLMessageDeviceReady"});
    const CFType notReady = cfNames({"DLMessageDeviceNotReady"});
    const CFType answer = cfNames({"DLMessageVersionExchange", "DLVersionsOk"});
    const struct
    {
        const char *name;
        QList<Step> steps;
        QStringList sent; // what the device receives
        QString error;
    } cases[] = {
        {"ready at once", {ServicePeer::send(ready)}, {}, "(no error)"},
        {"version exchange",
         {ServicePeer::send(cfArray({cfStr("DLMessageVersionExchange"), CFType::fromInt64(300), CFType::fromInt64(0)}), true),
          ServicePeer::receive(), ServicePeer::send(ready)},
         {kVersionsOk},
         "(no error)"},
        // The device's versions are not looked at, nor is the first name.
        {"any other first message",
         {ServicePeer::send(cfDict({{"Hello", cfStr("there")}})), ServicePeer::receive(), ServicePeer::send(ready, true)},
         {kVersionsOk},
         "(no error)"},
        {"an empty first body", {ServicePeer::sendRaw(beLength(0)), ServicePeer::receive(), ServicePeer::send(ready)},
         {kVersionsOk},
         "(no error)"},
        {"ready spelled otherwise",
         {ServicePeer::send(cfNames({"dlmessagedeviceready"})), ServicePeer::receive(),
          ServicePeer::send(cfNames({"DLMessageDeviceReady"}))},
         {kVersionsOk},
         "(no error)"},
        {"not ready after the exchange",
         {ServicePeer::send(cfNames({"DLMessageVersionExchange"})), ServicePeer::receive(), ServicePeer::send(notReady)},
         {kVersionsOk},
         "invalid feedback after send DLMessageVersionExchange.\n" + xmlOf(notReady)},
        {"a reply that is no array",
         {ServicePeer::send(cfNames({"DLMessageVersionExchange"})), ServicePeer::receive(),
          ServicePeer::send(cfDict({{"DLMessageDeviceReady", cfStr("1")}}))},
         {kVersionsOk},
         "invalid feedback after send DLMessageVersionExchange.\n" +
             xmlOf(cfDict({{"DLMessageDeviceReady", cfStr("1")}}))},
        {"an empty reply", {ServicePeer::send(notReady), ServicePeer::receive(), ServicePeer::sendRaw(beLength(0))},
         {kVersionsOk},
         "invalid feedback after send DLMessageVersionExchange.\n"},
        {"nothing at all", {}, {}, "mobiledevice_recmsg(msg-length) error, received length: 0."},
        {"a cut-off first message", {ServicePeer::sendRaw(beLength(100) + "<?xml")}, {},
         "mobiledevice_recmsg(msg) error, received length: 5."},
        {"a hostile length", {ServicePeer::sendRaw(beLength(0xFFFFFFFFu))}, {},
         "mobiledevice_recmsg(msg) error, announced length 4294967295 exceeds 134217728."},
        // A failed reply names the answer it was waiting for.
        {"no reply", {ServicePeer::send(notReady), ServicePeer::receive()}, {kVersionsOk},
         "mobiledevice_recmsg(msg-length) error, received length: 0.\n" + xmlOf(answer)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer(c.steps);
        EXPECT_EQ(thrownText([&] { dl_version_exchange(peer.socket()); }), c.error);
        EXPECT_EQ(peer.received(), c.sent);
        EXPECT_EQ(peer.receivedFormats(), QStringList(c.sent.size(), QStringLiteral("xml")));
    }
}

TEST_F(DeviceLinkTest, ProcessMessagesAndDisconnectsGoOutInBinary)
{
    ServicePeer peer({ServicePeer::receive(), ServicePeer::receive(), ServicePeer::receive()});
    const CFType payload = cfDict({{"MessageName", cfStr("Hello")}, {"Count", CFType::fromInt32(3)}});
    const CFType sent = dl_send_process_message(peer.socket(), payload);
    dl_send_disconnect(peer.socket(), QString());
    dl_send_disconnect(peer.socket(), QStringLiteral("All done, thanks"));

    const QString expected = QStringLiteral(R"(["DLMessageProcessMessage", {"Count": 3, "MessageName": "Hello"}])");
    EXPECT_EQ(peer.received(), QStringList({expected, R"(["DLMessageDisconnect", "___EmptyParameterString___"])",
                                            R"(["DLMessageDisconnect", "All done, thanks"])"}));
    EXPECT_EQ(peer.receivedFormats(), QStringList({"binary", "binary", "binary"}));
    // The copy returned is what went out, and independent of the payload.
    EXPECT_EQ(cfText(sent), expected);
    EXPECT_NE(sent.item(1).ref(), payload.ref());
}

TEST_F(DeviceLinkTest, AProcessMessageWithoutADictionaryIsNotSent)
{
    ServicePeer peer({ServicePeer::receive()});
    for (const CFType &payload : {CFType(), cfStr("Hello"), cfNames({"Hello"})}) {
        EXPECT_EQ(thrownText([&] { dl_send_process_message(peer.socket(), payload); }),
                  "dl_send_process_message: the message to send is not a dictionary.");
    }
    dl_send_disconnect(peer.socket(), QStringLiteral("x"));
    // The first message the device saw is the disconnect.
    EXPECT_EQ(peer.received(), QStringList({R"(["DLMessageDisconnect", "x"])"}));
}

struct ReceiveCase
{
    const char *name;
    CFType message;
    bool dlName;      // passes the "DL" check
    bool processName; // passes the exact check
};

TEST_F(DeviceLinkTest, ReceivedNamesAreChecked)
{
    const CFType payload = cfDict({{"MessageName", cfStr("Response")}, {"ErrorCode", CFType::fromInt32(0)}});
    const ReceiveCase cases[] = {
        {"process message", cfArray({cfStr("DLMessageProcessMessage"), payload}), true, true},
        {"another DL message", cfArray({cfStr("DLMessagePing"), cfStr("hi")}), true, false},
        {"DL in small letters", cfArray({cfStr("dlmessageprocessmessage"), payload}), true, false},
        {"a name of another service", cfNames({"SDMessageProcessChanges"}), false, false},
        {"a name that is not a string", cfArray({CFType::fromInt32(7), payload}), false, false},
        {"an empty array", cfArray({}), false, false},
        {"a dictionary", cfDict({{"DLMessageProcessMessage", payload}}), false, false},
        {"a string", cfStr("DLMessageProcessMessage"), false, false},
        {"an empty body", CFType(), false, false},
    };
    for (const ReceiveCase &c : cases) {
        SCOPED_TRACE(c.name);
        const Step send = c.message.ref() ? ServicePeer::send(c.message, true) : ServicePeer::sendRaw(beLength(0));
        const QString xml = xmlOf(c.message);

        {
            ServicePeer peer({send});
            LogCapture log;
            const CFType untouched = cfStr("untouched");
            CFType message = untouched;
            QString name = QStringLiteral("untouched");
            const QString error =
                thrownText([&] { mobiledevice_link_sc_recv_dlmessaeg(peer.socket(), &message, &name, CFType()); });
            if (c.dlName) {
                EXPECT_EQ(error, "(no error)");
                EXPECT_EQ(cfText(message), cfText(c.message));
                EXPECT_EQ(name, c.message.item(0).stringValue());
                EXPECT_TRUE(log.lines().isEmpty());
            } else {
                EXPECT_EQ(error, "Did not receive a DL* message as expected.");
                EXPECT_EQ(message.ref(), untouched.ref());
                EXPECT_EQ(name, "untouched");
                EXPECT_EQ(log.lines(), QStringList("mobiledevice_link_sc_recv_dlmessaeg recv invalid msg:\n" + xml));
            }
        }
        {
            ServicePeer peer({send});
            LogCapture log;
            const CFType untouched = cfStr("untouched");
            CFType whole = untouched;
            CFType got;
            const QString error =
                thrownText([&] { got = mobiledevice_link_sc_recv_process_message(peer.socket(), CFType(), &whole); });
            if (c.processName) {
                EXPECT_EQ(error, "(no error)");
                EXPECT_EQ(cfText(whole), cfText(c.message));
                EXPECT_EQ(cfText(got), cfText(payload));
            } else {
                EXPECT_EQ(error, c.dlName ? "Did not receive DLMessageProcessMessage as expected."
                                          : "Did not receive a DL* message as expected.");
                EXPECT_EQ(whole.ref(), untouched.ref());
                EXPECT_EQ(log.lines(), QStringList((c.dlName ? "mobiledevice_link_sc_recv_process_message recv invalid msg:\n"
                                                             : "mobiledevice_link_sc_recv_dlmessaeg recv invalid msg:\n") +
                                                   xml));
            }
        }
    }
}

TEST_F(DeviceLinkTest, AProcessMessageWithoutPayloadGivesAnEmptyValue)
{
    ServicePeer peer({ServicePeer::send(cfNames({"DLMessageProcessMessage"}))});
    CFType whole;
    const CFType got = mobiledevice_link_sc_recv_process_message(peer.socket(), CFType(), &whole);
    EXPECT_EQ(got.ref(), nullptr);
    EXPECT_EQ(cfText(whole), R"(["DLMessageProcessMessage"])");
}

TEST_F(DeviceLinkTest, ThePayloadOutlivesTheMessageItCameIn)
{
    ServicePeer peer({ServicePeer::send(
        cfArray({cfStr("DLMessageProcessMessage"), cfDict({{"Files", cfNames({"a", "b"})}, {"Size", CFType::fromInt64(1) }})}),
        true)});
    CFType payload;
    {
        CFType whole;
        payload = mobiledevice_link_sc_recv_process_message(peer.socket(), CFType(), &whole);
    }
    // Only the copy is left; it reads whole under the address sanitizer.
    EXPECT_EQ(cfText(payload), R"({"Files": ["a", "b"], "Size": 1})");
}

TEST_F(DeviceLinkTest, AFailedReceiveNamesTheRequest)
{
    const CFType request = cfArray({cfStr("DLMessageProcessMessage"), cfDict({{"MessageName", cfStr("Hello")}})});
    const struct
    {
        const char *name;
        QList<Step> steps;
        QString error;
    } cases[] = {
        {"closed", {}, "mobiledevice_recmsg(msg-length) error, received length: 0.\n" + xmlOf(request)},
        {"cut off", {ServicePeer::sendRaw(beLength(50) + QByteArray(20, 'x'))},
         "mobiledevice_recmsg(msg) error, received length: 20.\n" + xmlOf(request)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        {
            ServicePeer peer(c.steps);
            EXPECT_EQ(thrownText([&] { mobiledevice_link_sc_recv_process_message(peer.socket(), request, nullptr); }),
                      c.error);
        }
        {
            ServicePeer peer(c.steps);
            EXPECT_EQ(thrownText([&] { mobiledevice_link_sc_recv_dlmessaeg(peer.socket(), nullptr, nullptr, request); }),
                      c.error);
        }
    }
}

} // namespace
