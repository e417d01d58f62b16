#include "device_notification_target.h"

#include "MobileDeviceFramework.h"
#include "ThreadHandOff.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <stdexcept>

// Delivers a notification on the receiver's thread. What it needs comes as
// the arguments of a queued call, which Qt copies for the receiving thread.
class device_notification_relay : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE void deliver(void *target, int message, void *device) const;
};

device_notification_target::device_notification_target(QObject *r, const char *arrived, const char *left)
    : receiver(r)
    , arrivedSlot(arrived)
    , leftSlot(left)
{
    if (!r)
        return;
    relay = std::make_shared<device_notification_relay>();
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

void device_notification_relay::deliver(void *context, int message, void *device) const
{
    // Posted by the library's thread through Qt's event queue.
    acceptHandOff(this);
    const auto *target = static_cast<const device_notification_target *>(context);
    const char *slot = message == int(kDeviceArrived) ? target->arrivedSlot : target->leftSlot;
    if (QObject *receiver = target->receiver.data())
        QMetaObject::invokeMethod(receiver, slot, Qt::DirectConnection, Q_ARG(void *, device));
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
    device_notification_relay *relay = target->relay.get();
    if (!slot || !*slot || !relay)
        return;
    // The receiver may be destroyed on its thread at any moment: only there
    // is the guard looked at, right before the call.
    const Qt::ConnectionType type =
        QThread::currentThread() == relay->thread() ? Qt::DirectConnection : Qt::QueuedConnection;
    announceHandOff(relay);
    QMetaObject::invokeMethod(relay, "deliver", type, Q_ARG(void *, const_cast<device_notification_target *>(target)),
                              Q_ARG(int, int(info->message)), Q_ARG(void *, info->device));
}

#include "device_notification_target.moc"
