#pragma once

#include <QList>

#include "Sqlite3File.h"
#include "_MsgRecycledMessage.h"
#include "_SqliteCol.h"

class IOS5MessageDb;
class QObject;

// Recovery of deleted messages from an sms.db in the iOS 5 layout.
//
// The scan reads the database file through Sqlite3File after checkpointing
// the write-ahead log: whole cells of freed table leaf pages first, then the
// free space of the freed pages and of the message table's leaf pages,
// carved against the three layouts the message table has had (33, 32 and 17
// columns). Each message not yet in the database's recycle database (same
// guid, or same date, direction and text) is stored there, inside one
// transaction that is committed at the end and after a cancel, and rolled
// back when an error ends the scan. Running it again stores nothing twice.
//
// form: the progress dialog or a stand-in, or null. With a form the scan
// reads its cancelled flag between items and posts one progress step per
// page it carves.
//
// Errors of opening the file ("open %1 failed. %2", "map %1 failed. %2",
// "invalid page size.") and of SQL pass to the caller as
// std::runtime_error. Must not run while another thread uses the database.
void readRawMessages(IOS5MessageDb &db, QObject *form);

// The row filter handed to the carver: read 0 or 1, UIFlags 0, 4, 5 or 6,
// and for rows of 33 columns is_madrid 0 or 1.
bool isRawIOS5MessageRow(const Sqlite3File::_Row &row);

// Fills message (a fresh record) from a decoded or carved row of the message
// table; false when the row is no message that can have been stored: an
// unknown country code, an SMS without address, madrid columns that do not
// fit the kind of row, a date not after 2001 or in the future. The message
// may be partly filled then.
bool rawRowToIOS5Message(IOS5MessageDb &db, const Sqlite3File::_Row &row, _MsgRecycledMessage &message);

// The message table's layout of a release: 33, 32 or 17 columns, ROWID first.
QList<_SqliteCol> ios5MessageColumns(int count);
