#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <stdexcept>

#include "Lockdown.h"
#include "MobileDeviceFramework.h"
#include "SimFramework.h"
#include "device_notification_target.h"

namespace
{

QJsonObject simpleDevice(const char *id)
{
    return QJsonObject{{"id", id}, {"values", QJsonObject{{"", QJsonObject{{"UniqueDeviceID", id}}}}}};
}

QJsonObject event(int afterMs, const char *id, int message)
{
    return QJsonObject{{"after_ms", afterMs}, {"device", id}, {"message", message}};
}

TEST(DeviceNotificationTest, ArrivalsAndRemovalsReachTheReceiverOnItsThread)
{
    SimScenarioFile scenario;
    scenario.write(QJsonObject{
        {"devices", QJsonArray{simpleDevice("a"), simpleDevice("b")}},
        {"events", QJsonArray{event(0, "a", 1), event(20, "b", 1), event(20, "a", 3), event(20, "a", 2), event(0, "b", 0),
                              event(20, "b", 99), event(20, "b", 2)}},
    });
    // Subscribing loads the framework itself.
    qputenv(kMobileDeviceDirVariable, simFrameworkDir().toUtf8());
    qputenv(kApplicationSupportDirVariable, simFrameworkDir().toUtf8());
    ASSERT_FALSE(mobiledevice_frameworks_loaded());

    DeviceReceiver receiver;
    static device_notification_target target(&receiver, "iosDeviceConnected", "iosDeviceDisconnected");
    ASSERT_EQ(mobiledevice_subscribe(&target), 0);
    EXPECT_TRUE(mobiledevice_frameworks_loaded());
    ASSERT_TRUE(receiver.waitForEvents(4));
    // The messages of other codes come and go without a call.
    QThread::msleep(100);
    QCoreApplication::processEvents();

    const QList<DeviceReceiver::Event> &events = receiver.events();
    ASSERT_EQ(events.size(), 4);
    const bool arrivals[] = {true, true, false, false};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].arrived, arrivals[i]);
        EXPECT_EQ(events[i].thread, QCoreApplication::instance()->thread());
        EXPECT_NE(events[i].device, nullptr);
    }
    void *a = events[0].device;
    void *b = events[1].device;
    EXPECT_NE(a, b);
    EXPECT_EQ(events[2].device, a);
    EXPECT_EQ(events[3].device, b);
    // A device that left can no longer be talked to.
    EXPECT_THROW(mobiledevice_copy_values(a, {QStringLiteral("UniqueDeviceID")}, QString()), std::runtime_error);
}

TEST(DeviceNotificationTest, OnlyTheCodesOfArrivalAndRemovalInvokeASlot)
{
    DeviceReceiver receiver;
    const device_notification_target target(&receiver, "iosDeviceConnected", "iosDeviceDisconnected");
    int device = 0;
    const struct
    {
        unsigned int message;
        int calls;
        bool arrived;
    } cases[] = {{0, 0, false}, {1, 1, true}, {2, 1, false}, {3, 0, false}, {4, 0, false}, {0xFFFFFFFFu, 0, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        const int before = int(receiver.events().size());
        const DeviceNotificationInfo info{&device, c.message};
        // On the receiver's own thread the slot runs at once.
        device_notification_callback(&info, const_cast<device_notification_target *>(&target));
        ASSERT_EQ(receiver.events().size(), before + c.calls);
        if (c.calls) {
            EXPECT_EQ(receiver.events().last().arrived, c.arrived);
            EXPECT_EQ(receiver.events().last().device, &device);
        }
    }
}

TEST(DeviceNotificationTest, ATargetWithoutReceiverOrSlotsInvokesNothing)
{
    int device = 0;
    const DeviceNotificationInfo arrived{&device, 1};
    const DeviceNotificationInfo left{&device, 2};

    device_notification_target empty;
    EXPECT_EQ(empty.receiver, nullptr);
    EXPECT_STREQ(empty.arrivedSlot, "");
    EXPECT_STREQ(empty.leftSlot, "");
    device_notification_callback(&arrived, &empty);
    device_notification_callback(&left, &empty);
    device_notification_callback(nullptr, &empty);
    device_notification_callback(&arrived, nullptr);

    DeviceReceiver receiver;
    device_notification_target noSlots(&receiver, "", nullptr);
    device_notification_callback(&arrived, &noSlots);
    device_notification_callback(&left, &noSlots);
    EXPECT_TRUE(receiver.events().isEmpty());

    // A receiver that is gone is not called.
    auto gone = std::make_unique<DeviceReceiver>();
    device_notification_target stale(gone.get(), "iosDeviceConnected", "iosDeviceDisconnected");
    gone.reset();
    device_notification_callback(&arrived, &stale);
}

TEST(DeviceNotificationTest, AReceiverMayGoWhileTheLibraryCalls)
{
    // The library calls from a thread of its own, whenever a device comes or
    // goes; the window may be destroyed on its thread meanwhile. Calls that
    // arrive before it goes reach it, the others nobody.
    auto receiver = std::make_unique<DeviceReceiver>();
    const device_notification_target target(receiver.get(), "iosDeviceConnected", "iosDeviceDisconnected");
    int device = 0;
    const DeviceNotificationInfo arrived{&device, 1};
    constexpr int kCalls = 2000;
    std::atomic<int> calls{0};
    std::thread library([&] {
        for (int i = 0; i < kCalls; ++i) {
            device_notification_callback(&arrived, const_cast<device_notification_target *>(&target));
            ++calls;
        }
    });
    while (calls.load() < kCalls / 2)
        std::this_thread::yield();
    QCoreApplication::sendPostedEvents();
    const qsizetype heard = receiver->events().size();
    receiver.reset();
    library.join();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_GE(heard, 1);
    EXPECT_LE(heard, kCalls);
    EXPECT_EQ(target.receiver, nullptr);
}

TEST(DeviceNotificationTest, SubscribingWithoutTheFrameworkThrowsTheLoadersMessage)
{
    QTemporaryDir empty;
    qputenv(kMobileDeviceDirVariable, empty.path().toUtf8());
    qputenv(kApplicationSupportDirVariable, empty.path().toUtf8());
    static device_notification_target target;
    try {
        mobiledevice_subscribe(&target);
        FAIL() << "no error";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Failed to load (Mobile Device) framework.");
    }
}

} // namespace
