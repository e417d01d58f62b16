#include "Sqlite3File.h"

#include <algorithm>
#include <cstring>

#include "SqliteRecordBytes.h"

using namespace sqlitebytes;

// --- bounded readers -------------------------------------------------------

quint8 Sqlite3File::readU8(const uchar *p, const uchar *end)
{
    return available(p, end) >= 1 ? *p : 0;
}

qint16 Sqlite3File::readBE16(const uchar *p, const uchar *end)
{
    return available(p, end) >= 2 ? static_cast<qint16>(be16(p)) : 0;
}

quint32 Sqlite3File::readBE32(const uchar *p, const uchar *end)
{
    return available(p, end) >= 4 ? be32(p) : 0;
}

quint64 Sqlite3File::readBE64(const uchar *p, const uchar *end)
{
    return available(p, end) >= 8 ? be64(p) : 0;
}

qint64 Sqlite3File::copyBytes(uchar *dst, qint64 n, const uchar *src, const uchar *end)
{
    const qint64 count = std::min(n, available(src, end));
    if (count <= 0 || !dst)
        return 0;
    std::memcpy(dst, src, static_cast<size_t>(count));
    return count;
}

QByteArray Sqlite3File::bytesAt(qint64 n, const uchar *src, const uchar *end)
{
    const qint64 count = std::min(n, available(src, end));
    if (count <= 0)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(src), count);
}

quint16 Sqlite3File::be16(const uchar *p)
{
    return static_cast<quint16>((p[0] << 8) | p[1]);
}

quint32 Sqlite3File::be32(const uchar *p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

quint64 Sqlite3File::be64(const uchar *p)
{
    return (quint64(be32(p)) << 32) | be32(p + 4);
}

int Sqlite3File::readVarint(quint64 &out, const uchar *p, const uchar *end)
{
    const qint64 avail = available(p, end);
    if (avail <= 0)
        return 0;
    quint64 v = 0;
    for (int i = 0; i < 8; ++i) {
        if (i >= avail)
            return 0;
        v = (v << 7) | (p[i] & 0x7F);
        if (!(p[i] & 0x80)) {
            out = v;
            return i + 1;
        }
    }
    if (avail < 9)
        return 0;
    out = (v << 8) | p[8];
    return 9;
}

int Sqlite3File::varintLength(quint64 v)
{
    int length = 1;
    while (length < 9 && v >= (quint64(1) << (7 * length)))
        ++length;
    return length;
}
