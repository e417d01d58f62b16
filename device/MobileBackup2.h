#pragma once

#include <QString>
#include <QtGlobal>

#include "CFType.h"

// A client of the device's backup service. Its messages are DeviceLink
// process messages whose dictionary names itself under "MessageName". The
// functions keep no state between calls; the socket belongs to the caller.
// Failures are std::runtime_error with UTF-8 text; failures of lockdown, the
// framing and DeviceLink pass through unchanged, and the socket stays open.

inline constexpr char kMobileBackup2Service[] = "com.apple.mobilebackup2";

// Starts the service and runs the DeviceLink handshake. The socket is stored
// before the handshake, so after a failed handshake the caller still holds it
// and closes it.
void mobiledevice_backup2_start(void *device, int *socket);

// Offers the protocol versions (count values of versions, none for a count
// of 0 or less) and returns the one the device chose (0.0 when it names
// none).
double mobiledevice_backup2_version_exchange(int socket, const double *versions, qint8 count);

// Sets "MessageName" in the caller's dictionary and sends it as a process
// message; returns an independent copy of what was sent.
CFType mobiledevice_backup2_send_message(int socket, const QString &name, CFType &dictionary);

// Sends a request: "TargetIdentifier" always, "SourceIdentifier" when not
// empty, "Options" when given, the options' "Password" at the top level for
// "Unback" and their "CloudBackupState" for "EnableCloudBackup".
CFType mobiledevice_backup2_send_request(int socket, const QString &request, const QString &targetId,
                                         const QString &sourceId, const CFType &options);

// Receives a "Response" and returns an independent copy of its dictionary;
// errorCode gets its "ErrorCode" (0 when it has none; -1 when it holds
// something that is no 32-bit integer, which is never taken for success) and
// whole the received message. Neither is written for another message.
CFType mobiledevice_backup2_recv_response(int socket, int *errorCode, CFType request, CFType *whole);

// Receives any DeviceLink message and its name.
void mobiledevice_backup2_recv_message(int socket, CFType *message, QString *name);

// Sends ["DLMessageStatusResponse", code, status, dictionary], the
// empty-parameter string standing for an empty status and for no dictionary;
// returns an independent copy of what was sent.
CFType mobiledevice_backup2_send_status_response(int socket, int code, const QString &status, const CFType &dictionary);

// Asks for a full or an incremental backup; what the device sends next is for
// the caller to receive.
void mobiledevice_backup2_request_backup(int socket, const QString &deviceId, bool full);

// Switches the device's cloud backup on or off and requires a successful
// response.
void mobiledevice_backup2_set_cloud_backup(int socket, const QString &deviceId, bool enable);
