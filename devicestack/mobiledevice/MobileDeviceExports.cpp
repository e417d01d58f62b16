// The functions of the device library, with the names and types the program
// resolves (device/MobileDeviceCalls.h), over the usbmux daemon and
// libimobiledevice. A handle is a UsbDevice of the registry; anything else is
// refused. See README.md for the result codes.

#include "DeviceCodes.h"
#include "DeviceRegistry.h"
#include "MobileDeviceCalls.h"
#include "PlistValues.h"
#include "UsbDevice.h"

#include "CoreFoundationExports.h"

#include <string>
#include <type_traits>

#define LARKSPAN_MD_EXPORT extern "C" __attribute__((visibility("default")))

LARKSPAN_MD_EXPORT int AMDeviceNotificationSubscribe(DeviceNotificationCallback callback, unsigned int, unsigned int,
                                                     void *context, void **notification);
LARKSPAN_MD_EXPORT int AMDeviceConnect(void *device);
LARKSPAN_MD_EXPORT int AMDeviceIsPaired(void *device);
LARKSPAN_MD_EXPORT int AMDevicePair(void *device);
LARKSPAN_MD_EXPORT int AMDeviceValidatePairing(void *device);
LARKSPAN_MD_EXPORT int AMDeviceStartSession(void *device);
LARKSPAN_MD_EXPORT int AMDeviceStopSession(void *device);
LARKSPAN_MD_EXPORT int AMDeviceDisconnect(void *device);
LARKSPAN_MD_EXPORT int AMDeviceStartService(void *device, CFTypeRef serviceName, int *socket, void *unused);
LARKSPAN_MD_EXPORT CFTypeRef AMDeviceCopyValue(void *device, CFTypeRef domain, CFTypeRef key);
LARKSPAN_MD_EXPORT int AMDeviceSetValue(void *device, CFTypeRef domain, CFTypeRef key, CFTypeRef value);
LARKSPAN_MD_EXPORT CFTypeRef AMDeviceCopyDeviceIdentifier(void *device);

// The exported functions must have exactly the types the program calls them with.
static_assert(std::is_same_v<decltype(&AMDeviceNotificationSubscribe), AMDeviceNotificationSubscribeFn>);
static_assert(std::is_same_v<decltype(&AMDeviceConnect), AMDeviceFn>);
static_assert(std::is_same_v<decltype(&AMDeviceIsPaired), AMDeviceFn>);
static_assert(std::is_same_v<decltype(&AMDeviceStartService), AMDeviceStartServiceFn>);
static_assert(std::is_same_v<decltype(&AMDeviceCopyValue), AMDeviceCopyValueFn>);
static_assert(std::is_same_v<decltype(&AMDeviceSetValue), AMDeviceSetValueFn>);
static_assert(std::is_same_v<decltype(&AMDeviceCopyDeviceIdentifier), AMDeviceCopyDeviceIdentifierFn>);

namespace
{

UsbDevice *deviceOf(void *handle)
{
    return handle ? DeviceRegistry::instance().device(handle) : nullptr;
}

// An optional string argument: false when it is given but is no string.
bool optionalText(CFTypeRef value, std::string &text, bool &given)
{
    given = value != nullptr;
    return !given || textOfValue(value, text);
}

} // namespace

int AMDeviceNotificationSubscribe(DeviceNotificationCallback callback, unsigned int, unsigned int, void *context,
                                  void **notification)
{
    if (!callback || !notification)
        return kBadArgument;
    const int result = DeviceRegistry::instance().subscribe(callback, context);
    if (result == 0) {
        // The subscription lasts for the process; the handle names nothing.
        static int subscription = 0;
        *notification = &subscription;
    }
    return result;
}

int AMDeviceConnect(void *device)
{
    UsbDevice *d = deviceOf(device);
    return d ? d->connect() : kBadArgument;
}

int AMDeviceIsPaired(void *device)
{
    UsbDevice *d = deviceOf(device);
    return d && d->isPaired() ? 1 : 0;
}

int AMDevicePair(void *device)
{
    UsbDevice *d = deviceOf(device);
    return d ? d->pair() : kBadArgument;
}

int AMDeviceValidatePairing(void *device)
{
    UsbDevice *d = deviceOf(device);
    return d ? d->validatePairing() : kBadArgument;
}

int AMDeviceStartSession(void *device)
{
    UsbDevice *d = deviceOf(device);
    return d ? d->startSession() : kBadArgument;
}

int AMDeviceStopSession(void *device)
{
    UsbDevice *d = deviceOf(device);
    return d ? d->stopSession() : kBadArgument;
}

int AMDeviceDisconnect(void *device)
{
    UsbDevice *d = deviceOf(device);
    return d ? d->disconnect() : kBadArgument;
}

int AMDeviceStartService(void *device, CFTypeRef serviceName, int *socketOut, void *)
{
    UsbDevice *d = deviceOf(device);
    std::string name;
    if (!d || !socketOut || !textOfValue(serviceName, name) || name.empty())
        return kBadArgument;
    return d->startService(name, socketOut);
}

CFTypeRef AMDeviceCopyValue(void *device, CFTypeRef domain, CFTypeRef key)
{
    UsbDevice *d = deviceOf(device);
    std::string domainName, keyName;
    bool hasDomain = false, hasKey = false;
    if (!d || !optionalText(domain, domainName, hasDomain) || !optionalText(key, keyName, hasKey))
        return nullptr;
    // An empty domain is the global one, as no domain is.
    return d->copyValue(hasDomain && !domainName.empty() ? domainName.c_str() : nullptr,
                        hasKey ? keyName.c_str() : nullptr);
}

int AMDeviceSetValue(void *device, CFTypeRef domain, CFTypeRef key, CFTypeRef value)
{
    UsbDevice *d = deviceOf(device);
    std::string domainName, keyName;
    bool hasDomain = false, hasKey = false;
    if (!d || !value || !optionalText(domain, domainName, hasDomain) || !optionalText(key, keyName, hasKey))
        return kBadArgument;
    return d->setValue(hasDomain && !domainName.empty() ? domainName.c_str() : nullptr,
                       hasKey ? keyName.c_str() : nullptr, value);
}

CFTypeRef AMDeviceCopyDeviceIdentifier(void *device)
{
    UsbDevice *d = deviceOf(device);
    if (!d)
        return nullptr;
    const std::string &id = d->udid();
    return CFStringCreateWithBytes(nullptr, reinterpret_cast<const uint8_t *>(id.data()), CFIndex(id.size()),
                                   kCFEncodingUtf8, false);
}
