#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include <unistd.h>

#include "Lockdown.h"
#include "MobileDeviceFramework.h"
#include "SimFramework.h"

namespace
{

const QString kHint = QStringLiteral("Please restart your iPhone and computer to try again. If a prompt message pops out on "
                                     "your iPhone, please click \"Trust\".");
const QString kWifiHint = QStringLiteral("Please turn off Wifi Sync on iTunes to try again.<br/>To do this:  Launch iTunes "
                                         "-&gt; Connect your device -&gt; Go Summary -&gt; Options -&gt; Uncheck Sync with "
                                         "this device over Wi-Fi.<br/><br/>");
const char kFileRelay[] = "com.apple.mobile.file_relay";

// The devices in the order they arrive.
enum Device { Ok, Unpaired, ConnectFails, PairFails, ValidateFails, SessionFails, ServiceFails, SetValueFails, DeviceCount };
const char *const kIds[DeviceCount] = {"ok",       "unpaired",      "connect-fails", "pair-fails",
                                       "validate-fails", "session-fails", "service-fails", "setvalue-fails"};

QJsonObject globalValues()
{
    return QJsonObject{{"UniqueDeviceID", "0f1e2d3c4b5a69788796a5b4c3d2e1f00f1e2d3c"},
                       {"DeviceName", "Kim’s <iPhone>"},
                       {"MobileSubscriberCountryCode", "262"},
                       {"ProductVersion", "6.1.3"},
                       {"ProductType", "iPhone5,2"}};
}

QJsonObject device(Device which, const QJsonObject &results = {}, bool paired = true)
{
    return QJsonObject{
        {"id", kIds[which]},
        {"paired", paired},
        {"results", results},
        {"values",
         QJsonObject{{"", globalValues()},
                     {"com.apple.disk_usage", QJsonObject{{"TotalDataCapacity", 32212254720.0}, {"AmountDataAvailable", 1024}}}}},
        {"services", QJsonObject{{kFileRelay, QJsonObject{{"sources", QJsonObject{{"UserDatabases", "relay"}}}}}}},
    };
}

class LockdownTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        scenario.write(QJsonObject{{"devices", QJsonArray{
                                                   device(Ok),
                                                   device(Unpaired, {}, false),
                                                   device(ConnectFails, {{"AMDeviceConnect", -402653183}}),
                                                   device(PairFails, {{"AMDevicePair", -402653158}}, false),
                                                   device(ValidateFails, {{"AMDeviceValidatePairing", -402653154}}),
                                                   device(SessionFails, {{"AMDeviceStartSession", -402653152}}),
                                                   device(ServiceFails, {{"AMDeviceStartService", -402653150}}),
                                                   device(SetValueFails, {{"AMDeviceSetValue", -402653149}}),
                                               }}});
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
        const QList<void *> handles = subscribeAndWait(receiver, DeviceCount);
        ASSERT_EQ(handles.size(), DeviceCount);
        for (int i = 0; i < DeviceCount; ++i)
            this->handles[i] = handles.at(i);
    }

    // The calls the device saw since the last look, without the arrival.
    QStringList calls(Device which)
    {
        QStringList all = scenario.journalOf(QLatin1String(kIds[which]));
        all.removeAll(QStringLiteral("notify 1"));
        const QStringList fresh = all.mid(seen[which]);
        seen[which] = int(all.size());
        return fresh;
    }

    SimScenarioFile scenario;
    DeviceReceiver receiver;
    void *handles[DeviceCount] = {};
    int seen[DeviceCount] = {};
};

const QStringList kOpen = {QStringLiteral("AMDeviceConnect"), QStringLiteral("AMDeviceIsPaired"),
                           QStringLiteral("AMDeviceValidatePairing"), QStringLiteral("AMDeviceStartSession")};
const QStringList kClose = {QStringLiteral("AMDeviceStopSession"), QStringLiteral("AMDeviceDisconnect")};

TEST_F(LockdownTest, ValuesAreReadInOneSessionInKeyOrder)
{
    const QStringList keys = {QStringLiteral("UniqueDeviceID"), QStringLiteral("DeviceName"),
                              QStringLiteral("MobileSubscriberCountryCode"), QStringLiteral("ProductVersion"),
                              QStringLiteral("ProductType")};
    const QList<CFType> values = mobiledevice_copy_values(handles[Ok], keys, QString());
    ASSERT_EQ(values.size(), keys.size());
    QStringList texts;
    for (const CFType &v : values)
        texts << v.stringValue();
    EXPECT_EQ(texts, (QStringList{QStringLiteral("0f1e2d3c4b5a69788796a5b4c3d2e1f00f1e2d3c"), QStringLiteral("Kim’s <iPhone>"),
                                  QStringLiteral("262"), QStringLiteral("6.1.3"), QStringLiteral("iPhone5,2")}));

    QStringList expected = kOpen;
    for (const QString &key : keys)
        expected << QStringLiteral("AMDeviceCopyValue - ") + key;
    expected << kClose;
    EXPECT_EQ(calls(Ok), expected);
}

TEST_F(LockdownTest, AnEmptyKeyReadsTheWholeDomain)
{
    const QString domain = QStringLiteral("com.apple.disk_usage");
    const QList<CFType> values =
        mobiledevice_copy_values(handles[Ok], {QString(), QStringLiteral("TotalDataCapacity"), QStringLiteral("Missing")}, domain);
    ASSERT_EQ(values.size(), 3);
    ASSERT_TRUE(values[0].isDictionary());
    EXPECT_EQ(values[0].dictionaryCount(), 2);
    EXPECT_EQ(values[0].value(QStringLiteral("AmountDataAvailable")).toLongLong(), 1024);
    EXPECT_EQ(values[1].toLongLong(), 32212254720LL);
    EXPECT_EQ(values[2].ref(), nullptr);
    const QString copy = QStringLiteral("AMDeviceCopyValue ") + domain;
    const QStringList reads = {copy + QStringLiteral(" -"), copy + QStringLiteral(" TotalDataCapacity"),
                               copy + QStringLiteral(" Missing")};
    EXPECT_EQ(calls(Ok), kOpen + reads + kClose);

    // A domain the device does not have gives empty values, not an error.
    const QList<CFType> none = mobiledevice_copy_values(handles[Ok], {QString()}, QStringLiteral("com.example.none"));
    ASSERT_EQ(none.size(), 1);
    EXPECT_EQ(none[0].ref(), nullptr);
    EXPECT_TRUE(mobiledevice_copy_values(handles[Ok], {}, QString()).isEmpty());
}

TEST_F(LockdownTest, OnlyADeviceNotYetPairedIsPaired)
{
    QString error;
    ASSERT_EQ(mobiledevice_connect(handles[Unpaired], error), 0) << error.toStdString();
    mobiledevice_disconnect(handles[Unpaired]);
    EXPECT_EQ(calls(Unpaired), (QStringList{QStringLiteral("AMDeviceConnect"), QStringLiteral("AMDeviceIsPaired"),
                                            QStringLiteral("AMDevicePair"), QStringLiteral("AMDeviceValidatePairing"),
                                            QStringLiteral("AMDeviceStartSession")} +
                                kClose));
    // Paired now: the next session goes straight to the validation.
    ASSERT_EQ(mobiledevice_connect(handles[Unpaired], error), 0);
    mobiledevice_disconnect(handles[Unpaired]);
    EXPECT_EQ(calls(Unpaired), kOpen + kClose);
}

TEST_F(LockdownTest, SessionFailuresNameTheCallAndCode)
{
    const struct
    {
        Device device;
        const char *callText;
        int code;
        QStringList calls; // what the device sees of one failed attempt
    } cases[] = {
        {ConnectFails, "AMDeviceConnect(-402653183)", -402653183, {QStringLiteral("AMDeviceConnect")}},
        // A connection that was made is closed again, whichever step fails.
        {PairFails,
         "AMDevicePair(-402653158)",
         -402653158,
         {QStringLiteral("AMDeviceConnect"), QStringLiteral("AMDeviceIsPaired"), QStringLiteral("AMDevicePair"),
          QStringLiteral("AMDeviceDisconnect")}},
        {ValidateFails,
         "AMDeviceValidatePairing(-402653154)",
         -402653154,
         {QStringLiteral("AMDeviceConnect"), QStringLiteral("AMDeviceIsPaired"), QStringLiteral("AMDeviceValidatePairing"),
          QStringLiteral("AMDeviceDisconnect")}},
        {SessionFails, "AMDeviceStartSession(-402653152)", -402653152, kOpen + QStringList{QStringLiteral("AMDeviceDisconnect")}},
    };
    const struct
    {
        const char *name;
        std::function<void(void *)> run;
    } operations[] = {
        {"copy values", [](void *d) { mobiledevice_copy_values(d, {QStringLiteral("DeviceName")}, QString()); }},
        {"set value", [](void *d) { mobiledevice_set_value(d, QString(), QStringLiteral("k"), CFType::fromInt32(1)); }},
        {"start service", [](void *d) {
             int socket = -1;
             mobiledevice_start_service(d, kFileRelay, &socket);
         }},
        {"device identifier", [](void *d) { mobiledevice_copy_device_identifier(d); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(kIds[c.device]);
        const QString expected = kHint + QStringLiteral("<br/><br/>Error code: ") + QLatin1String(c.callText);

        QString error;
        EXPECT_EQ(mobiledevice_connect(handles[c.device], error), c.code);
        EXPECT_EQ(error, expected);
        EXPECT_EQ(calls(c.device), c.calls);

        for (const auto &op : operations) {
            SCOPED_TRACE(op.name);
            try {
                op.run(handles[c.device]);
                ADD_FAILURE() << "no error";
            } catch (const std::runtime_error &e) {
                EXPECT_EQ(QString::fromUtf8(e.what()), expected);
            }
            EXPECT_EQ(calls(c.device), c.calls);
        }
    }
}

TEST_F(LockdownTest, AServiceStartsInASessionOfItsOwn)
{
    int socket = -1;
    mobiledevice_start_service(handles[Ok], kFileRelay, &socket);
    EXPECT_GE(socket, 0);
    EXPECT_EQ(calls(Ok), kOpen + QStringList{QStringLiteral("AMDeviceStartService ") + QLatin1String(kFileRelay)} + kClose);
    EXPECT_EQ(::close(socket), 0);
}

TEST_F(LockdownTest, AFailedServiceStartClosesTheSessionFirst)
{
    const struct
    {
        Device device;
        const char *service;
        int code;
    } cases[] = {
        {ServiceFails, kFileRelay, -402653150},
        {Ok, "com.example.unknown", -402653164}, // the simulation's code for a service it does not offer
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.service);
        int socket = -1;
        try {
            mobiledevice_start_service(handles[c.device], c.service, &socket);
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(QString::fromUtf8(e.what()),
                      kWifiHint + QStringLiteral("Error code: AMDeviceStartService(%1)=%2").arg(QLatin1String(c.service)).arg(c.code));
        }
        EXPECT_EQ(calls(c.device), kOpen + QStringList{QStringLiteral("AMDeviceStartService ") + QLatin1String(c.service)} + kClose);
    }
}

TEST_F(LockdownTest, ASetValueIsReadBackAndAFailedOneOnlyReturnsItsCode)
{
    const QString domain = QStringLiteral("com.apple.mobile.backup");
    EXPECT_EQ(mobiledevice_set_value(handles[Ok], domain, QStringLiteral("WillEncrypt"), CFType::fromBool(true)), 0);
    const QList<CFType> back = mobiledevice_copy_values(handles[Ok], {QStringLiteral("WillEncrypt")}, domain);
    ASSERT_EQ(back.size(), 1);
    EXPECT_TRUE(back[0].isBool());
    EXPECT_TRUE(back[0].toBool(false));
    const QStringList set = {QStringLiteral("AMDeviceSetValue ") + domain + QStringLiteral(" WillEncrypt")};
    EXPECT_EQ(calls(Ok).mid(0, 7), kOpen + set + kClose);

    EXPECT_EQ(mobiledevice_set_value(handles[SetValueFails], domain, QStringLiteral("WillEncrypt"), CFType::fromBool(true)),
              -402653149);
    EXPECT_EQ(calls(SetValueFails),
              kOpen + QStringList{QStringLiteral("AMDeviceSetValue ") + domain + QStringLiteral(" WillEncrypt")} + kClose);
}

TEST_F(LockdownTest, TheDeviceIdentifierIsReadInASession)
{
    EXPECT_EQ(mobiledevice_copy_device_identifier(handles[Ok]), QStringLiteral("ok"));
    EXPECT_EQ(calls(Ok), kOpen + QStringList{QStringLiteral("AMDeviceCopyDeviceIdentifier")} + kClose);
}

TEST(LockdownWithoutFrameworkTest, EveryRequestFailsWithAClearMessage)
{
    ASSERT_FALSE(mobiledevice_frameworks_loaded());
    const QString expected = QStringLiteral("The device framework is not loaded.");
    QString error;
    EXPECT_EQ(mobiledevice_connect(nullptr, error), -1);
    EXPECT_EQ(error, expected);
    try {
        mobiledevice_copy_values(nullptr, {QStringLiteral("DeviceName")}, QString());
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), expected);
    }
    mobiledevice_disconnect(nullptr); // nothing to call, nothing happens
}

} // namespace
