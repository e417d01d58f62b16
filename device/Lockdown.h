#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "CFType.h"

// The conversation with a device's lockdown service. A session is opened and
// closed around every single request; nothing keeps one open in between.
// Failures are std::runtime_error with a UTF-8 HTML text that tells the user
// what to do and ends with the failing call and its code.

// Opens a session: connect, pair when not yet paired, validate the pairing,
// start the session. 0 on success; otherwise the failing call's code with the
// message in error, and disconnected again when the connect had succeeded.
// Never throws.
int mobiledevice_connect(void *device, QString &error);

// Stops the session and disconnects; results are ignored.
void mobiledevice_disconnect(void *device);

// Starts the named service within a session of its own and leaves its socket
// in socketOut; the caller owns the socket (mobiledevice_closesocket). The
// session is closed before a failed start is reported.
void mobiledevice_start_service(void *device, const char *serviceName, int *socketOut);

// One value per key, in the order of the keys, read in one session. An empty
// domain is the global one; an empty key reads the whole domain as one
// dictionary. A value the device lacks comes back empty.
QList<CFType> mobiledevice_copy_values(void *device, const QStringList &keys, const QString &domain);

// Writes one value within a session; returns the device's result code, which
// is not turned into an exception.
int mobiledevice_set_value(void *device, const QString &domain, const QString &key, const CFType &value);

QString mobiledevice_copy_device_identifier(void *device);
