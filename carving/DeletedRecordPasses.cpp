#include "DeletedRecordPasses.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "MessageRecycleDb.h"
#include "ProgressForm.h"
#include "Sqlite3DB.h"

namespace
{

using Page = Sqlite3File::_Page;

// Every page the freelist names: its trunks and their leaves.
std::vector<bool> freePages(const Sqlite3File &file)
{
    const quint32 count = file.pageCount();
    std::vector<bool> free(static_cast<size_t>(count) + 1, false);
    for (quint32 trunk = file.freelistTrunkPage(); trunk > 0 && trunk <= count && !free[trunk];) {
        free[trunk] = true;
        const Sqlite3File::_Trunk t = file.readFreelistTrunk(trunk);
        for (const quint32 leaf : t.leaves) {
            if (leaf > 0 && leaf <= count)
                free[leaf] = true;
        }
        trunk = t.nextTrunk;
    }
    return free;
}

// Calls visit for page and each tree page below it, parents before
// children, left to right, skipping pages an earlier walk of the same pass
// reached. False when visit asked to stop.
bool forEachTreePage(const Sqlite3File &file, const Page &page, std::vector<bool> &walked,
                 const std::function<bool(const Page &)> &visit)
{
    const quint32 count = file.pageCount();
    const auto fresh = [&](quint32 n) { return n > 0 && n <= count && !walked[n]; };
    if (page.pageNo <= count) {
        if (walked[page.pageNo])
            return true;
        walked[page.pageNo] = true;
    }
    std::vector<Page> stack;
    stack.push_back(page);
    while (!stack.empty()) {
        const Page current = std::move(stack.back());
        stack.pop_back();
        if (!current.isTreePage())
            continue;
        if (!visit(current))
            return false;
        if (current.isLeaf())
            continue;
        std::vector<quint32> children;
        for (const uchar *cell : current.cells)
            children.push_back(file.readCell(current, cell).leftChild);
        children.push_back(current.rightChild);
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            if (fresh(*it)) {
                walked[*it] = true;
                stack.push_back(file.readPage(*it));
            }
        }
    }
    return true;
}

// One page the carving pass goes through: a page of the database as it
// stands, an image of the log, or an older page of the file.
struct ScanPage
{
    enum Kind { Current, Image, FilePage } kind = Current;
    quint32 number = 0; // page number, or image index
};

QList<ScanPage> scanPages(const QList<quint32> &pages, const Sqlite3File &file)
{
    QList<ScanPage> out;
    const QList<quint32> replaced = file.replacedFilePages();
    out.reserve(pages.size() + file.imageCount() + replaced.size());
    QSet<quint32> taken;
    for (const quint32 n : pages) {
        out.append({ScanPage::Current, n});
        taken.insert(n);
    }
    for (int i = 0; i < file.imageCount(); ++i) {
        if (file.isCurrentImage(i) && taken.contains(file.imagePageNo(i)))
            continue;
        out.append({ScanPage::Image, static_cast<quint32>(i)});
    }
    for (const quint32 n : replaced)
        out.append({ScanPage::FilePage, n});
    return out;
}

Page readScanPage(const Sqlite3File &file, const ScanPage &page)
{
    switch (page.kind) {
    case ScanPage::Image:
        return file.readImage(static_cast<int>(page.number));
    case ScanPage::FilePage:
        return file.readFilePage(page.number);
    case ScanPage::Current:
        break;
    }
    return file.readPage(page.number);
}

int ageOf(const ScanPage &page)
{
    switch (page.kind) {
    case ScanPage::Image:
        return 1 + static_cast<int>(page.number);
    case ScanPage::FilePage:
        return kOldestAge;
    case ScanPage::Current:
        break;
    }
    return kCurrentAge;
}

// Lets the recycle database's connection keep a scan's writes (tens of
// thousands of rows and their indexes, in one transaction) in memory until
// the commit instead of spilling them to its file on the way.
void holdWritesInMemory(MessageRecycleDb &recycle)
{
    recycle.ensureOpen();
    QString ignored;
    recycle.exec(QStringLiteral("PRAGMA cache_size=-65536"), ignored);
}

} // namespace

bool scanCancelled(const QObject *form)
{
    return form && ProgressForm::isCancelled(form);
}

void postScanProgress(QObject *form, int index, int total)
{
    if (!form || total <= 0)
        return;
    const int percent = static_cast<int>(static_cast<double>(index) / total * 100);
    ProgressForm::postUpdateProgress(form, QString(), percent, QString());
}

void freelistPass(const Sqlite3File &file, QObject *form, QList<quint32> &pages,
                  const std::function<void(const Sqlite3File::_Page &page, const Sqlite3File::_Cell &cell)> &onCell)
{
    const quint32 count = file.pageCount();
    std::vector<bool> trunks(static_cast<size_t>(count) + 1, false);
    std::vector<bool> walked(static_cast<size_t>(count) + 1, false);
    std::vector<bool> free;
    for (quint32 trunk = file.freelistTrunkPage(); trunk > 0 && trunk <= count && !trunks[trunk];) {
        if (scanCancelled(form))
            return;
        if (free.empty())
            free = freePages(file);
        trunks[trunk] = true;
        pages.append(trunk);
        const Sqlite3File::_Trunk t = file.readFreelistTrunk(trunk);
        trunk = t.nextTrunk;
        for (const quint32 leaf : t.leaves) {
            if (scanCancelled(form))
                return;
            // A leaf number outside the file names nothing to carve.
            if (leaf < 1 || leaf > count)
                continue;
            const Page page = file.readPage(leaf);
            if (!page.isTreePage()) {
                pages.append(leaf);
                continue;
            }
            const bool goOn = forEachTreePage(file, page, walked, [&](const Page &found) {
                if (scanCancelled(form))
                    return false;
                pages.append(found.pageNo);
                if (found.type == 13 && found.pageNo <= count && free[found.pageNo]) {
                    for (const uchar *cell : found.cells)
                        onCell(found, file.readCell(found, cell));
                }
                return true;
            });
            if (!goOn)
                return;
        }
    }
}

SchemaEntry schemaEntry(Sqlite3DB &db, const QString &table)
{
    SchemaEntry entry;
    Sqlite3Cursor cursor = db.queryThrow(
        Sqlite3Sql("select rootpage, sql from sqlite_master where type='table' and name=?").addTextParam(table));
    if (cursor.moveNext()) {
        entry.rootPage = cursor.getInt64(QStringLiteral("rootpage"));
        entry.sql = cursor.getText(QStringLiteral("sql"));
    }
    return entry;
}

void appendTreePages(const Sqlite3File &file, qint64 rootPage, QList<quint32> &pages)
{
    const Page root = file.readPage(rootPage);
    if (!root.isTreePage())
        return;
    for (const Page &page : file.treePages(root)) {
        if (page.isTreePage())
            pages.append(page.pageNo);
    }
}

WriteAheadLog readLogOf(const QString &dbPath)
{
    return WriteAheadLog::read(dbPath + QStringLiteral("-wal"));
}

void attachLog(Sqlite3File &file, const WriteAheadLog &log)
{
    if (!log.valid() || log.pageSize() != file.pageSize())
        return;
    QList<quint32> pageNos;
    const QByteArray images = log.allPageImages(pageNos);
    file.setPageImages(images, pageNos, log.committedFrameCount(), log.committedPageCount());
}

std::unique_ptr<LiveCopy> openForScan(const QString &dbPath, Sqlite3File &file)
{
    const WriteAheadLog log = readLogOf(dbPath);
    file.open();
    // The file keeps its own copy of the images.
    attachLog(file, log);
    // A log whose page size is not the file's is none the engine would use.
    const bool logUsed = log.valid() && log.pageSize() == file.pageSize();
    return std::make_unique<LiveCopy>(file.data(), file.size(), logUsed ? log.bytes() : QByteArray());
}

void inScanTransaction(MessageRecycleDb &recycle, const std::function<void()> &work)
{
    holdWritesInMemory(recycle);
    recycle.beginTransaction();
    try {
        work();
        recycle.endTransaction(true);
    } catch (...) {
        // The scan's own error is the one to report, not a failed rollback.
        try {
            recycle.endTransaction(false);
        } catch (const std::exception &) {
        }
        throw;
    }
}

bool carvingPass(const Sqlite3File &file, QObject *form, const QList<quint32> &pages,
                 const QList<QList<_SqliteCol>> &lists,
                 const std::function<void(const Sqlite3File::_Cell &cell, int age)> &onImageCell,
                 const std::function<void(const Sqlite3File::_Page &page, int age)> &carve, bool postProgress)
{
    if (lists.isEmpty())
        return true;
    const QList<ScanPage> items = scanPages(withoutRepeats(pages), file);
    const int total = static_cast<int>(items.size());
    const int fewest = static_cast<int>(lists.last().size());
    const int most = static_cast<int>(lists.first().size());
    for (int i = 0; i < total; ++i) {
        if (scanCancelled(form))
            return false;
        if (postProgress)
            postScanProgress(form, i + 1, total);
        const Page page = readScanPage(file, items[i]);
        const bool image = items[i].kind != ScanPage::Current;
        const int age = ageOf(items[i]);
        if (image && !imageMayHoldRows(file, page, fewest, most))
            continue;
        // The live cells of an older image of a page: deleted rows when the
        // live table no longer has them.
        if (image && page.type == 13) {
            for (const uchar *cell : page.cells) {
                const Sqlite3File::_Cell c = file.readCell(page, cell);
                const int n = recordValueCount(file, page, c);
                if (n >= fewest && n <= most)
                    onImageCell(c, age);
            }
        }
        carve(page, age);
    }
    return true;
}

QList<CarvedRow> carveBest(const Sqlite3File &file, const Sqlite3File::_Page &page,
                           const QList<QList<_SqliteCol>> &lists,
                           const std::function<int(const Sqlite3File::_Row &row, int list)> &accept)
{
    QList<CarvedRow> chosen;
    if (lists.isEmpty())
        return chosen;
    // The shorter lists are prefixes of the first: one pass gives, at each
    // place, a row for every list whose serial types fit, longest first.
    QList<int> shorter;
    for (int i = 1; i < lists.size(); ++i)
        shorter.append(static_cast<int>(lists[i].size()));
    const QList<Sqlite3File::_Row> rows = page.isTreePage()
        ? file.scanPageFreeSpace(lists[0], 0, page, nullptr, shorter)
        : file.scanWholePage(lists[0], 0, page, nullptr, shorter);
    const auto listOf = [&](const Sqlite3File::_Row &row) {
        int list = 0;
        while (list + 1 < lists.size() && lists[list].size() != row.values.size())
            ++list;
        return list;
    };
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype j = i;
        while (j < rows.size() && rows[j].start == rows[i].start)
            ++j;
        // A whole row whose record header stands in front is the record.
        bool done = false;
        for (qsizetype k = i; k < j && !done; ++k) {
            const Sqlite3File::_Row &row = rows[k];
            if (!row.headerSeen || !row.complete)
                continue;
            const int token = accept(row, listOf(row));
            if (token >= 0) {
                chosen.append({row, listOf(row), token});
                done = true;
            }
        }
        // Else the first whole one in list order, but none shorter than a
        // cut one whose header stands in front: that record is cut, and the
        // shorter lists read its bytes at the wrong places.
        for (qsizetype k = i; k < j && !done; ++k) {
            const Sqlite3File::_Row &row = rows[k];
            if (!row.complete) {
                if (row.headerSeen)
                    break;
                continue;
            }
            const int token = accept(row, listOf(row));
            if (token >= 0) {
                chosen.append({row, listOf(row), token});
                done = true;
            }
        }
        i = j;
    }
    std::stable_sort(chosen.begin(), chosen.end(),
                     [](const CarvedRow &a, const CarvedRow &b) { return a.row.headerSeen && !b.row.headerSeen; });
    QList<CarvedRow> out;
    std::vector<std::pair<quintptr, quintptr>> taken;
    for (const CarvedRow &c : chosen) {
        const quintptr from = reinterpret_cast<quintptr>(c.row.start);
        const quintptr to = from + static_cast<quintptr>(std::max<qint64>(c.row.length, 1));
        const bool overlaps = std::any_of(taken.begin(), taken.end(),
                                          [&](const auto &span) { return from < span.second && span.first < to; });
        if (overlaps)
            continue;
        taken.emplace_back(from, to);
        out.append(c);
    }
    // In the order of the page's bytes.
    std::stable_sort(out.begin(), out.end(),
                     [](const CarvedRow &a, const CarvedRow &b) {
                         return reinterpret_cast<quintptr>(a.row.start) < reinterpret_cast<quintptr>(b.row.start);
                     });
    return out;
}

QList<quint32> withoutRepeats(const QList<quint32> &pages)
{
    QList<quint32> out;
    out.reserve(pages.size());
    QSet<quint32> seen;
    for (const quint32 n : pages) {
        if (!seen.contains(n)) {
            seen.insert(n);
            out.append(n);
        }
    }
    return out;
}

int recordValueCount(const Sqlite3File &file, const Sqlite3File::_Page &page, const Sqlite3File::_Cell &cell)
{
    if (!cell.payload || cell.localSize == 0 || !page.page)
        return -1;
    // The record header lies in the local part, which lies on the page.
    const auto at_ = [](const uchar *p) { return reinterpret_cast<quintptr>(p); };
    const uchar *pageEnd = page.page + file.pageSize();
    if (at_(page.page) >= at_(file.data()) && at_(page.page) < at_(file.dataEnd()) && at_(pageEnd) > at_(file.dataEnd()))
        pageEnd = file.dataEnd();
    if (at_(cell.payload) < at_(page.page) || at_(cell.payload) >= at_(pageEnd))
        return -1;
    const uchar *end = cell.payload + std::min<qint64>(cell.localSize, pageEnd - cell.payload);
    quint64 headerLength = 0;
    int at = Sqlite3File::readVarint(headerLength, cell.payload, end);
    if (at == 0 || headerLength > quint64(end - cell.payload))
        return -1;
    int count = 0;
    while (quint64(at) < headerLength) {
        quint64 type = 0;
        const int n = Sqlite3File::readVarint(type, cell.payload + at, cell.payload + headerLength);
        if (n == 0)
            return -1;
        at += n;
        ++count;
    }
    return count;
}

bool imageMayHoldRows(const Sqlite3File &file, const Sqlite3File::_Page &page, int fewest, int most)
{
    if (page.type == 2 || page.type == 10)
        return false;
    if (page.type != 13 || page.cells.isEmpty())
        return true;
    for (const uchar *cell : page.cells) {
        const int n = recordValueCount(file, page, file.readCell(page, cell));
        if (n >= fewest && n <= most)
            return true;
    }
    return false;
}
