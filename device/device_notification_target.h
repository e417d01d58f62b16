#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

#include "MobileDeviceCalls.h"

class device_notification_relay;

// Whom the device library's notifications reach: the slots named here are
// invoked on the receiver by name, with the device handle as their one
// "void*" argument, for a device that arrived (message 1) and one that left
// (message 2). The invocation is queued into the receiver's thread when the
// library calls from a thread of its own. The record must live as long as the
// subscription, which is for the rest of the process.
struct device_notification_target
{
    device_notification_target() = default;
    device_notification_target(QObject *receiver, const char *arrivedSlot, const char *leftSlot);

    // Guarded: a receiver that is destroyed before the process ends is no
    // longer called. Read on the receiver's thread only, where it can be
    // destroyed: the library's thread never looks at it.
    QPointer<QObject> receiver;
    const char *arrivedSlot = "";
    const char *leftSlot = "";
    // An object of the receiver's thread, made with the record and living as
    // long as it: the library's thread only posts the call to it, and it
    // finds the receiver, if still there, when the call arrives.
    std::shared_ptr<device_notification_relay> relay;
};

// Loads the framework when it is not loaded yet (a failure throws
// std::runtime_error with the loader's message), then subscribes; returns the
// subscription's result code. The subscription is never cancelled.
int mobiledevice_subscribe(device_notification_target *target);

// What the device library calls; context is the target.
void device_notification_callback(const DeviceNotificationInfo *info, void *context);
