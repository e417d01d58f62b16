#pragma once

#include <QString>

// The device's relay of named system notifications. Its messages are
// property-list dictionaries in the service socket framing, sent as XML;
// received command names are compared in any letter case. The socket
// belongs to the caller.

inline constexpr char kNotificationProxyService[] = "com.apple.mobile.notification_proxy";

// Starts the service; throws as mobiledevice_start_service does.
void notification_proxy_start(void *device, int *socketOut);

// Asks the proxy to relay the named notification; reads no reply.
void mobiledevice_notification_observe(int socket, const QString &name);

// Receives one message (its body within 500 ms of its length) and returns
// the name of the relayed notification. Throws std::runtime_error when the
// proxy has ended the conversation, for any other command, and as the
// framing does.
QString mobiledevice_notification_get_throw(int socket);

// Posts one notification on the device and ends the conversation; an answer
// other than the proxy's end is only logged.
void mobiledevice_notification_post(int socket, const QString &name);
