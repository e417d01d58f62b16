#include "device_notification_target.h"

#include "MobileDeviceFramework.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <stdexcept>

device_notification_target::device_notification_target(QObject *r, const char *arrived, const char *left)
    : receiver(r)
    , arrivedSlot(arrived)
    , leftSlot(left)
{
    if (!r)
        return;
    relay = std::make_shared<QObject>();
    relay->moveToThread(r->thread());
}

int mobiledevice_subscribe(device_notification_target *target)
{
    if (!mobiledevice_frameworks_loaded()) {
        QString error;
        if (!mobiledevice_load_frameworks(error))
            throw std::runtime_error(error.toUtf8().toStdString());
    }
    const auto subscribe = reinterpret_cast<AMDeviceNotificationSubscribeFn>(amd_resolve("AMDeviceNotificationSubscribe"));
    if (!subscribe) {
        const QString message = QCoreApplication::translate("QObject", "The device framework has no function %1.")
                                    .arg(QLatin1String("AMDeviceNotificationSubscribe"));
        throw std::runtime_error(message.toUtf8().toStdString());
    }
    void *notification = nullptr;
    return subscribe(device_notification_callback, 0, 0, target, &notification);
}

void device_notification_callback(const DeviceNotificationInfo *info, void *context)
{
    const auto *target = static_cast<const device_notification_target *>(context);
    if (!info || !target)
        return;
    const char *slot = nullptr;
    if (info->message == kDeviceArrived)
        slot = target->arrivedSlot;
    else if (info->message == kDeviceLeft)
        slot = target->leftSlot;
    QObject *relay = target->relay.get();
    if (!slot || !*slot || !relay)
        return;
    void *device = info->device;
    auto deliver = [target, slot, device] {
        if (QObject *receiver = target->receiver.data())
            QMetaObject::invokeMethod(receiver, slot, Qt::DirectConnection, Q_ARG(void *, device));
    };
    // The receiver may be destroyed on its thread at any moment: only there
    // is the guard looked at, right before the call.
    if (QThread::currentThread() == relay->thread())
        deliver();
    else
        QMetaObject::invokeMethod(relay, deliver, Qt::QueuedConnection);
}
