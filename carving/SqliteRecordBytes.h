#pragma once

#include <QByteArray>
#include <QVariant>

#include <cstdint>

// The byte-level rules of the file format that the readers of Sqlite3File
// share: bounded pointer arithmetic, serial types and their values.
namespace sqlitebytes
{

std::uintptr_t addr(const uchar *p);
// Bytes from p up to end, or -1 when p does not lie before end. Pointers of
// unrelated objects are compared as addresses, so a caller's stray pointer is
// refused instead of being subtracted.
qint64 available(const uchar *p, const uchar *end);
// Content bytes of a serial type; saturates for types no file can hold.
quint64 contentSize(quint64 type);
// Well-formed UTF-8 without control characters but tab, line feed and
// carriage return.
bool isCleanUtf8(const uchar *p, qint64 n);
quint64 saturatingAdd(quint64 a, quint64 b);
// One value of a record by its serial type, read at off within bytes. Numbers
// whose bytes run past the end read as 0 and still advance by their width;
// blobs and texts are cut at the end and advance by what was taken.
QVariant decodeValue(quint64 type, const QByteArray &bytes, qint64 &off);

} // namespace sqlitebytes
