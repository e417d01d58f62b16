#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include "CFValues.h"
#include "Lockdown.h"
#include "MobileSync.h"
#include "ServicePeer.h"
#include "ServiceSocket.h"
#include "SimFramework.h"
#include "ThrownText.h"

namespace
{

using Step = ServicePeer::Step;

QString xmlOf(const CFType &value)
{
    return QString::fromUtf8(CFType::toPropertyListData(value, kCFPropertyListFormatXml));
}

class MobileSyncTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
    }
};

TEST_F(MobileSyncTest, TheRecordDownloadAcknowledgesEveryBatch)
{
    const CFType a = cfDict({{"1", cfDict({{"first name", cfStr("Kim")}})}});
    const CFType b = cfDict({{"2", cfDict({{"first name", cfStr("Lee")}})}});
    const CFType c3 = cfDict({});
    const auto changes = [](const CFType &records) {
        return ServicePeer::send(cfArray({cfStr("SDMessageProcessChanges"), cfStr("com.apple.Contacts"), records,
                                          CFType::fromBool(true)}));
    };
    const Step ready = ServicePeer::send(cfNames({"SDMessageDeviceReadyToReceiveChanges"}));
    const QString ack = R"(["SDMessageAcknowledgeChangesFromDevice", "com.apple.Contacts"])";
    const QString getAll = R"(["SDMessageGetAllRecordsFromDevice", "com.apple.Contacts"])";
    const struct
    {
        const char *name;
        QList<Step> steps;
        QStringList records;
        QStringList sent;
    } cases[] = {
        {"ready at once", {ServicePeer::receive(), ready}, {}, {getAll}},
        {"three batches",
         {ServicePeer::receive(), changes(a), ServicePeer::receive(), changes(b), ServicePeer::receive(), changes(c3),
          ServicePeer::receive(), ready},
         {cfText(a), cfText(b), cfText(c3)},
         {getAll, ack, ack, ack}},
        {"a batch that is no dictionary is acknowledged but not kept",
         {ServicePeer::receive(), changes(cfNames({"x"})), ServicePeer::receive(), changes(a), ServicePeer::receive(), ready},
         {cfText(a)},
         {getAll, ack, ack}},
        {"a batch without records",
         {ServicePeer::receive(), ServicePeer::send(cfNames({"SDMessageProcessChanges", "com.apple.Contacts"})),
          ServicePeer::receive(), ready},
         {},
         {getAll, ack}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer(c.steps);
        QList<CFType> records;
        EXPECT_EQ(thrownText([&] { records = mobiledevice_sync_get_all_records(peer.socket(), "com.apple.Contacts"); }),
                  "(no error)");
        QStringList texts;
        for (const CFType &r : records)
            texts << cfText(r);
        EXPECT_EQ(texts, c.records);
        EXPECT_EQ(peer.received(), c.sent);
        EXPECT_EQ(peer.receivedFormats(), QStringList(c.sent.size(), "xml"));
    }
}

TEST_F(MobileSyncTest, ARecordDownloadEndsOnlyOnReadiness)
{
    const CFType request = cfNames({"SDMessageGetAllRecordsFromDevice", ""});
    const CFType other = cfNames({"SDMessageCancelSession", "", "because"});
    const struct
    {
        const char *name;
        QList<Step> steps;
        QString error;
    } cases[] = {
        {"another name", {ServicePeer::receive(), ServicePeer::send(other)},
         "invalid feedback after send SDMessageGetAllRecordsFromDevice.\n" + xmlOf(other)},
        {"readiness in other letters",
         {ServicePeer::receive(), ServicePeer::send(cfNames({"sdmessagedevicereadytoreceivechanges"}))},
         "invalid feedback after send SDMessageGetAllRecordsFromDevice.\n" +
             xmlOf(cfNames({"sdmessagedevicereadytoreceivechanges"}))},
        {"no array", {ServicePeer::receive(), ServicePeer::send(cfDict({}))},
         "invalid feedback after send SDMessageGetAllRecordsFromDevice.\n" + xmlOf(cfDict({}))},
        {"closed after a batch",
         {ServicePeer::receive(),
          ServicePeer::send(cfArray({cfStr("SDMessageProcessChanges"), cfStr(""), cfDict({{"1", cfStr("x")}})})),
          ServicePeer::receive()},
         "mobiledevice_recmsg(msg-length) error, received length: 0.\n" + xmlOf(request)},
        {"a hostile length", {ServicePeer::receive(), ServicePeer::sendRaw(beLength(0x7FFFFFFF))},
         "mobiledevice_recmsg(msg) error, announced length 2147483647 exceeds 134217728.\n" + xmlOf(request)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer(c.steps);
        // An empty data class is sent as an empty string.
        EXPECT_EQ(thrownText([&] { mobiledevice_sync_get_all_records(peer.socket(), ""); }), c.error);
        EXPECT_EQ(peer.received().value(0), R"(["SDMessageGetAllRecordsFromDevice", ""])");
    }
}

TEST_F(MobileSyncTest, ChangesGoOutWithEveryParameterInItsPlace)
{
    const CFType changes = cfDict({{"new-1", cfDict({{"first name", cfStr("Kim")}})}});
    const CFType actions = cfDict({{"SyncDeviceLinkEntityNamesKey", cfNames({"com.apple.contacts.Contact"})}});
    const CFType remap = cfDict({{"new-1", cfStr("17")}});
    const CFType wrong = cfNames({"SDMessageAcknowledgeChangesFromDevice", "Contacts"});
    const struct
    {
        const char *name;
        CFType changes;
        CFType actions;
        CFType answer;
        QString sent;
        QString returned;
        QString error;
    } cases[] = {
        {"remapped", changes, actions, cfArray({cfStr("SDMessageRemapRecordIdentifiers"), cfStr("Contacts"), remap}),
         R"(["SDMessageProcessChanges", "Contacts", {"new-1": {"first name": "Kim"}}, false, {"SyncDeviceLinkEntityNamesKey": ["com.apple.contacts.Contact"]}])",
         cfText(remap), "(no error)"},
        {"no remapping", changes, actions, cfNames({"SDMessageRemapRecordIdentifiers", "Contacts"}),
         R"(["SDMessageProcessChanges", "Contacts", {"new-1": {"first name": "Kim"}}, false, {"SyncDeviceLinkEntityNamesKey": ["com.apple.contacts.Contact"]}])",
         "null", "(no error)"},
        {"no changes", CFType(), actions, cfArray({cfStr("SDMessageRemapRecordIdentifiers"), cfStr("Contacts"), cfDict({})}),
         R"(["SDMessageProcessChanges", "Contacts", "___EmptyParameterString___", false, {"SyncDeviceLinkEntityNamesKey": ["com.apple.contacts.Contact"]}])",
         "{}", "(no error)"},
        {"no actions", changes, CFType(), cfArray({cfStr("SDMessageRemapRecordIdentifiers"), cfStr("Contacts"), cfDict({})}),
         R"(["SDMessageProcessChanges", "Contacts", {"new-1": {"first name": "Kim"}}, false, "___EmptyParameterString___"])",
         "{}", "(no error)"},
        {"another answer", changes, actions, wrong,
         R"(["SDMessageProcessChanges", "Contacts", {"new-1": {"first name": "Kim"}}, false, {"SyncDeviceLinkEntityNamesKey": ["com.apple.contacts.Contact"]}])",
         "", "invalid feedback after send SDMessageProcessChanges.\n" + xmlOf(wrong)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer({ServicePeer::receive(), ServicePeer::send(c.answer, true)});
        CFType returned;
        EXPECT_EQ(thrownText([&] {
                      returned = mobiledevice_sync_process_changes(peer.socket(), c.changes, "Contacts", c.actions);
                  }),
                  c.error);
        EXPECT_EQ(peer.received(), QStringList(c.sent));
        EXPECT_EQ(peer.receivedFormats(), QStringList("xml"));
        if (c.error == "(no error)") {
            EXPECT_EQ(cfText(returned), c.returned);
        }
    }
}

TEST_F(MobileSyncTest, ClearingNeedsTheDevicesConsent)
{
    const CFType wrong = cfNames({"SDMessageRefuseToClear"});
    const struct
    {
        const char *name;
        QList<Step> answer;
        QString error;
    } cases[] = {
        {"consent", {ServicePeer::send(cfNames({"SDMessageDeviceWillClearAllRecords", "Calendars"}))}, "(no error)"},
        {"refusal", {ServicePeer::send(wrong)}, "invalid feedback after send SDMessageClearAllRecordsOnDevice.\n" + xmlOf(wrong)},
        {"an empty answer", {ServicePeer::sendRaw(beLength(0))}, "invalid feedback after send SDMessageClearAllRecordsOnDevice.\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QList<Step> steps{ServicePeer::receive()};
        steps += c.answer;
        ServicePeer peer(steps);
        EXPECT_EQ(thrownText([&] { mobiledevice_sync_clear_all_records(peer.socket(), "Calendars"); }), c.error);
        EXPECT_EQ(peer.received(),
                  QStringList(R"(["SDMessageClearAllRecordsOnDevice", "Calendars", "___EmptyParameterString___"])"));
    }
}

TEST_F(MobileSyncTest, FinishingTakesAnyOneAnswer)
{
    const CFType request = cfNames({"SDMessageFinishSessionOnDevice", "Notes"});
    const struct
    {
        const char *name;
        QList<Step> answer;
        QString error;
    } cases[] = {
        {"the usual", {ServicePeer::send(cfNames({"DLMessageDisconnect", "All done"}))}, "(no error)"},
        {"anything", {ServicePeer::send(cfDict({{"Whatever", CFType::fromInt32(1)}}))}, "(no error)"},
        {"a body that does not parse", {ServicePeer::sendRaw(beLength(3) + "abc")}, "(no error)"},
        {"nothing", {}, "mobiledevice_recmsg(msg-length) error, received length: 0.\n" + xmlOf(request)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QList<Step> steps{ServicePeer::receive()};
        steps += c.answer;
        ServicePeer peer(steps);
        EXPECT_EQ(thrownText([&] { mobiledevice_sync_finish(peer.socket(), "Notes"); }), c.error);
        EXPECT_EQ(peer.received(), QStringList(cfText(request)));
    }
}

// The service played end to end: the simulated device library connects the
// started service to a peer of the test.
class MobileSyncDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QJsonObject peerService{{"kind", "peer"}, {"path", "sync.sock"}};
        scenario.write(QJsonObject{
            {"devices",
             QJsonArray{QJsonObject{{"id", "phone"}, {"services", QJsonObject{{kMobileSyncService, peerService}}}},
                        QJsonObject{{"id", "refusing"},
                                    {"results", QJsonObject{{"AMDeviceStartService", -17}, {"AMDeviceSetValue", -9}}},
                                    {"services", QJsonObject{{kMobileSyncService, peerService}}}}}}});
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
        const QList<void *> devices = subscribeAndWait(receiver, 2);
        ASSERT_EQ(devices.size(), 2);
        phone = devices[0];
        refusing = devices[1];
    }

    SimScenarioFile scenario;
    DeviceReceiver receiver;
    void *phone = nullptr;
    void *refusing = nullptr;
};

TEST_F(MobileSyncDeviceTest, ASessionStartsAfterTheHandshake)
{
    const CFType computer = cfNames({"SDMessageSyncDataClassWithComputer", "com.apple.Contacts", "device-anchor"});
    const CFType refused = cfNames({"SDMessageRefuseToSyncDataClassWithComputer", "com.apple.Contacts", "busy"});
    const QString versionsOk = R"(["DLMessageVersionExchange", "DLVersionsOk"])";
    const QString syncWithDevice =
        R"(["SDMessageSyncDataClassWithDevice", "com.apple.Contacts", "device-anchor", "computer-anchor", 106])";
    const QString ping = R"(["DLMessagePing", "Preparing to get changes for device"])";
    const struct
    {
        const char *name;
        bool ping;
        QList<Step> answers;
        QStringList sent;
        QString error;
    } cases[] = {
        {"with a ping", true, {ServicePeer::receive(), ServicePeer::send(computer), ServicePeer::receive()},
         {versionsOk, syncWithDevice, ping}, "(no error)"},
        // Nothing more is sent: the receive after the session's answer sees the
        // end of the stream when the test closes its socket.
        {"without a ping", false, {ServicePeer::receive(), ServicePeer::send(computer), ServicePeer::receive()},
         {versionsOk, syncWithDevice}, "(no error)"},
        {"refused", true, {ServicePeer::receive(), ServicePeer::send(refused)}, {versionsOk, syncWithDevice},
         "invalid feedback after send SDMessageSyncDataClassWithDevice.\n" + xmlOf(refused)},
        {"a handshake that fails", true, {ServicePeer::send(cfNames({"DLMessageDeviceNotReady"}))}, {versionsOk},
         "invalid feedback after send DLMessageVersionExchange.\n" + xmlOf(cfNames({"DLMessageDeviceNotReady"}))},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QList<Step> steps{ServicePeer::send(cfArray({cfStr("DLMessageVersionExchange"), CFType::fromInt64(300),
                                                     CFType::fromInt64(0)})),
                          ServicePeer::receive()};
        if (c.answers.size() > 1)
            steps << ServicePeer::send(cfNames({"DLMessageDeviceReady"}));
        steps += c.answers;
        ServicePeer peer(scenario.path("sync.sock"), steps);
        int socket = -1;
        EXPECT_EQ(thrownText([&] {
                      mobiledevice_sync_start(phone,
                                              mobiledevice_sync_anchors("com.apple.Contacts", "device-anchor",
                                                                        "computer-anchor"),
                                              &socket, c.ping);
                  }),
                  c.error);
        // The socket is the caller's also after a failure.
        ASSERT_GE(socket, 0);
        EXPECT_EQ(mobiledevice_closesocket(socket), 0);
        EXPECT_EQ(peer.received(), c.sent);
    }
    EXPECT_EQ(scenario.journalOf("phone").filter("AMDeviceStartService"),
              QStringList(4, QStringLiteral("AMDeviceStartService com.apple.mobilesync")));
}

TEST_F(MobileSyncDeviceTest, AServiceThatDoesNotStartIsTheLockdownFailure)
{
    int socket = -1;
    const QString error = thrownText([&] {
        mobiledevice_sync_start(refusing, mobiledevice_sync_anchors("a", "b", "c"), &socket, false);
    });
    EXPECT_TRUE(error.endsWith("Error code: AMDeviceStartService(com.apple.mobilesync)=-17")) << error.toStdString();
}

TEST_F(MobileSyncDeviceTest, TetheredSyncIsALockdownValue)
{
    for (const bool disable : {true, false}) {
        SCOPED_TRACE(disable);
        EXPECT_EQ(mobiledevice_sync_set_tethered(phone, "com.apple.Contacts", disable), 0);
        const QList<CFType> values =
            mobiledevice_copy_values(phone, {"com.apple.Contacts"}, QString::fromLatin1(kTetheredSyncDomain));
        ASSERT_EQ(values.size(), 1);
        EXPECT_EQ(cfText(values[0]), QStringLiteral(R"({"DisableTethered": %1})").arg(disable ? "true" : "false"));
    }
    // A refused write is reported by its code only.
    EXPECT_EQ(mobiledevice_sync_set_tethered(refusing, "com.apple.Contacts", true), -9);
}

} // namespace
