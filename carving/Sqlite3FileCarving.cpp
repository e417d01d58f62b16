#include "Sqlite3File.h"

#include <QSet>
#include <QtDebug>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>

#include "ColumnRule.h"
#include "SqliteRecordBytes.h"

using namespace sqlitebytes;

namespace
{

// Column lists whose rules are kept; the scans use at most three at a time.
constexpr size_t kKeptColumnLists = 4;

} // namespace

// --- carving ---------------------------------------------------------------

const Sqlite3File::ColumnRules &Sqlite3File::columnRules(const QList<_SqliteCol> &tbCols) const
{
    // A list is known by its shared data: the copy kept here holds that data,
    // so it can neither be freed and reused for another list nor changed (a
    // caller that changes its list detaches from it first). The same data
    // therefore means the same columns.
    for (const auto &kept : m_columnRules) {
        if (kept->columns.constData() == tbCols.constData() && kept->columns.size() == tbCols.size())
            return *kept;
    }
    auto made = std::make_unique<ColumnRules>();
    made->columns = tbCols;
    made->rules.reserve(static_cast<size_t>(tbCols.size()));
    for (const _SqliteCol &col : tbCols)
        made->rules.emplace_back(col);
    if (m_columnRules.size() >= kKeptColumnLists)
        m_columnRules.erase(m_columnRules.begin());
    m_columnRules.push_back(std::move(made));
    return *m_columnRules.back();
}

namespace
{

// The serial types of columns 1 to n-1 from pos on, each fitting its column
// and all of them inside the range: types and where each one ends.
void matchSerialTypes(const std::vector<ColumnRule> &rules, const uchar *base, qint64 pos, qint64 len,
                      std::vector<quint64> &types, std::vector<qint64> &typeEnds)
{
    types.clear();
    typeEnds.clear();
    qint64 typesEnd = pos;
    for (size_t j = 1; j < rules.size(); ++j) {
        quint64 type = 0;
        const int n = Sqlite3File::readVarint(type, base + typesEnd, base + len);
        if (n == 0 || !rules[j].accepts(type))
            break;
        typesEnd += n;
        types.push_back(type);
        typeEnds.push_back(typesEnd);
    }
}

// Value 0 (the prefix, or NULL) and one value per serial type from the
// assembled body. complete turns false when a text is no clean UTF-8.
void decodeCarvedValues(Sqlite3File::_Row &row, const std::vector<quint64> &shown, const QByteArray &bytes,
                        qint64 prefix, bool &complete)
{
    qint64 off = 0;
    if (prefix < 1) {
        row.values.append(QVariant());
    } else {
        row.values.append(QVariant(bytes.left(static_cast<int>(std::min<qint64>(prefix, bytes.size())))));
        off = prefix;
    }
    for (const quint64 type : shown) {
        // A NUL or another control byte inside a text, or bytes that
        // are no UTF-8, are none of the text's: no writer of message
        // text puts them there, but other bytes do, such as a
        // freeblock's link and size written over a deleted record by
        // a later deletion.
        if (type >= 13 && type % 2 == 1 && complete) {
            const qint64 n = static_cast<qint64>(contentSize(type));
            const qint64 from = std::min<qint64>(off, bytes.size());
            const qint64 have = std::min<qint64>(n, bytes.size() - from);
            if (have > 0 && !isCleanUtf8(reinterpret_cast<const uchar *>(bytes.constData()) + from, have))
                complete = false;
        }
        row.values.append(decodeValue(type, bytes, off));
    }
}

// A record whose cell is still whole is preceded by its payload size, its
// rowid, its header length and column 0's type. The rowid is taken only
// when all four agree with the record found, and only from bytes of the
// range (a freeblock's first four bytes are its own link and size).
void readCellPrefix(Sqlite3File::_Row &row, const uchar *base, qint64 pos, int lengthLen, qint64 headerLen,
                    qint64 payloadSize, qint64 prefix)
{
    if (pos < 1)
        return;
    const quint64 col0 = base[pos - 1];
    const qint64 lengthAt = pos - 1 - lengthLen;
    quint64 v = 0;
    const bool col0Fits = prefix == 0 ? col0 == 0 : col0 < 0x80 && contentSize(col0) == quint64(prefix);
    if (col0Fits && lengthAt >= 0
        && Sqlite3File::readVarint(v, base + lengthAt, base + pos - 1) == lengthLen && v == quint64(headerLen))
        row.headerSeen = true;
    if (!row.headerSeen || lengthAt < 1)
        return;
    const qint64 rowidEnd = lengthAt;
    qint64 rowidAt = rowidEnd - 1;
    if (base[rowidAt] >= 0x80)
        return;
    while (rowidAt > 0 && rowidEnd - rowidAt < 8 && base[rowidAt - 1] >= 0x80)
        --rowidAt;
    quint64 rowid = 0;
    const int sizeLen = Sqlite3File::varintLength(static_cast<quint64>(payloadSize));
    quint64 size = 0;
    if (Sqlite3File::readVarint(rowid, base + rowidAt, base + rowidEnd) == rowidEnd - rowidAt && rowidAt - sizeLen >= 0
        && Sqlite3File::readVarint(size, base + rowidAt - sizeLen, base + rowidAt) == sizeLen
        && size == quint64(payloadSize) && rowid > 0 && rowid <= quint64(std::numeric_limits<qint64>::max()))
        row.rowid = static_cast<qint64>(rowid);
}

} // namespace

qint64 Sqlite3File::appendOverflow(QByteArray &bytes, quint32 firstOverflow, qint64 remaining, qint64 usable) const
{
    const quint32 pages = pageCount();
    QSet<quint32> visited;
    for (quint32 d = firstOverflow; d > 1 && remaining > 0;) {
        if (visited.contains(d))
            break;
        visited.insert(d);
        qint64 pageLen = 0;
        const uchar *page = currentPage(d, pageLen);
        if (!page || pageLen < 4)
            break;
        const quint32 following = be32(page);
        if (following > pages)
            break;
        const qint64 chunk = std::min<qint64>(remaining, usable - 4);
        bytes.append(bytesAt(chunk, page + 4, page + pageLen));
        remaining -= chunk;
        d = following;
    }
    return remaining;
}

bool Sqlite3File::carveAt(const uchar *base, qint64 pos, qint64 len, const std::vector<quint64> &shown, qint64 cur,
                          qint64 prefix, qint64 u, _Row &row) const
{
    const qint64 minLocal = (u - 12) * 32 / 255 - 23;
    const qint64 maxLocal = u - 35;
    const quint32 pages = pageCount();

    // No record is larger than the file that holds it.
    quint64 bodySize = static_cast<quint64>(prefix);
    for (const quint64 type : shown)
        bodySize = saturatingAdd(bodySize, contentSize(type));
    if (bodySize > static_cast<quint64>(m_size))
        return false;
    const qint64 body = static_cast<qint64>(bodySize);
    // The record header: its length varint, column 0's type, the rest.
    const qint64 typesLen = cur - pos + 1;
    int lengthLen = 1;
    while (varintLength(static_cast<quint64>(typesLen + lengthLen)) > lengthLen)
        ++lengthLen;
    const qint64 headerLen = typesLen + lengthLen;
    const qint64 payloadSize = headerLen + body;

    qint64 localBody = body;
    quint32 firstOverflow = 0;
    const bool spilled = payloadSize > maxLocal;
    if (spilled) {
        const qint64 k = minLocal + (payloadSize - minLocal) % (u - 4);
        localBody = (k <= maxLocal ? k : minLocal) - headerLen;
        const qint64 at = cur + localBody;
        if (localBody < 0 || at + 4 > len)
            return false;
        firstOverflow = be32(base + at);
        if (firstOverflow < 1 || firstOverflow > pages)
            return false;
    }

    const qint64 take = std::min(localBody, len - cur);
    QByteArray bytes = bytesAt(take, base + cur, base + len);
    bool complete = take == localBody;
    if (spilled) {
        const qint64 remaining = appendOverflow(bytes, firstOverflow, body - take, u);
        complete = complete && remaining <= 0 && qint64(bytes.size()) == body;
    }

    row.start = base + pos;
    row.length = cur - pos + take;
    row.values.reserve(static_cast<int>(shown.size() + 1));
    decodeCarvedValues(row, shown, bytes, prefix, complete);
    row.complete = complete;
    readCellPrefix(row, base, pos, lengthLen, headerLen, payloadSize, prefix);
    return true;
}

QList<Sqlite3File::_Row> Sqlite3File::scanRows(const QList<_SqliteCol> &tbCols, int prefixLength, int usableSize,
                                               const uchar *start, const uchar *end, RowFilter filter,
                                               const QList<int> &shorter) const
{
    QList<_Row> out;
    // Only bytes of the mapping or of one page image are carved.
    if (!m_data || !start || !end)
        return out;
    const uchar *regionBegin = m_data;
    const uchar *regionEnd = m_dataEnd;
    if (!regionOf(start, regionBegin, regionEnd)) {
        regionBegin = m_data;
        regionEnd = m_dataEnd;
    }
    const uchar *from = addr(start) < addr(regionBegin) ? regionBegin : start;
    const uchar *to = addr(end) > addr(regionEnd) ? regionEnd : end;
    const qint64 len = available(from, to);
    if (len <= 0 || !inMapping(from))
        return out;
    if (tbCols.size() < 2) {
        qWarning("tbCols size < 2.");
        return out;
    }
    const qint64 u = usableSize;
    if (u < 480 || u > m_pageSize)
        return out;
    const qint64 prefix = std::max(prefixLength, 0);

    const std::vector<ColumnRule> &rules = columnRules(tbCols).rules;
    const size_t allColumns = rules.size();
    // The lengths a row may have, longest first; none below 2.
    std::vector<size_t> lengths{allColumns};
    for (const int n : shorter) {
        if (n >= 2 && size_t(n) < allColumns)
            lengths.push_back(size_t(n));
    }
    std::sort(lengths.begin(), lengths.end(), std::greater<size_t>());
    std::vector<quint64> types;
    types.reserve(allColumns);
    std::vector<qint64> typeEnds;
    typeEnds.reserve(allColumns);
    std::vector<quint64> shown;
    shown.reserve(allColumns);

    const uchar *base = from;
    for (qint64 pos = 0; pos < len; ++pos) {
        matchSerialTypes(rules, base, pos, len, types, typeEnds);
        // Each length whose columns all fit, longest first: the caller
        // tells which of them the bytes are.
        const size_t fitting = types.size() + 1;
        for (const size_t columns : lengths) {
            if (columns > fitting || columns < 2)
                continue;
            shown.assign(types.begin(), types.begin() + static_cast<std::ptrdiff_t>(columns - 1));
            // Zeroed bytes read as NULL types for columns that allow NULL; such
            // a candidate holds nothing but would be offered at every offset.
            if (std::all_of(shown.begin(), shown.end(), [](quint64 t) { return t == 0; }))
                continue;
            _Row row;
            if (!carveAt(base, pos, len, shown, typeEnds[columns - 2], prefix, u, row))
                continue;
            if (!filter || filter(row))
                out.append(std::move(row));
        }
        // Kept or not, the next byte is tried as well: a candidate made of
        // bytes that are no record can run into the record behind it, and
        // jumping past the candidate would lose that record.
    }
    return out;
}

QList<Sqlite3File::_Row> Sqlite3File::scanFreePage(const QList<_SqliteCol> &tbCols, int prefixLength, qint64 pageNo,
                                                   int offset, RowFilter filter) const
{
    qint64 len = 0;
    const uchar *page = currentPage(pageNo, len);
    if (!page)
        return {};
    const qint64 from = std::clamp<qint64>(offset, 0, len);
    // The range stops at the page's own end: the next page is carved as
    // itself, not as the tail of this one.
    return scanRows(tbCols, prefixLength, m_usableSize, page + from, page + len, filter);
}

QList<Sqlite3File::_Row> Sqlite3File::scanPageFreeSpace(const QList<_SqliteCol> &tbCols, int prefixLength,
                                                        const _Page &page, RowFilter filter,
                                                        const QList<int> &shorter) const
{
    if (!page.isTreePage()) {
        // The page's own bytes: those of the file, or of an image.
        const uchar *pageEnd = pageEndOf(page.page);
        if (!pageEnd || pageEnd - page.page <= 8)
            return {};
        return scanRows(tbCols, prefixLength, m_usableSize, page.page + 8, pageEnd, filter, shorter);
    }
    QList<_Row> out;
    if (!inMapping(page.page) || !inMapping(page.header))
        return out;
    const uchar *pageEnd = pageEndOf(page.page);
    const qint64 len = pageEnd - page.page;
    const qint64 hdr = page.header - page.page;

    // The unallocated area begins where the cell pointer array ends. An
    // interior page's header is four bytes longer (its right child); a root
    // that was a leaf before its table grew still holds that leaf's cells
    // there.
    const qint64 headerSize = page.isLeaf() ? 8 : 12;
    const qint64 fits = len > hdr + headerSize ? (len - hdr - headerSize) / 2 : 0;
    const qint64 count = std::min<qint64>(static_cast<quint16>(readBE16(page.header + 3, pageEnd)), fits);
    const qint64 arrayEnd = hdr + headerSize + 2 * count;
    if (page.cellContentStart > 0) {
        const qint64 contentStart = std::min<qint64>(page.cellContentStart, len);
        if (arrayEnd < contentStart)
            out += scanRows(tbCols, prefixLength, m_usableSize, page.page + arrayEnd, page.page + contentStart,
                            filter, shorter);
    }
    for (const uchar *block : page.freeblocks) {
        if (!inMapping(block) || available(block, pageEnd) < 4)
            continue;
        const qint64 size = be16(block + 2);
        const qint64 at = block - page.page;
        const qint64 blockEnd = std::min<qint64>(at + size, len);
        if (blockEnd > at + 4)
            out += scanRows(tbCols, prefixLength, m_usableSize, block + 4, page.page + blockEnd, filter, shorter);
    }
    return out;
}

QList<Sqlite3File::_Row> Sqlite3File::scanWholePage(const QList<_SqliteCol> &tbCols, int prefixLength,
                                                    const _Page &page, RowFilter filter,
                                                    const QList<int> &shorter) const
{
    const uchar *pageEnd = pageEndOf(page.page);
    if (!pageEnd)
        return {};
    return scanRows(tbCols, prefixLength, m_usableSize, page.page, pageEnd, filter, shorter);
}
