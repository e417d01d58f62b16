#include "SqliteImage.h"

#include <QFile>

#include "Sqlite3DB.h"

#include <cstring>
#include <stdexcept>

namespace
{

QByteArray bigEndian(quint64 value, int width)
{
    QByteArray out(width, '\0');
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>(value & 0xFF);
        value >>= 8;
    }
    return out;
}

} // namespace

QByteArray sqliteVarint(quint64 value)
{
    if (value > 0x00FFFFFFFFFFFFFFULL) {
        // Nine bytes: eight groups of seven bits, then a whole byte.
        QByteArray out(9, '\0');
        out[8] = static_cast<char>(value & 0xFF);
        value >>= 8;
        for (int i = 7; i >= 0; --i) {
            out[i] = static_cast<char>((value & 0x7F) | 0x80);
            value >>= 7;
        }
        return out;
    }
    QByteArray groups;
    do {
        groups.prepend(static_cast<char>(value & 0x7F));
        value >>= 7;
    } while (value);
    for (int i = 0; i < groups.size() - 1; ++i)
        groups[i] = static_cast<char>(groups[i] | 0x80);
    return groups;
}

SqliteField SqliteField::integer(qint64 value)
{
    if (value == 0)
        return {8, {}};
    if (value == 1)
        return {9, {}};
    const qint64 limits[] = {0x7F, 0x7FFF, 0x7FFFFF, 0x7FFFFFFF, 0x7FFFFFFFFFFFLL};
    for (int t = 1; t <= 5; ++t) {
        if (value <= limits[t - 1] && value >= -limits[t - 1] - 1)
            return integerAs(static_cast<quint64>(t), value);
    }
    return integerAs(6, value);
}

SqliteField SqliteField::integerAs(quint64 type, qint64 value)
{
    static const int widths[] = {0, 1, 2, 3, 4, 6, 8};
    return {type, bigEndian(static_cast<quint64>(value), widths[type])};
}

SqliteField SqliteField::real(double value)
{
    quint64 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return {7, bigEndian(bits, 8)};
}

SqliteField SqliteField::text(const QByteArray &utf8)
{
    return {static_cast<quint64>(utf8.size()) * 2 + 13, utf8};
}

SqliteField SqliteField::blob(const QByteArray &bytes)
{
    return {static_cast<quint64>(bytes.size()) * 2 + 12, bytes};
}

QByteArray sqliteSerialTypes(const QList<SqliteField> &fields)
{
    QByteArray out;
    for (const SqliteField &f : fields)
        out += sqliteVarint(f.type);
    return out;
}

QByteArray sqliteBody(const QList<SqliteField> &fields)
{
    QByteArray out;
    for (const SqliteField &f : fields)
        out += f.body;
    return out;
}

QByteArray sqliteRecord(const QList<SqliteField> &fields)
{
    const QByteArray types = sqliteSerialTypes(fields);
    int lengthLen = 1;
    while (sqliteVarint(static_cast<quint64>(types.size() + lengthLen)).size() > lengthLen)
        ++lengthLen;
    return sqliteVarint(static_cast<quint64>(types.size() + lengthLen)) + types + sqliteBody(fields);
}

QByteArray sqliteLeafCell(qint64 rowid, const QByteArray &record)
{
    return sqliteVarint(static_cast<quint64>(record.size())) + sqliteVarint(static_cast<quint64>(rowid)) + record;
}

SqliteImage::SqliteImage(int pageSize, int pages)
    : m_pageSize(pageSize)
    , m_data(pageSize * pages, '\0')
{
    std::memcpy(m_data.data(), "SQLite format 3\0", 16);
    setStoredPageSize(pageSize == 65536 ? 1 : static_cast<quint16>(pageSize));
    m_data[18] = 1;
    m_data[19] = 1;
    m_data[21] = 64;
    m_data[22] = 32;
    m_data[23] = 32;
    putBE32(1, 28, static_cast<quint32>(pages));
    putBE32(1, 44, 4); // schema format
    putBE32(1, 56, 1); // UTF-8
    setLeafPage(1, {});
}

char *SqliteImage::page(int n)
{
    if (n < 1 || n > pages())
        throw std::out_of_range("no such page in the image");
    return m_data.data() + qint64(n - 1) * m_pageSize;
}

void SqliteImage::addPages(int count)
{
    m_data.append(QByteArray(count * m_pageSize, '\0'));
    putBE32(1, 28, static_cast<quint32>(pages()));
}

void SqliteImage::setStoredPageSize(quint16 value)
{
    putBE16(1, 16, value);
}

void SqliteImage::setReservedBytes(quint8 value)
{
    m_data[20] = static_cast<char>(value);
}

void SqliteImage::setFreelist(quint32 firstTrunk, quint32 count)
{
    putBE32(1, 32, firstTrunk);
    putBE32(1, 36, count);
}

void SqliteImage::put(int n, int offset, const QByteArray &bytes)
{
    if (offset < 0 || offset + bytes.size() > m_pageSize)
        throw std::out_of_range("bytes do not fit the page");
    std::memcpy(page(n) + offset, bytes.constData(), static_cast<size_t>(bytes.size()));
}

void SqliteImage::putBE16(int n, int offset, quint16 value)
{
    put(n, offset, bigEndian(value, 2));
}

void SqliteImage::putBE32(int n, int offset, quint32 value)
{
    put(n, offset, bigEndian(value, 4));
}

void SqliteImage::setLeafPage(int n, const QList<QByteArray> &cells, quint8 type)
{
    const int hdr = headerOffset(n);
    std::memset(page(n) + hdr, 0, static_cast<size_t>(m_pageSize - hdr));
    int content = m_pageSize;
    page(n)[hdr] = static_cast<char>(type);
    putBE16(n, hdr + 3, static_cast<quint16>(cells.size()));
    for (int i = 0; i < cells.size(); ++i) {
        content -= cells[i].size();
        put(n, content, cells[i]);
        putBE16(n, hdr + 8 + 2 * i, static_cast<quint16>(content));
    }
    if (hdr + 8 + 2 * cells.size() > content)
        throw std::out_of_range("cells do not fit the page");
    putBE16(n, hdr + 5, static_cast<quint16>(content == 65536 ? 0 : content));
}

void SqliteImage::setInteriorPage(int n, const QList<QPair<quint32, qint64>> &children, quint32 rightChild)
{
    const int hdr = headerOffset(n);
    std::memset(page(n) + hdr, 0, static_cast<size_t>(m_pageSize - hdr));
    int content = m_pageSize;
    page(n)[hdr] = 5;
    putBE16(n, hdr + 3, static_cast<quint16>(children.size()));
    putBE32(n, hdr + 8, rightChild);
    for (int i = 0; i < children.size(); ++i) {
        const QByteArray cell = bigEndian(children[i].first, 4) + sqliteVarint(static_cast<quint64>(children[i].second));
        content -= cell.size();
        put(n, content, cell);
        putBE16(n, hdr + 12 + 2 * i, static_cast<quint16>(content));
    }
    putBE16(n, hdr + 5, static_cast<quint16>(content));
}

void SqliteImage::setTrunkPage(int n, quint32 nextTrunk, const QList<quint32> &leaves, qint64 storedCount)
{
    std::memset(page(n), 0, static_cast<size_t>(m_pageSize));
    putBE32(n, 0, nextTrunk);
    putBE32(n, 4, static_cast<quint32>(storedCount < 0 ? leaves.size() : storedCount));
    for (int i = 0; i < leaves.size(); ++i)
        putBE32(n, 8 + 4 * i, leaves[i]);
}

void SqliteImage::write(const QString &path) const
{
    writeWholeFile(path, m_data);
}

void patchFile(const QString &path, qint64 offset, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || !file.seek(offset) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot patch " + path.toStdString());
}

QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return file.readAll();
}

void writeWholeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

void keepDeletedBytes(Sqlite3DB &db, int pageSize)
{
    db.executeThrow("PRAGMA secure_delete=OFF");
    db.executeThrow("PRAGMA auto_vacuum=NONE");
    if (pageSize > 0) {
        db.executeThrow(Sqlite3Sql(QStringLiteral("PRAGMA page_size=%1").arg(pageSize)));
        db.executeThrow("VACUUM");
    }
}
