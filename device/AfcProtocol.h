#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include "AfcPacketHeader.h"

// The device's file protocol on a service socket: one request, then one
// reply, strictly one after the other. Every wait has 60000 ms. Failures are
// std::runtime_error with UTF-8 text; nothing is retried, and a failure in
// the middle of a packet leaves the conversation out of step, so the caller
// closes the socket.

inline constexpr char kAfcService[] = "com.apple.afc";

// Operation codes of requests and replies.
enum AfcOperation : quint64 {
    kAfcStatus = 1,
    kAfcData = 2,
    kAfcReadDir = 3,
    kAfcRemovePath = 8,
    kAfcMakeDir = 9,
    kAfcGetFileInfo = 10,
    kAfcFileOpen = 13,
    kAfcFileHandle = 14,
    kAfcFileRead = 15,
    kAfcFileWrite = 16,
    kAfcFileClose = 20,
    kAfcReplyData = 19, // taken like data
    kAfcRenamePath = 24,
    kAfcFileLock = 27,
};

// File open modes.
inline constexpr int kAfcModeRead = 1;
inline constexpr int kAfcModeWrite = 3;

// Reads go in requests of at most this many bytes, writes in chunks of at
// most this many.
inline constexpr unsigned kAfcReadChunk = 65536;
inline constexpr unsigned kAfcWriteChunk = 32768;
// The longest reply body taken; it is read as it arrives, so a device that
// announces more than it sends costs no memory.
inline constexpr quint64 kMaxAfcReplyBody = 128u * 1024 * 1024;

// A header with the magic, the socket's packet number and the operation; the
// caller fills both lengths. The packet number is the socket handle as a
// signed 32-bit value widened to 64 bits (for handle 0 the low 32 bits all
// ones).
AfcPacketHeader afc_header(int socket, int operation);

// Sends the header, then the parameters; returns length.
int afc_send(int socket, const AfcPacketHeader &header, const char *parameters, int length);

// Reads one reply and returns its body. A status reply other than 0 throws
// unless statusOut is given, which then gets the code. header, when not null,
// gets the reply's header.
QByteArray afc_receive(int socket, AfcPacketHeader *header, int *statusOut);

// Paths are sent as UTF-8 with a terminating NUL; a path that holds a NUL
// itself is refused, since the device would act on the part before it.
qint64 afc_file_open(int socket, const QString &path, int mode); // 0 when the reply carries no handle
void afc_file_close(int socket, qint64 handle);
// Bytes read, fewer at the end of the file; a device that sends more than
// was asked for is an error.
int afc_file_read(int socket, qint64 handle, char *buffer, unsigned length);
unsigned afc_file_write(int socket, qint64 handle, const char *data, unsigned length);
// The device's status code, not thrown; 0 when the reply is no status.
int afc_file_lock(int socket, qint64 handle, int operation);
void afc_remove_path(int socket, const QString &path);
void afc_make_dir(int socket, const QString &path);
void afc_rename_path(int socket, const QString &from, const QString &to);
// Every name of the folder in the device's order, "." and ".." included.
QStringList afc_read_dir(int socket, const QString &path);
// The key-value pairs the device gives for the path ("st_size", "st_ifmt",
// "st_mtime", ...).
QMap<QString, QString> afc_get_file_info(int socket, const QString &path);
