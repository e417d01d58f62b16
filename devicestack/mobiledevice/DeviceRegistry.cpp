#include "DeviceRegistry.h"

#include "UsbDevice.h"

#include <thread>

DeviceRegistry &DeviceRegistry::instance()
{
    // Never destroyed: the daemon's thread may still call in while the
    // process exits.
    static DeviceRegistry *registry = new DeviceRegistry;
    return *registry;
}

int DeviceRegistry::subscribe(DeviceNotificationCallback callback, void *context)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_watching) {
        const idevice_error_t result = idevice_event_subscribe(&DeviceRegistry::onEvent, this);
        if (result != IDEVICE_E_SUCCESS)
            return int(result);
        m_watching = true;
        std::thread(&DeviceRegistry::deliver, this).detach();
    }
    const Subscriber subscriber{callback, context};
    m_subscribers.push_back(subscriber);
    for (const auto &device : m_devices) {
        if (device->isPresent())
            m_notices.push_back(Notice{subscriber, device.get(), kDeviceArrived});
    }
    m_wake.notify_one();
    return 0;
}

UsbDevice *DeviceRegistry::device(void *handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto &device : m_devices) {
        if (device.get() == handle)
            return device.get();
    }
    return nullptr;
}

void DeviceRegistry::onEvent(const idevice_event_t *event, void *self)
{
    // Phones reached over the network are left alone: the program speaks to
    // a phone on its USB cable.
    if (!event || !event->udid || event->conn_type != CONNECTION_USBMUXD)
        return;
    auto *registry = static_cast<DeviceRegistry *>(self);
    if (event->event == IDEVICE_DEVICE_ADD)
        registry->deviceArrived(event->udid);
    else if (event->event == IDEVICE_DEVICE_REMOVE)
        registry->deviceLeft(event->udid);
}

UsbDevice *DeviceRegistry::findLocked(const std::string &udid) const
{
    for (const auto &device : m_devices) {
        if (device->udid() == udid)
            return device.get();
    }
    return nullptr;
}

void DeviceRegistry::tellLocked(UsbDevice *device, unsigned int message)
{
    for (const Subscriber &subscriber : m_subscribers)
        m_notices.push_back(Notice{subscriber, device, message});
    m_wake.notify_one();
}

void DeviceRegistry::deviceArrived(const std::string &udid)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    UsbDevice *device = findLocked(udid);
    if (!device) {
        m_devices.push_back(std::make_unique<UsbDevice>(udid));
        device = m_devices.back().get();
    } else if (device->isPresent()) {
        return; // the daemon told of it again
    }
    device->setPresent(true);
    tellLocked(device, kDeviceArrived);
}

void DeviceRegistry::deviceLeft(const std::string &udid)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    UsbDevice *device = findLocked(udid);
    if (!device || !device->isPresent())
        return;
    device->setPresent(false);
    tellLocked(device, kDeviceLeft);
}

void DeviceRegistry::deliver()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_notices.empty(); });
        const Notice notice = m_notices.front();
        m_notices.pop_front();
        // The subscriber may call back into the library.
        lock.unlock();
        const DeviceNotificationInfo info{notice.device, notice.message};
        notice.to.callback(&info, notice.to.context);
        lock.lock();
    }
}
