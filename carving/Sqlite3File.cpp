#include "Sqlite3File.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "ColumnRule.h"
#include "SqliteRecordBytes.h"

// The class's members are defined by what they read: opening, the header and
// pages here; the bounded byte readers in Sqlite3FileReaders.cpp; cells and
// records in Sqlite3FileRecords.cpp; b-tree walks in Sqlite3FileTrees.cpp;
// carving in Sqlite3FileCarving.cpp.

using namespace sqlitebytes;

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
