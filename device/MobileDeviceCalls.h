#pragma once

// The calling interface of the device library as this program uses it. The
// library is never linked: each function is looked up by name when it is
// called (amd_resolve). A device is an opaque handle that the library hands
// to the notification callback; this program never looks inside it. Error
// codes are int, 0 meaning success.

#include "CoreFoundationCalls.h"

extern "C" {

// What the notification callback receives: the device first, then what
// happened to it. The library may keep more after these two members.
struct DeviceNotificationInfo
{
    void *device;
    unsigned int message;
};

inline constexpr unsigned int kDeviceArrived = 1;
inline constexpr unsigned int kDeviceLeft = 2;

typedef void (*DeviceNotificationCallback)(const DeviceNotificationInfo *info, void *context);

typedef int (*AMDeviceNotificationSubscribeFn)(DeviceNotificationCallback callback, unsigned int unused1,
                                               unsigned int unused2, void *context, void **notification);
// AMDeviceConnect, AMDeviceIsPaired, AMDevicePair, AMDeviceValidatePairing,
// AMDeviceStartSession, AMDeviceStopSession, AMDeviceDisconnect.
typedef int (*AMDeviceFn)(void *device);
typedef int (*AMDeviceStartServiceFn)(void *device, CFTypeRef serviceName, int *socket, void *unused);
// Returns a value the caller owns, or null.
typedef CFTypeRef (*AMDeviceCopyValueFn)(void *device, CFTypeRef domain, CFTypeRef key);
typedef int (*AMDeviceSetValueFn)(void *device, CFTypeRef domain, CFTypeRef key, CFTypeRef value);
// Returns a string the caller owns.
typedef CFTypeRef (*AMDeviceCopyDeviceIdentifierFn)(void *device);

} // extern "C"
