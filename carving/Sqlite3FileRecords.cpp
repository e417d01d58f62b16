#include "Sqlite3File.h"

#include <QSet>
#include <QtDebug>

#include <algorithm>
#include <vector>

#include "SqliteRecordBytes.h"

using namespace sqlitebytes;

// --- cells and records ---------------------------------------------------------

Sqlite3File::_Cell Sqlite3File::readCell(const _Page &page, const uchar *cellPtr) const
{
    _Cell c;
    if (!page.page || !inMapping(cellPtr) || addr(cellPtr) < addr(page.page))
        return c;
    const uchar *pageEnd = pageEndOf(page.page);
    const qint64 avail = available(cellPtr, pageEnd);
    if (avail <= 0)
        return c;
    const auto at = [&](qint64 off) { return cellPtr + std::min(off, avail); };

    qint64 off = 0;
    if (!page.isLeaf()) {
        c.leftChild = readBE32(cellPtr, pageEnd);
        off = 4;
        c.cellSize = 4;
    }
    quint64 v = 0;
    if (page.type & 0x0A) {
        int n = readVarint(v, at(off), pageEnd);
        if (n) {
            c.payloadSize = static_cast<qint64>(v);
            off += n;
            c.cellSize += n;
        }
        if (!page.isIndex()) {
            n = readVarint(v, at(off), pageEnd);
            if (n) {
                c.rowid = static_cast<qint64>(v);
                off += n;
                c.cellSize += n;
            }
        }
    } else {
        const int n = readVarint(v, at(off), pageEnd);
        if (n) {
            c.rowid = static_cast<qint64>(v);
            off += n;
            c.cellSize += n;
        }
    }
    c.payload = off < avail ? cellPtr + off : nullptr;
    if (c.payloadSize <= 0)
        return c;

    const qint64 u = m_usableSize;
    const qint64 minLocal = (u - 12) * 32 / 255 - 23;
    const qint64 maxLocal = page.isIndex() ? (u - 12) * 64 / 255 - 23 : u - 35;
    if (c.payloadSize <= maxLocal) {
        c.localSize = static_cast<quint32>(c.payloadSize);
        c.cellSize += c.localSize;
        return c;
    }
    const qint64 k = minLocal + (c.payloadSize - minLocal) % (u - 4);
    c.localSize = static_cast<quint32>(k <= maxLocal ? k : minLocal);
    c.overflowPage = off + c.localSize + 4 <= avail ? be32(cellPtr + off + c.localSize) : 0;
    c.cellSize += c.localSize + 4;
    return c;
}

QByteArray Sqlite3File::cellPayload(const _Cell &cell) const
{
    if (cell.payloadSize <= 0)
        return QByteArray();
    QByteArray out;
    if (cell.localSize > 0 && cell.payload)
        out = bytesAt(cell.localSize, cell.payload, pageEndOf(cell.payload));
    qint64 remaining = cell.payloadSize - static_cast<qint64>(cell.localSize);
    const quint32 pages = pageCount();
    QSet<quint32> visited;
    for (quint32 next = cell.overflowPage; remaining > 0 && next > 1 && next <= pages;) {
        if (visited.contains(next))
            break;
        visited.insert(next);
        qint64 len = 0;
        const uchar *page = currentPage(next, len);
        if (!page || len < 4)
            break;
        const quint32 following = be32(page);
        const qint64 take = std::min<qint64>(remaining, m_usableSize - 4);
        out.append(bytesAt(take, page + 4, page + len));
        remaining -= take;
        if (following <= 1)
            break;
        next = following;
    }
    return out;
}

Sqlite3File::_Row Sqlite3File::rowData(const _Cell &cell) const
{
    _Row row;
    row.rowid = cell.rowid;
    const QByteArray payload = cellPayload(cell);
    if (payload.isEmpty())
        return row;
    const auto *base = reinterpret_cast<const uchar *>(payload.constData());
    const uchar *end = base + payload.size();

    quint64 headerLength = 0;
    qint64 pos = readVarint(headerLength, base, end);
    if (pos == 0) {
        qWarning("Sqlite3File::rowData, read header length failed.");
        return row;
    }
    std::vector<quint64> types;
    while (static_cast<quint64>(pos) < headerLength) {
        quint64 type = 0;
        const int n = pos < payload.size() ? readVarint(type, base + pos, end) : 0;
        if (n == 0) {
            qWarning("Sqlite3File::rowData, read column type failed.");
            return row;
        }
        types.push_back(type);
        pos += n;
    }
    row.values.reserve(static_cast<int>(types.size()));
    for (const quint64 type : types)
        row.values.append(decodeValue(type, payload, pos));
    return row;
}
