#pragma once

#include <QList>
#include <QSharedPointer>
#include <QString>

#include "AbsDb.h"
#include "MsgDataSet.h"
#include "_MsgRecycledMessage.h"

// "recycle.db" of a message source folder: the message and handle rows that
// the deleted-record scans carved out of the free space of the folder's
// sms.db, each with the rowid it had there (src_rowid). Created at first use.
//
// Read back, the rows become messages marked _deleted, in conversations with
// keys in reserved ranges far below zero:
//   message rowid field  -2047483648 - ROWID, its _key the negation;
//   conversation (and its one handle) with an identifier
//                        -1947483647 - handle_id, kept within
//                        [-2047483646, -1947483647];
//   conversation of messages without an identifier ("unknown<handle_id>")
//                        -2047483647 - handle_id, kept at or below
//                        -2047483647.
// Where that key is taken in the set already (two recycled conversations
// whose first messages carry the same handle_id: a group and a one-to-one
// conversation, or an SMS and an iMessage one), or where the handle_id lies
// outside 0..99,999,999 so that the key would leave its range, the
// conversation takes the lowest free key of its own range, counting up from
// -2047483646 and -2147483646. So every conversation and handle has a key of
// its own and keeps the range that tells its kind.
class MessageRecycleDb : public AbsDb
{
public:
    // path: the file's absolute path. Touches no file.
    explicit MessageRecycleDb(const QString &path);
    ~MessageRecycleDb() override;

    const QString &path() const { return m_path; }

    // Opens the file read-write; a missing file is created complete (built
    // under another name and renamed into place), so that a failed creation
    // leaves no file and the next call creates it again. Throws
    // std::runtime_error ("create MessageRecycleDb error. %1" when the
    // schema cannot be written).
    void ensureOpen() override;

    // Stores a handle's id, country, service and uncanonicalized_id, and
    // srcRowid when it is greater than 0; returns the new ROWID. A handle
    // whose (id, service) is stored already violates the table's UNIQUE
    // constraint: ask handleRowid first.
    qint64 insertHandle(const _MsgHandle &handle, qint64 srcRowid);
    // Stores a message row with the conversation identifier and sender
    // address given; srcRowid when it is greater than 0. A guid without the
    // 8-4-4-4-12 shape is replaced by a fresh one. Returns the new ROWID.
    qint64 insertMessage(const _MsgMessage &message, const QString &chatIdentifier, const QString &handle,
                         qint64 srcRowid);
    // ROWID of the handle with the same id and service; 0 when none.
    qint64 handleRowid(const _MsgHandle &handle);
    // ROWID of a stored message with the same guid, or with the same date,
    // direction and text; 0 when none.
    qint64 messageRowid(const _MsgMessage &message);
    // Rewrites conversation identifier and sender of the stored row that
    // counts as the same message (messageRowid); nothing when there is none.
    void setMessageChat(const _MsgMessage &message, const QString &chatIdentifier, const QString &handle);
    // The stored handle carved from that sms.db rowid, with rowid set to
    // srcRowid; without one, a new handle (rowid 0, empty id, service "SMS").
    // Never null.
    QSharedPointer<_MsgHandle> handleBySrcRowid(qint64 srcRowid);

    // Every message row not marked skip, with rowid field -2047483648 - ROWID
    // and _deleted set.
    QList<_MsgRecycledMessage> readMessages();
    // Every handle row, with its recycle.db ROWID as rowid.
    QList<QSharedPointer<_MsgHandle>> readHandles();

    // Adds copies of the messages to the set under their keys, each in the
    // conversation the set already has for its identifier and kind (SMS or
    // iMessage), else in one made up for it, with its sender. A message whose
    // key the set holds already is left out, so loading twice adds nothing.
    // The set owns everything added; the list is not changed.
    static void loadInto(MsgDataSet &set, const QList<_MsgRecycledMessage> &messages);

private:
    void create();

    QString m_path;
};
