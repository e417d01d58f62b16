#pragma once

// Result codes of the device library's own refusals. Refusals of the phone's
// lockdown service come through as libimobiledevice's lockdown codes
// (lockdownd_error_t, -1 to -256: -17 passcode set, -18 pairing refused on the
// phone, -19 the phone still shows its trust question, -21 unknown host,
// -27 no such service, ...); these lie below that range so that the two never
// meet. README.md lists them for the user.
inline constexpr int kDeviceGone = -1001;          // the phone left, or the daemon no longer lists it
inline constexpr int kNoDaemon = -1002;            // the usbmux daemon does not answer
inline constexpr int kNotConnected = -1003;        // a call that needs AMDeviceConnect first
inline constexpr int kNoSession = -1004;           // a call that needs AMDeviceStartSession first
inline constexpr int kServiceNeedsSsl = -1005;     // the service asks for SSL, which the program cannot speak
inline constexpr int kBadArgument = -1006;         // an unknown handle, a null or unreadable value
inline constexpr int kServiceUnreachable = -1007;  // the service's port could not be connected
inline constexpr int kNotPaired = -1008;           // no pairing record for the phone at the daemon
