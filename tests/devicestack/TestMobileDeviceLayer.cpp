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
