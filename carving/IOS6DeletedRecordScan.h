#pragma once

#include <QList>

#include "Sqlite3File.h"
#include "_MsgHandle.h"
#include "_MsgMessage.h"
#include "_SqliteCol.h"

class IOS6MessageDb;
class QObject;
struct _MsgChat;

// Recovery of deleted message and handle rows from an sms.db in the iOS 6
// layout into the database's recycle database.
//
// Each scan reads the database's write-ahead log as it stands (never writing
// it), checkpoints it and reads the file through Sqlite3File: whole cells of
// freed table leaf pages and of every page image in the log (a row of an
// older image that the live table no longer has is a deleted one), then the
// free space of the freed pages, of the table's leaf pages and of the log's
// images, carved against the table's columns as the file's own CREATE
// statement declares them (the fixed lists only when it cannot be read).
// Rows cut off at the end of their range are none; of the images of one row
// the one that still has its rowid is kept. Everything it stores goes in one transaction, committed
// at the end and after a cancel, rolled back when an error ends the scan.
// What the recycle database holds already (messages by guid or by date,
// direction and text; handles by id and service) is not stored again, so a
// scan can run any number of times.
//
// form: the progress dialog or a stand-in, or null: its cancelled flag is
// read between items and one progress step is posted per carved page.
// Errors of opening the file and of SQL pass to the caller as
// std::runtime_error. Must not run while another thread uses the database.

// Messages. chats: the conversations of this same database with their
// handles (as its chats operation gives them): a message whose handle is in
// one is stored under that conversation's identifier, preferring a
// one-to-one conversation over a group, with the address of its own handle.
// Other messages take the address of the handle row with the rowid they
// name wherever one stands: in the live table, in the log's older images,
// on freed pages, else among the recycled handles carved with that rowid
// (so the handle scan should run first). Carved messages and images in the
// log still in the live database (same guid) are not stored.
void readRawMessages(IOS6MessageDb &db, const QList<_MsgChat *> &chats, QObject *form);

// Handles. A handle row carved from a freeblock has lost its rowid with its
// first bytes; it takes the one the entries of the table's (id, service)
// index name for it (on the index's pages, the freed pages and the log's
// images), when they name exactly one that no other handle has, so that the
// messages naming it find their address.
void readRawHandles(IOS6MessageDb &db, QObject *form);

// Row filters of the carver: at least 38 (5) values with a service of
// exactly "SMS" or "iMessage" in value 11 (3).
bool isRawIOS6MessageRow(const Sqlite3File::_Row &row);
bool isRawIOS6HandleRow(const Sqlite3File::_Row &row);

// Fill a fresh record from a row of the message or handle table; false when
// the row is none (too few values, another service, a handle without an
// address). The record may be partly filled then. A message row of fewer
// than 50 values leaves the later fields (is_audio_message to
// message_action_type) as they are; a handle's id is normalised for its
// country when the library knows it, and for the current country when the
// row has none.
bool rawRowToIOS6Message(const Sqlite3File::_Row &row, _MsgMessage &message);
// The same for a row of a table with the columns given (values it lacks at
// the end keep the record's defaults).
bool rawRowToIOS6Message(const Sqlite3File::_Row &row, const QList<_SqliteCol> &columns, _MsgMessage &message);
bool rawRowToIOS6Handle(IOS6MessageDb &db, const Sqlite3File::_Row &row, _MsgHandle &handle);

// The message table's columns: 38 (to was_deduplicated) or all 51.
QList<_SqliteCol> ios6MessageColumns(int count);
QList<_SqliteCol> ios6HandleColumns();

// The column lists to carve the tables with, longest first: those of the
// CREATE statement, then, for the message table, the shorter lists of rows
// written before the later columns were added; the fixed lists when the
// statement cannot be read as the table's.
QList<QList<_SqliteCol>> ios6MessageCarvingLists(const QString &createTable);
QList<_SqliteCol> ios6HandleCarvingColumns(const QString &createTable);
