#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

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
// past the file's pages), each trunk's leaf pages inside the file, and the leaf pages below
// those of them that are b-tree pages. Appends every page found to pages and
// hands each cell of a freed table leaf page to onCell. A page reached only
// through a stale child pointer of a freed page is carved later like the
// others but its cells are not handed out: it is not free, so they are live
// rows of whatever uses it now.
//
// The form is asked before each trunk page, each leaf page of a trunk and
// each leaf page found below one.
void freelistPass(const Sqlite3File &file, QObject *form, QList<quint32> &pages,
                  const std::function<void(const Sqlite3File::_Page &page, const Sqlite3File::_Cell &cell)> &onCell);

// Appends the leaf pages of the table's b-tree, its root page taken from
// sqlite_master through the connection. False, with nothing appended, when
// the schema has no such table. SQL errors throw.
bool appendTableLeaves(Sqlite3DB &db, const Sqlite3File &file, const QString &table, QList<quint32> &pages);

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

// Appends the leaf pages of the b-tree whose root is rootPage.
void appendLeaves(const Sqlite3File &file, qint64 rootPage, QList<quint32> &pages);

// The database's write-ahead log, read before anything could checkpoint it.
WriteAheadLog readLogOf(const QString &dbPath);
// Hands every frame's page image to the file as one more page; nothing when
// the log's page size is not the file's.
void attachLog(Sqlite3File &file, const WriteAheadLog &log);

// One page a carving pass goes through: a page of the file or an image of
// the log.
struct ScanPage
{
    bool image = false;
    quint32 number = 0; // page number, or image index
};
QList<ScanPage> scanPages(const QList<quint32> &filePages, const Sqlite3File &file);
Sqlite3File::_Page readScanPage(const Sqlite3File &file, const ScanPage &page);

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

// How many values the record of a cell of page has, read from its header on
// the page; -1 when the header cannot be read there.
int recordValueCount(const Sqlite3File &file, const Sqlite3File::_Page &page, const Sqlite3File::_Cell &cell);

// Whether an image of the log is worth searching for rows of a table whose
// records have from fewest to most values: not an index page (the file's
// own index pages are not searched either), and not a table leaf whose live
// cells are all rows of other tables (a page keeps its tree from one image
// to the next). Pages of no b-tree, interior pages and empty leaves are.
bool imageMayHoldRows(const Sqlite3File &file, const Sqlite3File::_Page &page, int fewest, int most);

// Lets the recycle database's connection keep a scan's writes (tens of
// thousands of rows and their indexes, in one transaction) in memory until
// the commit instead of spilling them to its file on the way.
void holdWritesInMemory(MessageRecycleDb &recycle);
