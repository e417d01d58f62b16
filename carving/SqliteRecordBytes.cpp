#include "SqliteRecordBytes.h"

#include <algorithm>
#include <cstring>

namespace sqlitebytes
{

std::uintptr_t addr(const uchar *p)
{
    return reinterpret_cast<std::uintptr_t>(p);
}

// Bytes from p up to end, or -1 when p does not lie before end. Pointers of
// unrelated objects are compared as addresses, so a caller's stray pointer is
// refused instead of being subtracted.
qint64 available(const uchar *p, const uchar *end)
{
    if (!p || !end || addr(p) >= addr(end))
        return -1;
    return static_cast<qint64>(addr(end) - addr(p));
}

// Content bytes of a serial type; saturates for types no file can hold.
quint64 contentSize(quint64 type)
{
    static const quint64 widths[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
    if (type < 12)
        return widths[type];
    return (type - 12) / 2;
}

// Well-formed UTF-8 without control characters but tab, line feed and
// carriage return: every lead byte followed by as many continuation bytes as
// it announces, no overlong forms, no surrogates, nothing above U+10FFFF.
// Serial types and the numbers of page structures are small bytes, so a
// text read from a place where it does not begin mostly starts with one.
bool isCleanUtf8(const uchar *p, qint64 n)
{
    for (qint64 i = 0; i < n;) {
        const uchar c = p[i];
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            return false;
        if (c < 0x80) {
            ++i;
            continue;
        }
        int more = 0;
        quint32 cp = 0;
        if ((c & 0xE0) == 0xC0) {
            more = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + more >= n)
            return false;
        for (int k = 1; k <= more; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        static const quint32 least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

quint64 saturatingAdd(quint64 a, quint64 b)
{
    const quint64 sum = a + b;
    return sum < a ? std::numeric_limits<quint64>::max() : sum;
}

// One value of a record by its serial type, read at off within bytes. Numbers
// whose bytes run past the end read as 0 and still advance by their width;
// blobs and texts are cut at the end and advance by what was taken.
QVariant decodeValue(quint64 type, const QByteArray &bytes, qint64 &off)
{
    const auto *base = reinterpret_cast<const uchar *>(bytes.constData());
    const qint64 size = bytes.size();
    const qint64 left = off < size ? size - off : 0;
    const auto big = [&](int width) -> quint64 {
        quint64 v = 0;
        if (left >= width) {
            for (int i = 0; i < width; ++i)
                v = (v << 8) | base[off + i];
        }
        return v;
    };
    const auto signExtend = [](quint64 v, int width) -> qint64 {
        const int shift = 64 - 8 * width;
        return static_cast<qint64>(v << shift) >> shift;
    };

    QVariant value;
    switch (type) {
    case 0:
    case 10:
    case 11:
        return QVariant();
    case 1:
    case 2:
    case 3:
    case 4: {
        const int width = static_cast<int>(type);
        value = QVariant(static_cast<int>(signExtend(big(width), width)));
        off += width;
        return value;
    }
    case 5:
        value = QVariant(static_cast<qlonglong>(signExtend(big(6), 6)));
        off += 6;
        return value;
    case 6:
        value = QVariant(static_cast<qlonglong>(big(8)));
        off += 8;
        return value;
    case 7: {
        const quint64 bits = big(8);
        double d = 0;
        std::memcpy(&d, &bits, sizeof d);
        off += 8;
        return QVariant(d);
    }
    case 8:
        return QVariant(0);
    case 9:
        return QVariant(1);
    default:
        break;
    }

    const quint64 want = contentSize(type);
    const qint64 take = static_cast<qint64>(std::min<quint64>(want, static_cast<quint64>(left)));
    const char *start = bytes.constData() + (take > 0 ? off : 0);
    if (type % 2 == 0) {
        value = QVariant(QByteArray(start, take));
    } else {
        const void *nul = take > 0 ? std::memchr(start, 0, static_cast<size_t>(take)) : nullptr;
        const qint64 textLen = nul ? static_cast<const char *>(nul) - start : take;
        value = QVariant(QString::fromUtf8(start, textLen));
    }
    off += take;
    return value;
}

} // namespace sqlitebytes
