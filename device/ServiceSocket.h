#pragma once

#include <QtGlobal>

#include "CFType.h"

// The framing every device service speaks on its stream socket: a 4-byte
// big-endian body length, then one property list (XML or binary). The socket
// belongs to the caller, who closes it with mobiledevice_closesocket.

// The longest body mobiledevice_recmsg accepts. The body is read as it
// arrives, so a peer that announces more than it sends costs no memory.
inline constexpr quint32 kMaxServiceMessageLength = 128u * 1024 * 1024;

// Waits until the socket is readable (forRead) or writable; a timeoutMs below
// 1 waits without limit. 1 ready, 0 timed out, negative on error.
int socket_wait(int socket, int timeoutMs, bool forRead);

// Sends the buffer, waiting up to timeoutMs before each part; the count sent,
// short on a time-out, a closed peer or an error. 0 for a length of 0 or less.
int send_data(int socket, const char *data, int length, int timeoutMs);

// Receives until length bytes are in; the time-out applies to each wait. The
// count received, short on a time-out, the end of the stream or an error.
int receive_data(int socket, char *buffer, int length, int timeoutMs);

// Sends one framed message, binary or XML; throws std::runtime_error when it
// cannot be sent whole or cannot be written as a property list.
void mobiledevice_sendmsg(int socket, const CFType &message, bool binary, int timeoutMs);

// Receives one framed message: the length within 60000 ms whatever timeoutMs
// is, the body within timeoutMs per wait (below 1: without limit). A body that
// does not parse gives an empty value. Throws std::runtime_error when the
// message does not arrive whole or announces more than
// kMaxServiceMessageLength; request, when not empty, is the message this one
// answers and is named in the error.
CFType mobiledevice_recmsg(int socket, const CFType &request, int timeoutMs);

int mobiledevice_closesocket(int socket);
