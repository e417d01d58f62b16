#include "Sqlite3File.h"

#include <QSet>
#include <QtDebug>

#include <algorithm>
#include <functional>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace
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

// What a column accepts of the serial types, worked out once per column
// list: the affinity tests compare the declared type's text.
struct ColumnRule
{
    bool null = false;
    bool integer = false;
    bool real = false;
    bool blob = false;
    bool text = false;

    explicit ColumnRule(const _SqliteCol &col)
        : null(!col.anyFlag())
        , integer(col.isInteger() || col.isNumeric())
        , real(col.isReal() || col.isNumeric())
        , blob(col.isBlob())
        , text(col.isText())
    {
    }

    bool accepts(quint64 type) const
    {
        if (type == 0)
            return null;
        if (type == 7)
            return real;
        if (type <= 9)
            return integer;
        if (type <= 11)
            return true;
        return type % 2 == 0 ? blob : text;
    }
};

// Column lists whose rules are kept; the scans use at most three at a time.
constexpr size_t kKeptColumnLists = 4;

} // namespace

struct Sqlite3File::ColumnRules
{
    // Held so that the list's shared data stays alive and unchanged while it
    // identifies these rules.
    QList<_SqliteCol> columns;
    std::vector<ColumnRule> rules;
};

Sqlite3File::Sqlite3File(const QString &path)
    : m_file(path)
{
}

Sqlite3File::~Sqlite3File() = default;

void Sqlite3File::open()
{
    if (m_data) {
        m_file.unmap(const_cast<uchar *>(m_data));
        m_data = m_dataEnd = nullptr;
    }
    m_file.close();
    m_size = 0;
    m_pageSize = m_usableSize = 0;

    if (!m_file.open(QIODevice::ReadOnly))
        throw std::runtime_error(
            QStringLiteral("open %1 failed. %2").arg(m_file.fileName(), m_file.errorString()).toStdString());
    const qint64 size = m_file.size();
    // Qt cannot map nothing; an empty file simply has no page size.
    if (size > 0) {
        uchar *mapped = m_file.map(0, size);
        if (!mapped) {
            const QString error = m_file.errorString();
            m_file.close();
            throw std::runtime_error(QStringLiteral("map %1 failed. %2").arg(m_file.fileName(), error).toStdString());
        }
        m_data = mapped;
        m_dataEnd = mapped + size;
        m_size = size;
    }

    // The header stores 1 for 65536, which does not fit its two bytes.
    int pageSize = 0;
    if (m_size >= 18) {
        const int stored = be16(m_data + 16);
        pageSize = stored == 1 ? 65536 : stored;
    }
    const bool powerOfTwo = pageSize >= 512 && pageSize <= 65536 && (pageSize & (pageSize - 1)) == 0;
    const int usable = pageSize - (m_size > 20 ? m_data[20] : 0);
    if (!powerOfTwo || usable < 480) {
        m_file.unmap(const_cast<uchar *>(m_data));
        m_file.close();
        m_data = m_dataEnd = nullptr;
        m_size = 0;
        throw std::runtime_error("invalid page size.");
    }
    m_pageSize = pageSize;
    m_usableSize = usable;
}

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

// --- header ----------------------------------------------------------------

quint32 Sqlite3File::freelistTrunkPage() const
{
    qint64 len = 0;
    const uchar *first = currentPage(1, len);
    return first && len >= 36 ? be32(first + 32) : 0;
}

quint32 Sqlite3File::freelistPageCount() const
{
    qint64 len = 0;
    const uchar *first = currentPage(1, len);
    return first && len >= 40 ? be32(first + 36) : 0;
}

quint32 Sqlite3File::pageCount() const
{
    if (m_pageSize <= 0)
        return 0;
    if (m_committedPageCount > 0)
        return m_committedPageCount;
    return static_cast<quint32>(std::min<qint64>(m_size / m_pageSize, std::numeric_limits<quint32>::max()));
}

bool Sqlite3File::regionOf(const uchar *p, const uchar *&begin, const uchar *&end) const
{
    if (!p)
        return false;
    if (m_data && addr(p) >= addr(m_data) && addr(p) < addr(m_dataEnd)) {
        begin = m_data;
        end = m_dataEnd;
        return true;
    }
    const auto *images = reinterpret_cast<const uchar *>(m_images.constData());
    if (!m_images.isEmpty() && addr(p) >= addr(images) && addr(p) < addr(images + m_images.size())) {
        begin = images;
        end = images + m_images.size();
        return true;
    }
    return false;
}

bool Sqlite3File::inMapping(const uchar *p) const
{
    const uchar *begin = nullptr;
    const uchar *end = nullptr;
    return regionOf(p, begin, end);
}

bool Sqlite3File::pageRange(qint64 pageNo, qint64 &start, qint64 &length) const
{
    if (pageNo < 1 || m_pageSize <= 0 || pageNo - 1 >= (m_size + m_pageSize - 1) / m_pageSize)
        return false;
    start = (pageNo - 1) * m_pageSize;
    length = std::min<qint64>(m_pageSize, m_size - start);
    return length > 0;
}

const uchar *Sqlite3File::currentPage(qint64 pageNo, qint64 &length) const
{
    if (pageNo >= 1 && pageNo < static_cast<qint64>(m_currentImage.size()) && m_currentImage[pageNo] >= 0) {
        length = m_pageSize;
        return reinterpret_cast<const uchar *>(m_images.constData()) + qint64(m_currentImage[pageNo]) * m_pageSize;
    }
    qint64 start = 0;
    if (!pageRange(pageNo, start, length))
        return nullptr;
    return m_data + start;
}

const uchar *Sqlite3File::pageEndOf(const uchar *p) const
{
    const uchar *begin = nullptr;
    const uchar *end = nullptr;
    if (!regionOf(p, begin, end))
        return nullptr;
    const qint64 index = static_cast<qint64>(addr(p) - addr(begin)) / m_pageSize;
    return begin + std::min<qint64>((index + 1) * m_pageSize, end - begin);
}

// --- pages -----------------------------------------------------------------

Sqlite3File::_Page Sqlite3File::readPage(qint64 pageNo) const
{
    _Page r;
    if (pageNo < 1 || pageNo > std::numeric_limits<quint32>::max())
        return r;
    r.pageNo = static_cast<quint32>(pageNo);
    qint64 len = 0;
    const uchar *page = currentPage(pageNo, len);
    if (!page)
        return r;
    return pageAt(page, len, r.pageNo);
}

Sqlite3File::_Page Sqlite3File::readFilePage(qint64 pageNo) const
{
    _Page r;
    if (pageNo < 1 || pageNo > std::numeric_limits<quint32>::max())
        return r;
    r.pageNo = static_cast<quint32>(pageNo);
    qint64 start = 0;
    qint64 len = 0;
    if (!pageRange(pageNo, start, len))
        return r;
    return pageAt(m_data + start, len, r.pageNo);
}

bool Sqlite3File::setPageImages(const QByteArray &pages, const QList<quint32> &pageNos, int committed,
                                quint32 committedPageCount)
{
    m_images.clear();
    m_imagePageNos.clear();
    m_currentImage.clear();
    m_committedPageCount = 0;
    if (!m_data || m_pageSize <= 0 || pages.size() != qint64(pageNos.size()) * m_pageSize || committed < 0
        || committed > pageNos.size())
        return false;
    m_images = pages;
    m_imagePageNos = pageNos;
    if (committed == 0)
        return true;
    // Page numbers and the size come from the log and are bounded: a page
    // past the file's end exists only as an image, so the database cannot
    // be larger than the file and the committed images together.
    const qint64 filePages = m_size / m_pageSize;
    const qint64 bound = std::min<qint64>(filePages + committed, std::numeric_limits<quint32>::max());
    const qint64 databasePages = committedPageCount > 0 ? std::min<qint64>(committedPageCount, bound) : filePages;
    m_currentImage.assign(static_cast<size_t>(databasePages) + 1, -1);
    for (int i = 0; i < committed; ++i) {
        const quint32 n = pageNos[i];
        if (n >= 1 && n <= databasePages)
            m_currentImage[n] = i;
    }
    m_committedPageCount = committedPageCount > 0 ? static_cast<quint32>(databasePages) : 0;
    return true;
}

bool Sqlite3File::isCurrentImage(int index) const
{
    if (index < 0 || index >= m_imagePageNos.size())
        return false;
    const quint32 n = m_imagePageNos[index];
    return n < m_currentImage.size() && m_currentImage[n] == index;
}

QList<quint32> Sqlite3File::replacedFilePages() const
{
    QList<quint32> out;
    if (m_pageSize <= 0 || m_currentImage.empty())
        return out;
    const qint64 filePages = (m_size + m_pageSize - 1) / m_pageSize;
    for (qint64 n = 1; n <= filePages && n <= std::numeric_limits<quint32>::max(); ++n) {
        const bool replaced = n < static_cast<qint64>(m_currentImage.size()) && m_currentImage[n] >= 0;
        const bool beyond = m_committedPageCount > 0 && n > m_committedPageCount;
        if (replaced || beyond)
            out.append(static_cast<quint32>(n));
    }
    return out;
}

Sqlite3File::_Page Sqlite3File::readImage(int index) const
{
    if (index < 0 || index >= m_imagePageNos.size())
        return _Page();
    const auto *page = reinterpret_cast<const uchar *>(m_images.constData()) + qint64(index) * m_pageSize;
    return pageAt(page, m_pageSize, m_imagePageNos[index]);
}

Sqlite3File::_Page Sqlite3File::pageAt(const uchar *page, qint64 len, quint32 pageNo) const
{
    _Page r;
    r.pageNo = pageNo;
    r.page = page;
    const qint64 hdr = pageNo == 1 ? 100 : 0;
    if (hdr >= len)
        return r;
    r.header = page + hdr;

    const auto u8 = [&](qint64 off) -> quint32 { return off < len ? page[off] : 0; };
    const auto u16 = [&](qint64 off) -> quint32 { return off + 2 <= len ? be16(page + off) : 0; };
    const auto u32 = [&](qint64 off) -> quint32 { return off + 4 <= len ? be32(page + off) : 0; };

    r.type = static_cast<quint8>(u8(hdr));
    if (!r.isTreePage())
        return r;
    r.firstFreeblock = static_cast<int>(u16(hdr + 1));
    r.cellContentStart = static_cast<int>(u16(hdr + 5));
    if (r.cellContentStart == 0 && m_pageSize == 65536)
        r.cellContentStart = 65536;
    r.fragmentedBytes = static_cast<quint8>(u8(hdr + 7));
    const qint64 array = hdr + (r.isLeaf() ? 8 : 12);
    r.rightChild = r.isLeaf() ? 0 : u32(hdr + 8);

    // A count larger than the page can hold is damage: only the pointers
    // that lie on the page are read, and only those that point past the
    // array and into the page become cells.
    const qint64 fits = len > array ? (len - array) / 2 : 0;
    const qint64 count = std::min<qint64>(u16(hdr + 3), fits);
    const qint64 arrayEnd = array + 2 * count;
    r.cells.reserve(static_cast<int>(count));
    for (qint64 i = 0; i < count; ++i) {
        const qint64 off = u16(array + 2 * i);
        if (off >= arrayEnd && off < len)
            r.cells.append(page + off);
    }

    // Freeblocks lie in increasing order, each at least four bytes long; a
    // chain that goes back or leaves the page ends where it does.
    qint64 prev = arrayEnd - 4;
    for (qint64 w = r.firstFreeblock; w > 0;) {
        if (w < prev + 4 || w + 4 > len)
            break;
        r.freeblocks.append(page + w);
        prev = w;
        w = u16(w);
    }
    return r;
}

Sqlite3File::_Trunk Sqlite3File::readFreelistTrunk(qint64 pageNo) const
{
    _Trunk t;
    if (pageNo < 1 || pageNo > std::numeric_limits<quint32>::max())
        return t;
    t.pageNo = static_cast<quint32>(pageNo);
    qint64 len = 0;
    t.page = currentPage(pageNo, len);
    if (!t.page)
        return t;
    t.nextTrunk = readBE32(t.page, t.page + len);
    // A trunk page holds at most usable / 4 - 2 leaf numbers.
    const qint64 capacity = std::min<qint64>(m_usableSize / 4 - 2, len > 8 ? (len - 8) / 4 : 0);
    const qint64 count = std::min<qint64>(readBE32(t.page + std::min<qint64>(4, len), t.page + len), capacity);
    t.leaves.reserve(static_cast<int>(std::max<qint64>(count, 0)));
    for (qint64 i = 0; i < count; ++i)
        t.leaves.append(be32(t.page + 8 + 4 * i));
    return t;
}

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

// --- b-tree walks ----------------------------------------------------------

std::vector<quint32> Sqlite3File::childPages(const _Page &page) const
{
    std::vector<quint32> children;
    if (!page.isTreePage() || page.isLeaf())
        return children;
    children.reserve(static_cast<size_t>(page.cells.size()) + 1);
    for (const uchar *cell : page.cells)
        children.push_back(readBE32(cell, pageEndOf(cell)));
    children.push_back(page.rightChild);
    return children;
}

// The walk keeps its own stack rather than recursing, and visits a page at
// most once, so a child pointing back at an ancestor, or a chain of interior
// pages as long as the file, ends the walk instead of the stack.
void Sqlite3File::walkBelow(const _Page &page, const std::function<bool(_Page &)> &visit) const
{
    const quint32 pages = pageCount();
    std::vector<bool> seen(static_cast<size_t>(pages) + 1, false);
    if (page.pageNo <= pages)
        seen[page.pageNo] = true;
    std::vector<quint32> stack;
    const auto pushChildren = [&](const _Page &parent) {
        const std::vector<quint32> children = childPages(parent);
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            if (*it > 0 && *it <= pages && !seen[*it])
                stack.push_back(*it);
        }
    };
    pushChildren(page);
    while (!stack.empty()) {
        const quint32 n = stack.back();
        stack.pop_back();
        if (seen[n])
            continue;
        seen[n] = true;
        _Page child = readPage(n);
        if (visit(child))
            pushChildren(child);
    }
}

QList<Sqlite3File::_Page> Sqlite3File::leafPages(const _Page &page) const
{
    QList<_Page> out;
    if (!page.isTreePage())
        return out;
    if (page.isLeaf()) {
        out.append(page);
        return out;
    }
    walkBelow(page, [&out](_Page &child) {
        if (!child.isTreePage())
            return false;
        if (child.isLeaf()) {
            out.append(std::move(child));
            return false;
        }
        return true;
    });
    return out;
}

QList<Sqlite3File::_Page> Sqlite3File::treePages(const _Page &page) const
{
    QList<_Page> out;
    out.append(page);
    if (!page.isTreePage() || page.isLeaf())
        return out;
    walkBelow(page, [&out](_Page &child) {
        out.append(child);
        return true;
    });
    return out;
}

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
    const qint64 minLocal = (u - 12) * 32 / 255 - 23;
    const qint64 maxLocal = u - 35;
    const quint32 pages = pageCount();

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
    std::vector<quint64> lengthTypes;
    lengthTypes.reserve(allColumns);

    const uchar *base = from;
    for (qint64 pos = 0; pos < len;) {
        // The serial types of columns 1 to n-1, each fitting its column and
        // all of them inside the range.
        types.clear();
        typeEnds.clear();
        qint64 typesEnd = pos;
        for (size_t j = 1; j < allColumns; ++j) {
            quint64 type = 0;
            const int n = readVarint(type, base + typesEnd, base + len);
            if (n == 0 || !rules[j].accepts(type))
                break;
            typesEnd += n;
            types.push_back(type);
            typeEnds.push_back(typesEnd);
        }
        // Each length whose columns all fit, longest first: the caller
        // tells which of them the bytes are.
        const size_t fitting = types.size() + 1;
        for (const size_t columns : lengths) {
            if (columns > fitting || columns < 2)
                continue;
            std::vector<quint64> &shown = lengthTypes;
            shown.assign(types.begin(), types.begin() + static_cast<std::ptrdiff_t>(columns - 1));
            const qint64 cur = typeEnds[columns - 2];
            // Zeroed bytes read as NULL types for columns that allow NULL; such
            // a candidate holds nothing but would be offered at every offset.
            if (std::all_of(shown.begin(), shown.end(), [](quint64 t) { return t == 0; }))
                continue;

            // No record is larger than the file that holds it.
            quint64 bodySize = static_cast<quint64>(prefix);
            for (const quint64 type : shown)
                bodySize = saturatingAdd(bodySize, contentSize(type));
            if (bodySize > static_cast<quint64>(m_size)) {
                continue;
            }
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
                if (localBody < 0 || at + 4 > len) {
                    continue;
                }
                firstOverflow = be32(base + at);
                if (firstOverflow < 1 || firstOverflow > pages) {
                    continue;
                }
            }

            const qint64 take = std::min(localBody, len - cur);
            QByteArray bytes = bytesAt(take, base + cur, base + len);
            bool complete = take == localBody;
            if (spilled) {
                qint64 remaining = body - take;
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
                    const qint64 chunk = std::min<qint64>(remaining, u - 4);
                    bytes.append(bytesAt(chunk, page + 4, page + pageLen));
                    remaining -= chunk;
                    d = following;
                }
                complete = complete && remaining <= 0 && qint64(bytes.size()) == body;
            }

            _Row row;
            row.start = base + pos;
            row.length = cur - pos + take;
            row.complete = complete;
            row.values.reserve(static_cast<int>(columns));
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
            row.complete = complete;

            // A record whose cell is still whole is preceded by its payload
            // size, its rowid, its header length and column 0's type. The rowid
            // is taken only when all four agree with the record found, and only
            // from bytes of the range (a freeblock's first four bytes are its
            // own link and size).
            if (pos >= 1) {
                const quint64 col0 = base[pos - 1];
                const qint64 lengthAt = pos - 1 - lengthLen;
                quint64 v = 0;
                const bool col0Fits = prefix == 0 ? col0 == 0 : col0 < 0x80 && contentSize(col0) == quint64(prefix);
                if (col0Fits && lengthAt >= 0
                    && readVarint(v, base + lengthAt, base + pos - 1) == lengthLen && v == quint64(headerLen))
                    row.headerSeen = true;
                if (row.headerSeen && lengthAt >= 1) {
                    const qint64 rowidEnd = lengthAt;
                    qint64 rowidAt = rowidEnd - 1;
                    if (base[rowidAt] < 0x80) {
                        while (rowidAt > 0 && rowidEnd - rowidAt < 8 && base[rowidAt - 1] >= 0x80)
                            --rowidAt;
                        quint64 rowid = 0;
                        const int sizeLen = varintLength(static_cast<quint64>(payloadSize));
                        quint64 size = 0;
                        if (readVarint(rowid, base + rowidAt, base + rowidEnd) == rowidEnd - rowidAt
                            && rowidAt - sizeLen >= 0
                            && readVarint(size, base + rowidAt - sizeLen, base + rowidAt) == sizeLen
                            && size == quint64(payloadSize) && rowid > 0
                            && rowid <= quint64(std::numeric_limits<qint64>::max()))
                            row.rowid = static_cast<qint64>(rowid);
                    }
                }
            }

            if (!filter || filter(row))
                out.append(std::move(row));
        }
        // Kept or not, the next byte is tried as well: a candidate made of
        // bytes that are no record can run into the record behind it, and
        // jumping past the candidate would lose that record.
        ++pos;
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
