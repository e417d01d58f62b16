// The page reader of the carving: every page, cell, payload and record of a
// database file read without the engine, the trees walked from the schema
// page, the freelist followed, and the free space carved against the column
// lists the scans use.

#include <QDir>

#include <stdexcept>

#include "FuzzSupport.h"
#include "IOS5DeletedMessageScan.h"
#include "IOS6DeletedRecordScan.h"
#include "Sqlite3File.h"

namespace
{

bool keepAll(const Sqlite3File::_Row &)
{
    return true;
}

void checkRows(const QList<Sqlite3File::_Row> &rows, int columns)
{
    for (const Sqlite3File::_Row &row : rows)
        FUZZ_CHECK(row.values.size() <= columns, QStringLiteral("a carved row has more values than columns"));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInit(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzzScratch() + QStringLiteral("/sms.db");
    fuzzWriteFile(path, fuzzBytes(data, size));
    Sqlite3File file(path);
    try {
        file.open();
    } catch (const std::runtime_error &) {
        return 0;
    }
    const QList<_SqliteCol> handleCols = ios6HandleColumns();
    const QList<_SqliteCol> messageCols = ios5MessageColumns(17);
    const quint32 pages = file.pageCount();
    FUZZ_CHECK(qint64(pages) * file.pageSize() <= file.size());
    for (quint32 no = 1; no <= pages + 1; ++no) {
        const Sqlite3File::_Page page = file.readPage(no);
        for (const uchar *cellPtr : page.cells) {
            const Sqlite3File::_Cell cell = file.readCell(page, cellPtr);
            const QByteArray payload = file.cellPayload(cell);
            FUZZ_CHECK(payload.size() <= qMax<qint64>(cell.payloadSize, 0));
            (void)file.rowData(cell);
        }
        if (page.isTreePage() && page.isLeaf() && !page.isIndex()) {
            checkRows(file.scanPageFreeSpace(handleCols, 0, page, keepAll), int(handleCols.size()));
            checkRows(file.scanPageFreeSpace(messageCols, 0, page, isRawIOS5MessageRow), int(messageCols.size()));
        }
    }
    const Sqlite3File::_Page schema = file.readPage(1);
    FUZZ_CHECK(file.treePages(schema).size() <= qsizetype(pages) + 1);
    FUZZ_CHECK(file.leafPages(schema).size() <= qsizetype(pages) + 1);

    quint32 trunk = file.freelistTrunkPage();
    for (quint32 seen = 0; trunk != 0 && seen <= pages; ++seen) {
        const Sqlite3File::_Trunk t = file.readFreelistTrunk(trunk);
        for (quint32 leaf : t.leaves)
            checkRows(file.scanFreePage(handleCols, 0, leaf, 0, keepAll), int(handleCols.size()));
        trunk = t.nextTrunk;
    }
    return 0;
}
