#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QThread>

#include <gtest/gtest.h>

#include "../device/SimFramework.h"
#include "CFType.h"
#include "DeviceStackFixture.h"
#include "Lockdown.h"
#include "MobileDeviceFramework.h"
#include "ThrownText.h"
#include "device_notification_target.h"

namespace
{

const QString kUdid = QStringLiteral("3d5c0a7e9b1f24c68e0d7a3b5c9f1e2d4a6b8c0e");

QJsonObject phone(const QString &udid, const QString &version = QStringLiteral("6.1.3"))
{
    return QJsonObject{
        {"udid", udid},
        {"values",
         QJsonObject{{"", QJsonObject{{"UniqueDeviceID", udid},
                                     {"DeviceName", "Kim's iPhone"},
                                     {"MobileSubscriberCountryCode", "262"},
                                     {"ProductVersion", version},
                                     {"ProductType", "iPhone5,2"}}},
                     {"com.apple.disk_usage", QJsonObject{{"TotalDataCapacity", 13798932480.0}, {"AmountDataAvailable", 9163718656.0}}}}},
    };
}

QStringList texts(const QList<CFType> &values)
{
    QStringList list;
    for (const CFType &v : values)
        list << v.stringValue();
    return list;
}

const QStringList kArrivalKeys{QStringLiteral("UniqueDeviceID"), QStringLiteral("DeviceName"),
                               QStringLiteral("MobileSubscriberCountryCode"), QStringLiteral("ProductVersion"),
                               QStringLiteral("ProductType")};

// Starts the fake with the phones, loads the layer and waits for the phones
// to arrive; their handles in order.
class MobileDeviceLayerTest : public ::testing::Test
{
protected:
    QList<void *> start(const QJsonArray &phones, int arrivals)
    {
        QString error;
        EXPECT_TRUE(fake.start(QJsonObject{{"devices", phones}}, &error)) << error.toStdString();
        EXPECT_TRUE(loadDeviceStack(&error)) << error.toStdString();
        return subscribeAndWait(receiver, arrivals);
    }

    FakePhoneSetup fake;
    DeviceReceiver receiver;
};

using Fn = int (*)(void *);
Fn amd(const char *name)
{
    return reinterpret_cast<Fn>(amd_resolve(name));
}

} // namespace

TEST(MobileDeviceLayer, APhoneArrivesGivesItsValuesAndLeaves)
{
    FakePhoneSetup fake;
    QString error;
    ASSERT_TRUE(fake.start(QJsonObject{{"devices", QJsonArray{phone(kUdid)}}}, &error)) << error.toStdString();
    ASSERT_TRUE(loadDeviceStack(&error)) << error.toStdString();

    DeviceReceiver receiver;
    const QList<void *> handles = subscribeAndWait(receiver, 1);
    ASSERT_EQ(handles.size(), 1);

    const QList<CFType> values = mobiledevice_copy_values(handles.first(), kArrivalKeys, QString());
    EXPECT_EQ(texts(values), (QStringList{kUdid, QStringLiteral("Kim's iPhone"), QStringLiteral("262"),
                                          QStringLiteral("6.1.3"), QStringLiteral("iPhone5,2")}));
    EXPECT_EQ(mobiledevice_copy_device_identifier(handles.first()), kUdid);

    fake.daemon().detach(kUdid);
    ASSERT_TRUE(receiver.waitForEvents(2));
    EXPECT_FALSE(receiver.events().at(1).arrived);
    EXPECT_EQ(receiver.events().at(1).device, handles.first());
}

TEST_F(MobileDeviceLayerTest, EachRefusalIsNamedByTheCallAndItsCode)
{
    // One phone per way a session or a service start is refused.
    struct Case
    {
        const char *udid;
        QJsonObject settings;
        const char *service;
        const char *expected;
    };
    const Case cases[] = {
        {"session-refused", QJsonObject{{"session", "refuse"}}, nullptr, "Error code: AMDeviceStartSession(-21)"},
        {"trust-pending", QJsonObject{{"paired", false}, {"pair", "pending"}}, nullptr, "Error code: AMDevicePair(-19)"},
        {"trust-denied", QJsonObject{{"paired", false}, {"pair", "denied"}}, nullptr, "Error code: AMDevicePair(-18)"},
        {"passcode-set", QJsonObject{{"paired", false}, {"pair", "passcode"}}, nullptr, "Error code: AMDevicePair(-17)"},
        {"no-service", QJsonObject{}, "com.apple.mobile.file_relay",
         "Error code: AMDeviceStartService(com.apple.mobile.file_relay)=-27"},
        {"service-refused", QJsonObject{{"services", QJsonObject{{"com.apple.mobile.file_relay", QJsonObject{{"refuse", "ServiceProhibited"}}}}}},
         "com.apple.mobile.file_relay", "Error code: AMDeviceStartService(com.apple.mobile.file_relay)=-34"},
        {"ssl-asked", QJsonObject{{"services", QJsonObject{{"com.apple.mobile.file_relay", QJsonObject{{"ssl", true}}}}}},
         "com.apple.mobile.file_relay", "Error code: AMDeviceStartService(com.apple.mobile.file_relay)=-1005"},
    };
    QJsonArray phones;
    for (const Case &c : cases) {
        QJsonObject p = phone(QString::fromLatin1(c.udid));
        for (auto it = c.settings.begin(); it != c.settings.end(); ++it)
            p.insert(it.key(), it.value());
        phones.append(p);
    }
    const QList<void *> handles = start(phones, int(std::size(cases)));
    ASSERT_EQ(handles.size(), int(std::size(cases)));
    for (void *handle : handles) {
        const QString udid = CFType(reinterpret_cast<CFTypeRef (*)(void *)>(amd_resolve("AMDeviceCopyDeviceIdentifier"))(handle), true)
                                 .stringValue();
        const Case *c = nullptr;
        for (const Case &candidate : cases) {
            if (udid == QLatin1String(candidate.udid))
                c = &candidate;
        }
        ASSERT_NE(c, nullptr) << udid.toStdString();
        SCOPED_TRACE(c->udid);
        const QString text = c->service ? thrownText([&] {
            int socket = -1;
            mobiledevice_start_service(handle, c->service, &socket);
        })
                                        : thrownText([&] { mobiledevice_copy_values(handle, kArrivalKeys, QString()); });
        EXPECT_TRUE(text.endsWith(QLatin1String(c->expected))) << text.toStdString();
    }
    // A refused pairing leaves no record behind.
    EXPECT_FALSE(fake.daemon().holdsPairRecord(QStringLiteral("trust-denied")));
}

TEST_F(MobileDeviceLayerTest, AnUnpairedPhoneThatTrustsTheComputerIsPairedOnce)
{
    QJsonObject p = phone(kUdid);
    p.insert("paired", false);
    const QList<void *> handles = start(QJsonArray{p}, 1);
    ASSERT_EQ(handles.size(), 1);
    void *handle = handles.first();

    // Before the pairing, a session cannot be validated.
    EXPECT_EQ(amd("AMDeviceIsPaired")(handle), 0);
    EXPECT_EQ(amd("AMDeviceConnect")(handle), 0);
    EXPECT_EQ(amd("AMDeviceValidatePairing")(handle), -1008);
    EXPECT_EQ(amd("AMDeviceStartSession")(handle), -1008);
    EXPECT_EQ(amd("AMDeviceDisconnect")(handle), 0);

    EXPECT_EQ(texts(mobiledevice_copy_values(handle, {QStringLiteral("DeviceName")}, QString())),
              QStringList{QStringLiteral("Kim's iPhone")});
    EXPECT_TRUE(fake.daemon().holdsPairRecord(kUdid));
    EXPECT_NE(amd("AMDeviceIsPaired")(handle), 0);
    EXPECT_EQ(texts(mobiledevice_copy_values(handle, {QStringLiteral("ProductType")}, QString())),
              QStringList{QStringLiteral("iPhone5,2")});
    EXPECT_EQ(fake.lockdownOf(kUdid).count(QStringLiteral("Pair")), 1);
}

TEST_F(MobileDeviceLayerTest, DomainsMissingValuesAndWrittenValues)
{
    const QList<void *> handles = start(QJsonArray{phone(kUdid)}, 1);
    ASSERT_EQ(handles.size(), 1);
    const QList<CFType> usage = mobiledevice_copy_values(
        handles.first(), {QString(), QStringLiteral("TotalDataCapacity"), QStringLiteral("NoSuchKey")},
        QStringLiteral("com.apple.disk_usage"));
    ASSERT_EQ(usage.size(), 3);
    ASSERT_TRUE(usage[0].isDictionary());
    EXPECT_EQ(usage[0].value(QStringLiteral("AmountDataAvailable")).toLongLong(0), 9163718656LL);
    EXPECT_EQ(usage[1].toLongLong(0), 13798932480LL);
    EXPECT_EQ(usage[2].ref(), nullptr);
    // A domain the phone does not have is no failure either.
    EXPECT_EQ(mobiledevice_copy_values(handles.first(), {QString()}, QStringLiteral("com.apple.none")).first().ref(), nullptr);

    EXPECT_EQ(mobiledevice_set_value(handles.first(), QStringLiteral("com.apple.mobile.backup"),
                                     QStringLiteral("WillEncrypt"), CFType::fromBool(false)),
              0);
    EXPECT_EQ(mobiledevice_set_value(handles.first(), QString(), QStringLiteral("DeviceName"),
                                     CFType::fromString(QStringLiteral("Kim's old iPhone"))),
              0);
    EXPECT_EQ(texts(mobiledevice_copy_values(handles.first(), {QStringLiteral("DeviceName")}, QString())),
              QStringList{QStringLiteral("Kim's old iPhone")});
    EXPECT_EQ(mobiledevice_copy_values(handles.first(), {QStringLiteral("WillEncrypt")}, QStringLiteral("com.apple.mobile.backup"))
                  .first()
                  .toBool(true),
              false);
}

TEST_F(MobileDeviceLayerTest, APhoneUnpluggedInTheMiddleOfAReadIsGone)
{
    QJsonObject p = phone(kUdid);
    p.insert("leave_at", "GetValue - MobileSubscriberCountryCode");
    const QList<void *> handles = start(QJsonArray{p}, 1);
    ASSERT_EQ(handles.size(), 1);

    // The values asked after the phone went are empty, and its removal is told.
    EXPECT_EQ(texts(mobiledevice_copy_values(handles.first(), kArrivalKeys, QString())),
              (QStringList{kUdid, QStringLiteral("Kim's iPhone"), QString(), QString(), QString()}));
    ASSERT_TRUE(receiver.waitForEvents(2));
    EXPECT_FALSE(receiver.events().at(1).arrived);
    EXPECT_EQ(receiver.events().at(1).device, handles.first());
    // Whatever is asked of it next fails with the code of a phone that left.
    const QString text = thrownText([&] { mobiledevice_copy_values(handles.first(), kArrivalKeys, QString()); });
    EXPECT_TRUE(text.endsWith(QLatin1String("Error code: AMDeviceConnect(-1001)"))) << text.toStdString();
    // A phone plugged in again comes back under its old handle.
    fake.daemon().attach(kUdid);
    ASSERT_TRUE(receiver.waitForEvents(3));
    EXPECT_TRUE(receiver.events().at(2).arrived);
    EXPECT_EQ(receiver.events().at(2).device, handles.first());
}

TEST_F(MobileDeviceLayerTest, WithoutADaemonNothingArrivesAndNothingFails)
{
    // Nobody listens where the daemon's socket is said to be.
    qputenv("USBMUXD_SOCKET_ADDRESS", QFile::encodeName(QStringLiteral("UNIX:") + fake.path(QStringLiteral("no-daemon"))));
    QString error;
    ASSERT_TRUE(loadDeviceStack(&error)) << error.toStdString();
    static device_notification_target target;
    target = device_notification_target(&receiver, "iosDeviceConnected", "iosDeviceDisconnected");
    EXPECT_EQ(mobiledevice_subscribe(&target), 0);
    EXPECT_FALSE(receiver.waitForEvents(1, 1500));
    // Handles that are not the library's are refused, not followed.
    int local = 0;
    EXPECT_EQ(amd("AMDeviceConnect")(&local), -1006);
    EXPECT_EQ(amd("AMDeviceIsPaired")(&local), 0);
}

TEST_F(MobileDeviceLayerTest, ADaemonThatStopsLeavesThePhoneUnreachable)
{
    const QList<void *> handles = start(QJsonArray{phone(kUdid)}, 1);
    ASSERT_EQ(handles.size(), 1);
    fake.daemon().stop();
    const QString text = thrownText([&] { mobiledevice_copy_values(handles.first(), kArrivalKeys, QString()); });
    EXPECT_TRUE(text.endsWith(QLatin1String("Error code: AMDeviceConnect(-1001)"))
                || text.endsWith(QLatin1String("Error code: AMDeviceConnect(-1002)")))
        << text.toStdString();
}
