#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

#include "Sqlite3File.h"

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
