#pragma once

#include <QString>

#include "CFType.h"

// DeviceLink: the message exchange of the backup and sync services. Every
// message is a property-list array whose element 0 names it, carried in the
// service socket framing. These functions keep no state between calls; the
// socket belongs to the caller, who started the service and closes it.
// Failures are std::runtime_error with UTF-8 text; failures of the framing
// pass through unchanged. After any failure the conversation is out of step
// and the caller closes the socket.

// Sent in a parameter position for which the sender has no value.
inline constexpr char kDLEmptyParameter[] = "___EmptyParameterString___";

// The handshake on a freshly started service socket; returns once the device
// has reported "DLMessageDeviceReady".
void dl_version_exchange(int socket);

// Sends ["DLMessageProcessMessage", dictionary] in binary form and returns an
// independent copy of what was sent, to be named in the failure of the reply.
// A payload that is not a dictionary is refused before anything is sent.
CFType dl_send_process_message(int socket, const CFType &dictionary);

// Sends ["DLMessageDisconnect", reason] (the empty-parameter string for an
// empty reason); reads no reply and leaves the socket open.
void dl_send_disconnect(int socket, const QString &reason);

// Receives one message whose name begins with "DL" in any letter case. The
// outputs are written only when it does.
void mobiledevice_link_sc_recv_dlmessaeg(int socket, CFType *message, QString *name, CFType request);

// Receives one "DLMessageProcessMessage" and returns an independent copy of
// its payload (empty when the message carries none); whole, when not null,
// gets the received message.
CFType mobiledevice_link_sc_recv_process_message(int socket, CFType request, CFType *whole);
