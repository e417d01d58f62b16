#pragma once

#include <QByteArray>

#include <cstdint>
#include <functional>

#include <plist/plist.h>

// The two framings the fake phone speaks, as the usbmux and lockdown
// protocols publish them, with every announced length bounded before
// anything is allocated:
//
//  - a usbmux message: a 16-byte little-endian header (whole length, protocol
//    version 1 for property lists, message type 8, tag) and an XML property
//    list;
//  - a lockdown or service message: a 4-byte big-endian length and a property
//    list.
//
// Reads and writes wait on the socket and on a stop descriptor: each returns
// false as soon as the stop descriptor becomes readable, the peer closes or a
// frame breaks a bound.
namespace MuxFrames
{

inline constexpr uint32_t kMaxMessage = 1024 * 1024;
inline constexpr uint32_t kPlistVersion = 1;
inline constexpr uint32_t kPlistMessage = 8;

bool readExactly(int fd, int stopFd, char *data, size_t length);
bool writeAll(int fd, int stopFd, const char *data, size_t length);

// A usbmux message's property list (a dictionary) and its tag; null on a
// broken or refused frame.
plist_t readMuxMessage(int fd, int stopFd, uint32_t &tag);
bool writeMuxMessage(int fd, int stopFd, plist_t message, uint32_t tag);

// One length-prefixed property list; null on a broken frame or a body that
// does not parse.
plist_t readFramed(int fd, int stopFd);
bool writeFramed(int fd, int stopFd, plist_t message);

// The XML text of a node.
QByteArray toXml(plist_t node);

} // namespace MuxFrames
