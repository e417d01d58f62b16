#pragma once

#include <QStringList>

// The device's file_relay service hands out groups of device files as one
// archive stream. After an acknowledged request the device writes the archive
// as raw bytes on the same socket and closes it at its end.

inline constexpr char kFileRelayService[] = "com.apple.mobile.file_relay";

// Starts the service; the caller owns the socket. Throws as
// mobiledevice_start_service does.
void file_relay_start(void *device, int *socketOut);

// Asks for the named sources ("UserDatabases") and checks the answer; throws
// std::runtime_error when the device does not acknowledge. On return the
// socket is at the start of the archive stream.
void file_relay_request(int socket, const QStringList &sources);
