#pragma once

#include <QList>
#include <QString>

#include "Sqlite3File.h"
#include "_MsgRecycledMessage.h"
#include "_SqliteCol.h"

class IOS5MessageDb;
class QObject;

// Recovery of deleted messages from an sms.db in the iOS 5 layout.
//
// The scan first reads the database's write-ahead log as it stands (never
// writing it), then checkpoints the log and reads the database file through
// Sqlite3File. It takes the whole cells of freed table leaf pages and of
// every page image in the log (a message in an older image that the live
// table no longer has is a deleted one), and carves the free space of the
// freed pages, of the message table's leaf pages and of every log image
// against the message table's columns as the file's own CREATE statement
// declares them, in their order (the fixed layouts of 33, 32 and 17 columns
// only when the statement cannot be read). Of the images found of one
// message the most whole one is kept; rows cut off at the end of their range
// are none, and copies of messages the live table still holds (same date,
// direction and text) are not deleted messages. Each message not yet in the
// database's recycle database (same guid, or same date, direction and text)
// is stored there, inside one transaction that is committed at the end and
// after a cancel, and rolled back when an error ends the scan. Running it
// again stores nothing twice.
//
// An MMS, which a phone writes without address and text, takes its other
// party from the first entry of its recipients list and its text from the
// text parts (in part order) of the rows of msg_pieces found of it, deleted
// or live; where none is found it keeps what its row tells, without text.
// Its attachments are not kept: the recycle database holds none.
//
// form: the progress dialog or a stand-in, or null. With a form the scan
// reads its cancelled flag between items and posts one progress step per
// page it carves.
//
// Errors of opening the file ("open %1 failed. %2", "map %1 failed. %2",
// "invalid page size.") and of SQL pass to the caller as
// std::runtime_error. Must not run while another thread uses the database.
void readRawMessages(IOS5MessageDb &db, QObject *form);

// A row filter for the carver on the fixed layouts: read 0 or 1, UIFlags 0,
// 4, 5 or 6, and is_madrid 0 or 1 where the row has it.
bool isRawIOS5MessageRow(const Sqlite3File::_Row &row);

// Fills message (a fresh record) from a decoded or carved row of a message
// table with the columns given (the row's values in their order; values it
// lacks at the end count as NULL); false when the row is no message that can
// have been stored: an unknown country code, an SMS without address (an MMS
// without one takes the first of its recipients, its text left empty),
// madrid columns that do not fit the kind of row, a date not after 2001 or
// in the future. The message may be partly filled then. Without columns, the fixed
// layout of 33 columns.
bool rawRowToIOS5Message(IOS5MessageDb &db, const Sqlite3File::_Row &row, _MsgRecycledMessage &message,
                         const QList<_SqliteCol> &columns = QList<_SqliteCol>());

// The message table's fixed layout of a release: 33, 32 or 17 columns,
// ROWID first.
QList<_SqliteCol> ios5MessageColumns(int count);

// The column lists to carve a message table with, longest first: those of
// its CREATE statement, then the shorter lists its older rows can have (the
// 17 columns before iMessage, and without a madrid_account_guid added last);
// the fixed layouts when the statement cannot be read as a message table.
QList<QList<_SqliteCol>> ios5CarvingLists(const QString &createTable);
