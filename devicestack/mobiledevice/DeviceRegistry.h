#pragma once

#include <condition_variable>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <libimobiledevice/libimobiledevice.h>

#include "MobileDeviceCalls.h"

class UsbDevice;

// The phones the usbmux daemon has shown this process, and who is told when
// one arrives or leaves. One per process, never destroyed: the program keeps
// device handles and the subscription for its whole life.
//
// libimobiledevice watches the daemon on a thread of its own and tells this
// registry; the registry tells each subscriber on a thread of its own, in
// the order things happened, and tells a new subscriber first of the phones
// already there. With no daemon running nothing happens until one starts.
class DeviceRegistry
{
public:
    static DeviceRegistry &instance();

    // 0, or libimobiledevice's code when it cannot watch the daemon.
    int subscribe(DeviceNotificationCallback callback, void *context);

    // The phone behind a handle the program passes back; null for anything
    // that is no handle of this library.
    UsbDevice *device(void *handle);

private:
    struct Subscriber
    {
        DeviceNotificationCallback callback;
        void *context;
    };
    struct Notice
    {
        Subscriber to;
        UsbDevice *device;
        unsigned int message;
    };

    DeviceRegistry() = default;
    static void onEvent(const idevice_event_t *event, void *self);
    void deviceArrived(const std::string &udid);
    void deviceLeft(const std::string &udid);
    UsbDevice *findLocked(const std::string &udid) const;
    void tellLocked(UsbDevice *device, unsigned int message);
    void deliver();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::list<std::unique_ptr<UsbDevice>> m_devices; // never shrinks
    std::vector<Subscriber> m_subscribers;
    std::deque<Notice> m_notices;
    bool m_watching = false;
};
