#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <vector>

#include "CFValues.h"
#include "LogCapture.h"
#include "MobileBackup2.h"
#include "ServicePeer.h"
#include "ServiceSocket.h"
#include "SimFramework.h"
#include "ThrownText.h"

namespace
{

using Step = ServicePeer::Step;

class MobileBackup2Test : public ::testing::Test
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

CFType processMessage(const CFType &payload)
{
    return cfArray({cfStr("DLMessageProcessMessage"), payload});
}

Step reply(const CFType &payload)
{
    return ServicePeer::send(processMessage(payload), true);
}

CFType response(std::initializer_list<std::pair<QString, CFType>> extra)
{
    CFType dict = cfDict(extra);
    dict.set(cfStr("MessageName"), cfStr("Response"));
    return dict;
}

TEST_F(MobileBackup2Test, TheVersionExchangeOffersTheVersionsAndReadsTheChoice)
{
    const CFType notResponse = cfDict({{"MessageName", cfStr("Hello")}});
    const struct
    {
        const char *name;
        std::vector<double> versions;
        int count;
        CFType answer;
        QString offered;
        double chosen;
        QString error;
    } cases[] = {
        {"two versions", {2.0, 2.1}, 2, response({{"ErrorCode", CFType::fromInt32(0)}, {"ProtocolVersion", CFType::fromFloat64(2.1)}}),
         "[2.0, 2.1]", 2.1, "(no error)"},
        {"the count limits the offer", {2.0, 2.1, 3.0}, 1, response({{"ProtocolVersion", CFType::fromFloat64(2.0)}}), "[2.0]",
         2.0, "(no error)"},
        {"a count of 0", {2.0}, 0, response({}), "[]", 0.0, "(no error)"},
        {"a negative count", {2.0}, -3, response({}), "[]", 0.0, "(no error)"},
        {"a whole-numbered choice", {3.0}, 1, response({{"ProtocolVersion", CFType::fromInt32(3)}}), "[3.0]", 3.0, "(no error)"},
        {"no common version", {2.0}, 1, response({{"ErrorCode", CFType::fromInt32(1)}}), "[2.0]", 0,
         "mobiledevice_backup2_version_exchange: MOBILEBACKUP2_E_NO_COMMON_VERSION"},
        {"another error", {2.0}, 1, response({{"ErrorCode", CFType::fromInt32(-5)}}), "[2.0]", 0,
         "mobiledevice_backup2_version_exchange: MOBILEBACKUP2_E_REPLY_NOT_OK"},
        // Codes that are no 32-bit integer are not taken for success.
        {"a code beyond 32 bits", {2.0}, 1, response({{"ErrorCode", CFType::fromInt64(qint64(1) << 32)}}), "[2.0]", 0,
         "mobiledevice_backup2_version_exchange: MOBILEBACKUP2_E_REPLY_NOT_OK"},
        {"a code in a string", {2.0}, 1, response({{"ErrorCode", cfStr("0")}}), "[2.0]", 0,
         "mobiledevice_backup2_version_exchange: MOBILEBACKUP2_E_REPLY_NOT_OK"},
        {"a code that is a boolean", {2.0}, 1, response({{"ErrorCode", CFType::fromBool(false)}}), "[2.0]", 0,
         "mobiledevice_backup2_version_exchange: MOBILEBACKUP2_E_REPLY_NOT_OK"},
        {"not a response", {2.0}, 1, notResponse, "[2.0]", 0,
         "Did not receive a message(\"Message Name\" is \"Response\").\n" + xmlOf(processMessage(notResponse))},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer({ServicePeer::receive(), reply(c.answer)});
        double chosen = -1;
        EXPECT_EQ(thrownText([&] {
                      chosen = mobiledevice_backup2_version_exchange(peer.socket(), c.versions.data(), qint8(c.count));
                  }),
                  c.error);
        if (c.error == "(no error)") {
            EXPECT_DOUBLE_EQ(chosen, c.chosen);
        }
        EXPECT_EQ(peer.received(), QStringList(QStringLiteral(R"(["DLMessageProcessMessage", {"MessageName": "Hello", )"
                                                              R"("SupportedProtocolVersions": %1}])")
                                                   .arg(c.offered)));
    }
}

TEST_F(MobileBackup2Test, AVersionExchangeWithoutVersionsToOfferSendsNothing)
{
    ServicePeer peer({ServicePeer::receive()});
    EXPECT_EQ(thrownText([&] { mobiledevice_backup2_version_exchange(peer.socket(), nullptr, 2); }),
              "mobiledevice_backup2_version_exchange: no versions given.");
    EXPECT_NO_THROW(mobiledevice_backup2_send_status_response(peer.socket(), 0, "first", CFType()));
    EXPECT_EQ(peer.received(), QStringList(R"(["DLMessageStatusResponse", 0, "first", "___EmptyParameterString___"])"));
}

TEST_F(MobileBackup2Test, AFailedReplyToHelloNamesTheHello)
{
    ServicePeer peer({ServicePeer::receive()});
    const double version = 2.0;
    const QString error = thrownText([&] { mobiledevice_backup2_version_exchange(peer.socket(), &version, 1); });
    CFType hello = cfDict({{"SupportedProtocolVersions", cfArray({CFType::fromFloat64(2.0)})}, {"MessageName", cfStr("Hello")}});
    EXPECT_EQ(error, "mobiledevice_recmsg(msg-length) error, received length: 0.\n" + xmlOf(processMessage(hello)));
}

TEST_F(MobileBackup2Test, RequestsAreLaidOutByName)
{
    const CFType withPassword = cfDict({{"Password", cfStr("s3cret")}, {"Keep", CFType::fromBool(true)}});
    const CFType withState = cfDict({{"CloudBackupState", CFType::fromBool(true)}});
    const struct
    {
        const char *name;
        QString request;
        QString target;
        QString source;
        CFType options;
        QString sent; // the payload
    } cases[] = {
        {"target and source", "Backup", "T", "S", CFType(),
         R"({"MessageName": "Backup", "SourceIdentifier": "S", "TargetIdentifier": "T"})"},
        {"no source", "Backup", "T", "", CFType(), R"({"MessageName": "Backup", "TargetIdentifier": "T"})"},
        {"an empty target is still sent", "Restore", "", "", CFType(), R"({"MessageName": "Restore", "TargetIdentifier": ""})"},
        {"a password stays inside the options of a backup", "Backup", "T", "", withPassword,
         R"({"MessageName": "Backup", "Options": {"Keep": true, "Password": "s3cret"}, "TargetIdentifier": "T"})"},
        {"a password of an unback goes to the top too", "Unback", "T", "", withPassword,
         R"({"MessageName": "Unback", "Options": {"Keep": true, "Password": "s3cret"}, "Password": "s3cret", "TargetIdentifier": "T"})"},
        {"an unback without a password", "Unback", "T", "", withState,
         R"({"MessageName": "Unback", "Options": {"CloudBackupState": true}, "TargetIdentifier": "T"})"},
        {"the cloud state of its own request goes to the top", "EnableCloudBackup", "T", "T", withState,
         R"({"CloudBackupState": true, "MessageName": "EnableCloudBackup", "Options": {"CloudBackupState": true}, "SourceIdentifier": "T", "TargetIdentifier": "T"})"},
        {"a cloud state elsewhere stays inside", "Backup", "T", "", withState,
         R"({"MessageName": "Backup", "Options": {"CloudBackupState": true}, "TargetIdentifier": "T"})"},
        {"names are compared exactly", "unback", "T", "", withPassword,
         R"({"MessageName": "unback", "Options": {"Keep": true, "Password": "s3cret"}, "TargetIdentifier": "T"})"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer({ServicePeer::receive()});
        const CFType sent = mobiledevice_backup2_send_request(peer.socket(), c.request, c.target, c.source, c.options);
        const QString expected = QStringLiteral(R"(["DLMessageProcessMessage", %1])").arg(c.sent);
        EXPECT_EQ(peer.received(), QStringList(expected));
        EXPECT_EQ(peer.receivedFormats(), QStringList("binary"));
        EXPECT_EQ(cfText(sent), expected);
    }
}

TEST_F(MobileBackup2Test, TheMessageNameStaysInTheCallersDictionary)
{
    ServicePeer peer({ServicePeer::receive()});
    CFType dict = cfDict({{"Files", cfNames({"a"})}});
    const CFType copy = dict;
    mobiledevice_backup2_send_message(peer.socket(), "Upload", dict);
    EXPECT_EQ(cfText(copy), R"({"Files": ["a"], "MessageName": "Upload"})");
    EXPECT_EQ(peer.received(), QStringList(R"(["DLMessageProcessMessage", {"Files": ["a"], "MessageName": "Upload"}])"));
}

TEST_F(MobileBackup2Test, ResponsesAreCheckedBeforeAnythingIsWritten)
{
    const struct
    {
        const char *name;
        CFType message;
        int code;
        QString error;
    } cases[] = {
        {"success", processMessage(response({{"ErrorCode", CFType::fromInt32(0)}})), 0, "(no error)"},
        {"no code", processMessage(response({})), 0, "(no error)"},
        {"a code", processMessage(response({{"ErrorCode", CFType::fromInt32(104)}})), 104, "(no error)"},
        {"a negative code", processMessage(response({{"ErrorCode", CFType::fromInt32(-2)}})), -2, "(no error)"},
        {"an unreadable code", processMessage(response({{"ErrorCode", CFType::fromFloat64(0.5)}})), -1, "(no error)"},
        {"another name", processMessage(cfDict({{"MessageName", cfStr("response")}})), 0,
         "Did not receive a message(\"Message Name\" is \"Response\").\n" +
             xmlOf(processMessage(cfDict({{"MessageName", cfStr("response")}})))},
        {"no payload", cfNames({"DLMessageProcessMessage"}), 0,
         "Did not receive a message(\"Message Name\" is \"Response\").\n" + xmlOf(cfNames({"DLMessageProcessMessage"}))},
        {"a payload that is no dictionary", cfNames({"DLMessageProcessMessage", "Response"}), 0,
         "Did not receive a message(\"Message Name\" is \"Response\").\n" +
             xmlOf(cfNames({"DLMessageProcessMessage", "Response"}))},
        {"not a process message", cfArray({cfStr("DLMessageStatusResponse"), response({})}), 0,
         "Did not receive DLMessageProcessMessage as expected."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer({ServicePeer::send(c.message, true)});
        int code = 777;
        const CFType untouched = cfStr("untouched");
        CFType whole = untouched;
        CFType got;
        EXPECT_EQ(thrownText([&] { got = mobiledevice_backup2_recv_response(peer.socket(), &code, CFType(), &whole); }),
                  c.error);
        if (c.error == "(no error)") {
            EXPECT_EQ(code, c.code);
            EXPECT_EQ(cfText(whole), cfText(c.message));
            EXPECT_EQ(cfText(got), cfText(c.message.item(1)));
        } else {
            EXPECT_EQ(code, 777);
            EXPECT_EQ(whole.ref(), untouched.ref());
        }
    }
}

TEST_F(MobileBackup2Test, StatusResponsesUseThePlaceholderForWhatIsMissing)
{
    const struct
    {
        const char *name;
        int code;
        QString status;
        CFType dictionary;
        QString sent;
    } cases[] = {
        {"nothing", 0, "", CFType(), R"(["DLMessageStatusResponse", 0, "___EmptyParameterString___", "___EmptyParameterString___"])"},
        {"a status", -6, "Multi status", CFType(),
         R"(["DLMessageStatusResponse", -6, "Multi status", "___EmptyParameterString___"])"},
        {"a dictionary", 0, "", cfDict({{"a.txt", cfDict({{"DLFileErrorCode", CFType::fromInt32(-6)}})}}),
         R"(["DLMessageStatusResponse", 0, "___EmptyParameterString___", {"a.txt": {"DLFileErrorCode": -6}}])"},
        {"an empty dictionary is one", 2147483647, "x", cfDict({}), R"(["DLMessageStatusResponse", 2147483647, "x", {}])"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer({ServicePeer::receive()});
        const CFType sent = mobiledevice_backup2_send_status_response(peer.socket(), c.code, c.status, c.dictionary);
        EXPECT_EQ(peer.received(), QStringList(c.sent));
        EXPECT_EQ(peer.receivedFormats(), QStringList("binary"));
        EXPECT_EQ(cfText(sent), c.sent);
    }
}

TEST_F(MobileBackup2Test, BackupRequestsAreFullOrIncremental)
{
    const struct
    {
        bool full;
        QString sent;
        QString log;
    } cases[] = {
        {true,
         R"(["DLMessageProcessMessage", {"MessageName": "Backup", "Options": {"ForceFullBackup": true}, "SourceIdentifier": "udid", "TargetIdentifier": "udid"}])",
         "Requesting backup from device, Full backup mode"},
        {false, R"(["DLMessageProcessMessage", {"MessageName": "Backup", "SourceIdentifier": "udid", "TargetIdentifier": "udid"}])",
         "Requesting backup from device, Incremental backup mode"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.full);
        ServicePeer peer({ServicePeer::receive()});
        LogCapture log;
        mobiledevice_backup2_request_backup(peer.socket(), "udid", c.full);
        EXPECT_EQ(peer.received(), QStringList(c.sent));
        EXPECT_EQ(log.lines(), QStringList(c.log));
    }
}

TEST_F(MobileBackup2Test, TheCloudBackupSwitchNeedsASuccessfulResponse)
{
    const struct
    {
        const char *name;
        bool enable;
        QList<Step> answer;
        QString error;
    } cases[] = {
        {"on", true, {reply(response({{"ErrorCode", CFType::fromInt32(0)}}))}, "(no error)"},
        {"off without a code", false, {reply(response({}))}, "(no error)"},
        {"refused", true, {reply(response({{"ErrorCode", CFType::fromInt32(-13)}}))}, "Set EnableCloudBackup error code: -13"},
        {"an unreadable code", false, {reply(response({{"ErrorCode", cfStr("ok")}}))}, "Set EnableCloudBackup error code: -1"},
        {"no answer", true, {}, "mobiledevice_recmsg(msg-length) error, received length: 0."},
        {"cut off", true, {ServicePeer::sendRaw(beLength(60) + "bplist00")}, "mobiledevice_recmsg(msg) error, received length: 8."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QList<Step> steps{ServicePeer::receive()};
        steps += c.answer;
        ServicePeer peer(steps);
        LogCapture log;
        EXPECT_EQ(thrownText([&] { mobiledevice_backup2_set_cloud_backup(peer.socket(), "udid", c.enable); }), c.error);
        const QString state = c.enable ? "true" : "false";
        EXPECT_EQ(peer.received(), QStringList(QStringLiteral(R"(["DLMessageProcessMessage", {"CloudBackupState": %1, )"
                                                              R"("MessageName": "EnableCloudBackup", "Options": )"
                                                              R"({"CloudBackupState": %1}, "SourceIdentifier": "udid", )"
                                                              R"("TargetIdentifier": "udid"}])")
                                                   .arg(state)));
        EXPECT_EQ(log.lines(), QStringList(QStringLiteral("Set EnableCloudBackup: %1").arg(c.enable ? 1 : 0)));
    }
}

TEST_F(MobileBackup2Test, AnyDeviceLinkMessageCanBeReceived)
{
    const CFType upload = cfArray({cfStr("DLMessageUploadFiles"), cfNames({"a"}), CFType::fromInt64(4)});
    ServicePeer peer({ServicePeer::send(upload, true), ServicePeer::send(cfNames({"SDMessageX"}))});
    CFType message;
    QString name;
    mobiledevice_backup2_recv_message(peer.socket(), &message, &name);
    EXPECT_EQ(name, "DLMessageUploadFiles");
    EXPECT_EQ(cfText(message), R"(["DLMessageUploadFiles", ["a"], 4])");
    EXPECT_EQ(thrownText([&] { mobiledevice_backup2_recv_message(peer.socket(), &message, &name); }),
              "Did not receive a DL* message as expected.");
    EXPECT_EQ(name, "DLMessageUploadFiles");
}

TEST(MobileBackup2DeviceTest, TheServiceStartsWithTheHandshake)
{
    SimScenarioFile scenario;
    scenario.write(QJsonObject{{"devices", QJsonArray{QJsonObject{
                                               {"id", "phone"},
                                               {"services", QJsonObject{{kMobileBackup2Service,
                                                                         QJsonObject{{"kind", "peer"}, {"path", "mb2.sock"}}}}},
                                           }}}});
    QString error;
    ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
    DeviceReceiver receiver;
    const QList<void *> devices = subscribeAndWait(receiver, 1);
    ASSERT_EQ(devices.size(), 1);

    const struct
    {
        const char *name;
        QList<Step> steps;
        QString error;
    } cases[] = {
        {"ready", {ServicePeer::send(cfNames({"DLMessageDeviceReady"}))}, "(no error)"},
        {"exchanged", {ServicePeer::send(cfNames({"DLMessageVersionExchange"})), ServicePeer::receive(),
                       ServicePeer::send(cfNames({"DLMessageDeviceReady"}))},
         "(no error)"},
        {"gone before ready", {}, "mobiledevice_recmsg(msg-length) error, received length: 0."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer(scenario.path("mb2.sock"), c.steps);
        int socket = -1;
        EXPECT_EQ(thrownText([&] { mobiledevice_backup2_start(devices[0], &socket); }), c.error);
        ASSERT_GE(socket, 0);
        EXPECT_EQ(mobiledevice_closesocket(socket), 0);
    }
    EXPECT_EQ(scenario.journalOf("phone").filter("AMDeviceStartService"),
              QStringList(3, QStringLiteral("AMDeviceStartService com.apple.mobilebackup2")));
}

} // namespace
