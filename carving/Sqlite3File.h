#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

#include "_SqliteCol.h"

// Reads an SQLite 3 database file page by page without the database engine:
// the header, b-tree pages, freelist trunk pages, cells and records, and
// carves rows out of the bytes the engine no longer uses (free pages, the
// unallocated area of leaf pages, freeblocks). It never writes.
//
// The file is mapped whole and read in place. Every read is bounded by the
// mapping (page structures are also bounded by their own page) or by the end
// of an assembled payload: what lies outside reads as 0, byte strings are cut,
// varints that run out decode nothing. A damaged file therefore yields zero
// fields, empty lists or short rows, never a failure; only open() throws.
// Every chain the file describes (freeblocks, b-tree children, overflow
// pages) is followed only while it stays inside the file and never visits a
// place twice, so hostile files end every walk.
//
// Pointers handed out in records point into the mapping and are valid only
// while this object lives. One object is used by one thread.
class Sqlite3File
{
public:
    // A b-tree page as its header describes it.
    struct _Page
    {
        int firstFreeblock = 0;   // page offset of the first freeblock
        int cellContentStart = 0; // page offset of the cell content area
        quint8 type = 0;          // 2, 5, 10, 13 for b-tree pages
        quint8 fragmentedBytes = 0;
        quint32 rightChild = 0;   // interior pages only
        quint32 pageNo = 0;
        const uchar *page = nullptr;   // first byte of the page (null outside the file)
        const uchar *header = nullptr; // the b-tree header: 100 bytes in on page 1
        QList<const uchar *> cells;      // in cell-pointer-array order
        QList<const uchar *> freeblocks; // in chain order

        bool isTreePage() const { return type == 2 || type == 5 || type == 10 || type == 13; }
        bool isIndex() const { return (type & 0x02) != 0; }
        bool isLeaf() const { return (type & 0x08) != 0; }
    };

    struct _Cell
    {
        qint64 rowid = 0;       // table leaf: rowid; table interior: key; index: 0
        qint64 payloadSize = 0; // 0 on table interior pages
        quint32 localSize = 0;  // payload bytes stored on the page
        quint32 leftChild = 0;  // interior pages
        quint32 overflowPage = 0;
        quint32 cellSize = 0;   // bytes the cell occupies on its page
        const uchar *payload = nullptr;
    };

    struct _Trunk
    {
        quint32 pageNo = 0;
        const uchar *page = nullptr;
        quint32 nextTrunk = 0;
        QList<quint32> leaves;
    };

    // A decoded or carved row: one value per column, column 0 first.
    struct _Row
    {
        qint64 rowid = 0;
        QList<QVariant> values;
        // Carved rows only: where the serial type of column 1 was found and
        // how many bytes from there to the end of the body lie in the range.
        const uchar *start = nullptr;
        qint64 length = 0;
        // False when the body (or its overflow chain) ran past what could be
        // read, so that its last values are cut or zero, or when a text holds
        // a control byte (tab, line feed and carriage return aside) or bytes
        // that are no UTF-8: something else's bytes.
        bool complete = true;
        // True when the bytes before the serial types still hold the record's
        // header length and column 0's type: the row is a record's own start,
        // not one found at an offset inside another.
        bool headerSeen = false;
    };

    // Decides whether a carved row is kept.
    using RowFilter = bool (*)(const _Row &row);

    explicit Sqlite3File(const QString &path);
    ~Sqlite3File();
    Sqlite3File(const Sqlite3File &) = delete;
    Sqlite3File &operator=(const Sqlite3File &) = delete;

    // Opens the file read-only, maps all of it and reads the page size.
    // Throws std::runtime_error: "open %1 failed. %2", "map %1 failed. %2",
    // or "invalid page size." for a page size SQLite cannot have written
    // (anything but a power of two from 512 to 65536, or a usable size left
    // by the reserved bytes below 480).
    void open();

    // --- bounded readers: a value is read only when all of its bytes lie
    // before end (and end is not null); otherwise the result is 0 or empty.
    static quint8 readU8(const uchar *p, const uchar *end);
    static qint16 readBE16(const uchar *p, const uchar *end);
    static quint32 readBE32(const uchar *p, const uchar *end);
    static quint64 readBE64(const uchar *p, const uchar *end);
    // Copies min(n, end - src) bytes; returns the count copied.
    static qint64 copyBytes(uchar *dst, qint64 n, const uchar *src, const uchar *end);
    // min(n, end - src) bytes; a null array when that is not positive.
    static QByteArray bytesAt(qint64 n, const uchar *src, const uchar *end);
    // Unbounded, for positions known to lie inside the mapping.
    static quint16 be16(const uchar *p);
    static quint32 be32(const uchar *p);
    static quint64 be64(const uchar *p);
    // One SQLite varint; returns the bytes used (1 to 9), or 0 when it runs
    // past end (out is then left alone).
    static int readVarint(quint64 &out, const uchar *p, const uchar *end);
    // Bytes a value needs as a varint.
    static int varintLength(quint64 v);

    const uchar *data() const { return m_data; }
    const uchar *dataEnd() const { return m_dataEnd; }
    qint64 size() const { return m_size; }
    int pageSize() const { return m_pageSize; }
    // The page size less the reserved bytes at the end of every page.
    int usableSize() const { return m_usableSize; }

    quint32 freelistTrunkPage() const;
    quint32 freelistPageCount() const;
    // Pages of the database: as many as its last commit in the images says,
    // else the whole pages in the file; 0 while closed.
    quint32 pageCount() const;

    // Page numbers count from 1. A page outside the file reads as an empty
    // record with its number.
    _Page readPage(qint64 pageNo) const;

    // Further images of pages held beside the file (the frames of its
    // write-ahead log): whole pages of the file's page size, one per number
    // in pageNos, in the log's order. The first committed of them are the
    // frames the engine reads as the database (the current log up to its
    // last commit): the last of those for each page stands for that page
    // wherever the database is read (readPage, the header, the freelist,
    // overflow chains), and the database then has committedPageCount pages
    // (0: as many as the file holds). Every image can be read with
    // readImage, and the file's own pages with readFilePage. Refused (false,
    // nothing kept) when the sizes do not agree or the file is not open.
    bool setPageImages(const QByteArray &pages, const QList<quint32> &pageNos, int committed = 0,
                       quint32 committedPageCount = 0);
    int imageCount() const { return static_cast<int>(m_imagePageNos.size()); }
    // Image i (from 0), with the page number it was written for.
    _Page readImage(int index) const;
    // The page number image i was written for; 0 for no image.
    quint32 imagePageNo(int index) const
    {
        return index >= 0 && index < m_imagePageNos.size() ? m_imagePageNos[index] : 0;
    }
    // Whether image i is the one that stands for its page.
    bool isCurrentImage(int index) const;
    // The file's own bytes of a page, whatever the images say.
    _Page readFilePage(qint64 pageNo) const;
    // The pages whose bytes in the file are not the database's any more: a
    // newer image stands for them, or the database ends before them. Their
    // bytes in the file are older images.
    QList<quint32> replacedFilePages() const;
    _Trunk readFreelistTrunk(qint64 pageNo) const;
    // The cell at cellPtr, which must lie on page; an empty record otherwise.
    _Cell readCell(const _Page &page, const uchar *cellPtr) const;
    // The whole payload: the local part and the overflow chain.
    QByteArray cellPayload(const _Cell &cell) const;
    // The record of the cell, one value per serial type its header lists.
    _Row rowData(const _Cell &cell) const;

    // The leaf pages below page, left to right (page itself when it is a
    // leaf); every page at most once.
    QList<_Page> leafPages(const _Page &page) const;
    // page and every page below it, parents before children.
    QList<_Page> treePages(const _Page &page) const;

    // Tries every offset of [start, end) as the start of the serial types of
    // a deleted record of the table tbCols describes. Column 0 is taken to be
    // the table's integer primary key, stored as NULL and not looked for; the
    // first prefixLength bytes of the body are given as value 0 instead.
    //
    // shorter: lengths of prefixes of tbCols that rows of the table can also
    // have (a column added to the table later is missing from rows written
    // before). At each offset the row is carved with the longest of tbCols
    // and these whose serial types all fit; its value count tells which.
    QList<_Row> scanRows(const QList<_SqliteCol> &tbCols, int prefixLength, int usableSize, const uchar *start,
                         const uchar *end, RowFilter filter, const QList<int> &shorter = {}) const;
    // Carves page pageNo from offset to the page's end.
    QList<_Row> scanFreePage(const QList<_SqliteCol> &tbCols, int prefixLength, qint64 pageNo, int offset,
                             RowFilter filter) const;
    // Carves what a page does not use: on a b-tree page (leaf or interior)
    // the unallocated area between the cell pointers and the cell content,
    // then each freeblock; any other page from offset 8 to its end.
    QList<_Row> scanPageFreeSpace(const QList<_SqliteCol> &tbCols, int prefixLength, const _Page &page,
                                  RowFilter filter, const QList<int> &shorter = {}) const;
    // Carves all of a page record's bytes, from its first.
    QList<_Row> scanWholePage(const QList<_SqliteCol> &tbCols, int prefixLength, const _Page &page,
                              RowFilter filter, const QList<int> &shorter = {}) const;

    // The end of the page that p lies on (in the file or an image): the last
    // page of a file cut short ends with the file. Null when p lies outside
    // both.
    const uchar *pageEndOf(const uchar *p) const;

private:
    // Offsets of a page in the mapping; false when it starts outside.
    bool pageRange(qint64 pageNo, qint64 &start, qint64 &length) const;
    // The bytes of a page of the database as it stands: the image that
    // stands for it, else the file's own; null outside both.
    const uchar *currentPage(qint64 pageNo, qint64 &length) const;
    // The bytes p lies in: the mapping or the page images.
    bool regionOf(const uchar *p, const uchar *&begin, const uchar *&end) const;
    _Page pageAt(const uchar *page, qint64 length, quint32 pageNo) const;
    bool inMapping(const uchar *p) const;
    // Child page numbers of a tree page, left to right.
    std::vector<quint32> childPages(const _Page &page) const;
    // Walks the pages below a tree page depth first, left to right, each
    // once; visit is given each page and says whether to walk below it.
    void walkBelow(const _Page &page, const std::function<bool(_Page &)> &visit) const;
    // Carving: the candidate whose serial types (shown) run from pos to cur
    // in [base, base + len), sized, assembled (its overflow chain too) and
    // decoded into row; false when its sizes rule it out.
    bool carveAt(const uchar *base, qint64 pos, qint64 len, const std::vector<quint64> &shown, qint64 cur,
                 qint64 prefix, qint64 usable, _Row &row) const;
    // Appends up to remaining bytes of the overflow chain from firstOverflow;
    // returns what is still missing.
    qint64 appendOverflow(QByteArray &bytes, quint32 firstOverflow, qint64 remaining, qint64 usable) const;
    // What each column of a list accepts, worked out once per list: the
    // scans hand the same few lists in for every page and every freeblock,
    // and the affinity tests on the declared types cost more than carving a
    // small freeblock.
    struct ColumnRules;
    const ColumnRules &columnRules(const QList<_SqliteCol> &tbCols) const;

    QFile m_file;
    qint64 m_size = 0;
    const uchar *m_data = nullptr;
    const uchar *m_dataEnd = nullptr;
    int m_pageSize = 0;
    int m_usableSize = 0;
    QByteArray m_images;
    QList<quint32> m_imagePageNos;
    // Per page number, the image that stands for it; -1 for none.
    std::vector<int> m_currentImage;
    quint32 m_committedPageCount = 0;
    mutable std::vector<std::unique_ptr<ColumnRules>> m_columnRules;
};
