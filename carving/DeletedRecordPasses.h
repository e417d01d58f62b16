#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "LiveCopy.h"
#include "Sqlite3File.h"
#include "WriteAheadLog.h"
#include "_SqliteCol.h"

class MessageRecycleDb;
class Sqlite3DB;

// The steps the deleted-record scans of the message databases share. A scan
// reads the database file in two passes: first the pages on the freelist,
// whose freed table leaf pages still hold whole cells, then a carving pass
// over every page found on the way and every leaf page of the live table.
//
// form: the progress dialog or a stand-in (may be null); its cancelled flag
// is read between items and progress goes to it by queued posts.

// Whether the form says the user cancelled; false without a form.
bool scanCancelled(const QObject *form);
// Posts the step index of total (from 1) as a whole percentage, with empty
// status and progress texts.
void postScanProgress(QObject *form, int index, int total);

// Walks the freelist: the trunk chain (ending at a trunk seen before or one
// past the file's pages), each trunk's leaf pages inside the file, and the
// pages below those of them that are b-tree pages (interior pages too: their
// unallocated area can hold the cells of the leaf they were before). Appends
// every page found to pages and
// hands each cell of a freed table leaf page to onCell. A page reached only
// through a stale child pointer of a freed page is carved later like the
// others but its cells are not handed out: it is not free, so they are live
// rows of whatever uses it now.
//
// The form is asked before each trunk page, each leaf page of a trunk and
// each leaf page found below one.
void freelistPass(const Sqlite3File &file, QObject *form, QList<quint32> &pages,
                  const std::function<void(const Sqlite3File::_Page &page, const Sqlite3File::_Cell &cell)> &onCell);

// The list with every page number after its first appearance left out: a
// page reached twice would be carved twice for the same rows.
QList<quint32> withoutRepeats(const QList<quint32> &pages);

// The table's entry in the database's schema as the engine sees it (the
// newest the database and its log hold): its root page and its CREATE
// statement. rootPage is 0 when the schema has no such table. SQL errors
// throw.
struct SchemaEntry
{
    qint64 rootPage = 0;
    QString sql;
};
SchemaEntry schemaEntry(Sqlite3DB &db, const QString &table);

// Appends the pages of the b-tree whose root is rootPage, parents before
// children: its leaves, and its interior pages, whose unallocated area can
// still hold the cells of the leaf the root was before the table grew.
void appendTreePages(const Sqlite3File &file, qint64 rootPage, QList<quint32> &pages);

// The database's write-ahead log ("-wal" beside it) as it stands.
WriteAheadLog readLogOf(const QString &dbPath);
// Hands every frame's page image to the file as one more page, the
// committed ones standing for their pages; nothing when the log's page size
// is not the file's.
void attachLog(Sqlite3File &file, const WriteAheadLog &log);

// Opens file, the database file at dbPath, for a scan without anything
// writing to it or to its log: reads the log as it stands, maps the file
// and hands it the log's images, so that the database reads as the engine
// would read it while the file's own older pages and every frame stay
// there to be carved. No checkpoint runs: it would overwrite the file's
// pages with the log's newest images, and an older page can be the only
// whole copy of rows a deletion rebuilt out of it. Returns a private copy of
// the file and the log for reading the live rows with the engine, which may
// read the file's mapping: it must go before the file closes. Errors of
// opening the file or making the copy throw.
std::unique_ptr<LiveCopy> openForScan(const QString &dbPath, Sqlite3File &file);

// Runs work inside one transaction of the recycle database, its writes held
// in memory until the commit: committed when work returns (as a cancelled
// scan does), rolled back when work throws. The error of work passes on,
// never one of the rollback.
void inScanTransaction(MessageRecycleDb &recycle, const std::function<void()> &work);

// How recent the bytes of a page are: the file's own pages that the log
// replaced are the oldest, then the log's frames in their order, then the
// database as it stands.
constexpr int kOldestAge = 0;
constexpr int kCurrentAge = std::numeric_limits<int>::max();

// The carving pass of a scan over the pages found on the way (each once, in
// the order first found), then every older image: the log's frames (but the
// one standing for a page already taken) and the file's own pages that the
// log replaced. Before each page the form is asked and one progress step
// posted. An image that cannot hold rows of the table (imageMayHoldRows,
// with the fewest and most values of the lists) is passed over; of one that
// is a table leaf, every live cell whose record has from fewest to most
// values goes to onImageCell. Then the page goes to carve. Both are told how
// recent the page is (its age). False when the user cancelled. lists must
// not be empty: without them the pass takes no page. Without postProgress
// the form is only asked (a further pass of a scan whose progress is told).
bool carvingPass(const Sqlite3File &file, QObject *form, const QList<quint32> &pages,
                 const QList<QList<_SqliteCol>> &lists,
                 const std::function<void(const Sqlite3File::_Cell &cell, int age)> &onImageCell,
                 const std::function<void(const Sqlite3File::_Page &page, int age)> &carve, bool postProgress = true);

// A carved row, the column list (its index) it was carved with, and what
// accept said of it.
struct CarvedRow
{
    Sqlite3File::_Row row;
    int list = 0;
    int token = 0;
};

// Carves a page against several column lists of one table (the longest, the
// table's own, first; then shorter ones that older rows have) and keeps, at
// every place where a row begins, the one row that best explains the bytes:
// when one of them still has its record header in front, only those that do;
// of those, the first in list order that accept takes. A row whose body runs
// past its range is no row. Rows are then taken in that order, those whose
// header was seen before the others, each only when its bytes overlap none
// taken before, so that a row found inside another's bytes is not a second
// message. A tree page is carved in its free space, any other page whole.
QList<CarvedRow> carveBest(const Sqlite3File &file, const Sqlite3File::_Page &page,
                           const QList<QList<_SqliteCol>> &lists,
                           const std::function<int(const Sqlite3File::_Row &row, int list)> &accept);

// Carves a page with carveBest into records: convert fills a fresh Record
// from a row and says whether it is one; take gets each record of a row
// carveBest keeps, in the order of the page's bytes, to keep or drop.
template <class Record, class Convert, class Take>
void carveRecords(const Sqlite3File &file, const Sqlite3File::_Page &page, const QList<QList<_SqliteCol>> &lists,
                  Convert convert, Take take)
{
    std::vector<std::unique_ptr<Record>> converted;
    const QList<CarvedRow> rows = carveBest(file, page, lists, [&](const Sqlite3File::_Row &row, int) {
        auto record = std::make_unique<Record>();
        if (!convert(row, *record))
            return -1;
        converted.push_back(std::move(record));
        return static_cast<int>(converted.size()) - 1;
    });
    for (const CarvedRow &c : rows)
        take(converted[static_cast<size_t>(c.token)]);
}

// How many values the record of a cell of page has, read from its header on
// the page; -1 when the header cannot be read there.
int recordValueCount(const Sqlite3File &file, const Sqlite3File::_Page &page, const Sqlite3File::_Cell &cell);

// Whether an image of the log is worth searching for rows of a table whose
// records have from fewest to most values: not an index page (the file's
// own index pages are not searched either), and not a table leaf whose live
// cells are all rows of other tables (a page keeps its tree from one image
// to the next). Pages of no b-tree, interior pages and empty leaves are.
bool imageMayHoldRows(const Sqlite3File &file, const Sqlite3File::_Page &page, int fewest, int most);
