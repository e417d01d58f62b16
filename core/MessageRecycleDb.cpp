#include "MessageRecycleDb.h"

#include <QFileInfo>
#include <QStringList>
#include <QtDebug>

#include <limits>
#include <stdexcept>

#include "IOS6MessageColumns.h"
#include "MessageIdentity.h"
#include "PartialFile.h"
#include "SmsChat.h"

namespace
{

namespace C = IOS6MessageColumn;

// The recycle database keeps the columns of the iOS 6 message table up to
// was_deduplicated, declared as the phone declares them, and its own after.
constexpr int kStoredColumns = C::kFirstLater;

// Statements in this order: the message table and its indexes, the chat
// table and its indexes, the handle table and its index. The last index
// serves the duplicate test of messageRowid, whose second half would
// otherwise be answered by walking every message of the same second.
QString schema()
{
    QString message = QStringLiteral("CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT");
    for (int i = 0; i < kStoredColumns; ++i) {
        const C::ColumnDefinition &column = C::kColumns[i];
        message += QStringLiteral(", %1 %2").arg(QLatin1String(column.name), QLatin1String(column.type));
        if (column.constraint)
            message += QLatin1Char(' ') + QLatin1String(column.constraint);
        if (column.defaultValue)
            message += QStringLiteral(" DEFAULT ") + QLatin1String(column.defaultValue);
    }
    message += QLatin1String(", chat_identifier TEXT, handle TEXT, src_rowid INTEGER, is_skip INTEGER NOT NULL DEFAULT 0);\n");
    return message
           + QLatin1String(
               "CREATE INDEX message_idx_chat_identifier ON message(is_skip, chat_identifier, date);\n"
               "CREATE INDEX message_idx_chat_date ON message(date);\n"
               "CREATE INDEX message_idx_handle_id ON message(handle_id);\n"
               "CREATE INDEX message_idx_src_rowid ON message(src_rowid);\n"
               "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER,"
               " state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, room_name TEXT,"
               " account_login TEXT, is_archived INTEGER DEFAULT 0, last_addressed_handle TEXT, display_name TEXT,"
               " src_rowid INTEGER);\n"
               "CREATE INDEX chat_idx_identifier ON chat(chat_identifier);\n"
               "CREATE INDEX chat_idx_src_rowid ON chat(src_rowid);\n"
               "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, country TEXT,"
               " service TEXT NOT NULL, uncanonicalized_id TEXT, src_rowid INTEGER, UNIQUE (id, service));\n"
               "CREATE INDEX handle_idx_src_rowid ON handle(src_rowid);\n"
               "CREATE INDEX message_idx_identity ON message(date, is_from_me, text);\n");
}

// Files made before the duplicate test had an index of its own get it at
// their next opening.
const char kIdentityIndex[] = "CREATE INDEX IF NOT EXISTS message_idx_identity ON message(date, is_from_me, text)";

// Every column a message row is stored with, in the table's order; those
// left empty are bound as NULL, as if left out.
QString insertMessageSql()
{
    QStringList names;
    for (int i = 0; i < kStoredColumns; ++i) {
        const QString name = QLatin1String(C::kColumns[i].name);
        // A keyword.
        names.append(i == C::Replace ? QLatin1Char('"') + name + QLatin1Char('"') : name);
    }
    names << QStringLiteral("chat_identifier") << QStringLiteral("handle") << QStringLiteral("src_rowid");
    QStringList marks;
    for (qsizetype i = 0; i < names.size(); ++i)
        marks.append(QStringLiteral("?"));
    return QStringLiteral("insert into message(%1) values(%2)")
        .arg(names.join(QStringLiteral(", ")), marks.join(QLatin1Char(',')));
}

const char kInsertHandle[] =
    "insert into handle(id, country, service, uncanonicalized_id, src_rowid) values(?,?,?,?,?)";

// Keys of records read back.
constexpr qint64 kMessageBase = -2047483648;     // rowid field = kMessageBase - ROWID
constexpr qint64 kChatBase = -1947483647;        // conversation with an identifier: kChatBase - handle_id
constexpr qint64 kUnknownChatBase = -2047483647; // conversation without one: kUnknownChatBase - handle_id
// The ranges those keys must stay in: the source tree paints conversations
// below -1947483646 red, the transfer to a phone leaves out those below
// -2047483646.
constexpr qint64 kChatLowest = -2047483646;
constexpr qint64 kChatHighest = kChatBase;
constexpr qint64 kUnknownChatHighest = kUnknownChatBase;
// Where the keys of conversations without an identifier run out for handle
// ids up to 99,999,999; free keys for the others are taken from here up.
constexpr qint64 kUnknownChatSpare = kUnknownChatBase - (kChatHighest - kChatLowest);

// The 8-4-4-4-12 shape of a guid, letters and digits in any case.
bool isGuidShaped(const QString &s)
{
    if (s.size() != 36)
        return false;
    for (int i = 0; i < 36; ++i) {
        const char16_t c = s.at(i).unicode();
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != u'-')
                return false;
        } else if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))) {
            return false;
        }
    }
    return true;
}

void addOptionalText(Sqlite3Sql &sql, const QString &value)
{
    if (value.isEmpty())
        sql.addNullParam();
    else
        sql.addTextParam(value);
}

// The stored columns of the cursor's row into r, by name (names: theirs).
void readStoredColumns(const Sqlite3Cursor &c, const QStringList &names, _MsgMessage &r)
{
    for (int i = 0; i < kStoredColumns; ++i) {
        const C::Field &field = C::kColumns[i].field;
        const QString &name = names.at(i);
        if (field.text)
            r.*field.text = c.getText(name);
        else if (field.blob)
            r.*field.blob = c.getBlob(name);
        else if (field.id)
            r.*field.id = c.getInt64(name);
        else
            r.*field.number = c.getInt(name);
    }
}

void addOptionalRowid(Sqlite3Sql &sql, qint64 rowid)
{
    if (rowid > 0)
        sql.addInt64Param(rowid);
    else
        sql.addNullParam();
}

// Hands out the keys of the conversations made up for recycled messages.
// A key is free when neither the set's conversations nor its handles use it:
// the conversation and its handle share it, and putting a record under a
// taken key would orphan the one there.
class RecycledChatKeys
{
public:
    explicit RecycledChatKeys(const MsgDataSet::Data &set)
        : m_set(set)
    {
    }

    qint64 identified(qint64 handleId)
    {
        const bool inRange = handleId >= 0 && handleId <= kChatHighest - kChatLowest;
        return take(inRange ? kChatBase - handleId : 0, inRange, m_nextIdentified, kChatHighest);
    }

    qint64 unknown(qint64 handleId)
    {
        qint64 key = 0;
        const bool inRange = handleId >= 0 && !__builtin_sub_overflow(kUnknownChatBase, handleId, &key);
        return take(key, inRange, m_nextUnknown, kUnknownChatHighest);
    }

private:
    bool isFree(qint64 key) const { return !m_set.chats.contains(key) && !m_set.handles.contains(key); }

    qint64 take(qint64 preferred, bool usable, qint64 &next, qint64 last)
    {
        if (usable && isFree(preferred))
            return preferred;
        // The spare keys are handed out in one upward sweep, so many
        // collisions cost no more than one pass over the keys in use.
        while (next <= last && !isFree(next))
            ++next;
        if (next > last)
            throw std::length_error("no key left for a recycled conversation");
        return next++;
    }

    const MsgDataSet::Data &m_set;
    qint64 m_nextIdentified = kChatLowest;
    qint64 m_nextUnknown = kUnknownChatSpare;
};

_MsgChat *makeIMessageChat(MsgDataSet &set, qint64 key, const QString &identifier, const _MsgMessage &message)
{
    _MsgChat *chat = makeOneToOneChat(set, key, identifier, QStringLiteral("iMessage"));
    chat->account_id =
        isGuidShaped(message.account_guid) ? message.account_guid : guidFromData(identifier.toUtf8());
    chat->account_login = message.account;
    return chat;
}

_MsgHandle *firstHandle(const _MsgChat *chat)
{
    const QList<_MsgHandle *> handles = chat->handleList();
    return handles.isEmpty() ? nullptr : handles.first();
}

// The sender among the conversation's members. Recycled conversations key
// their members by address; those read from an sms.db by decimal rowid, so a
// member is also recognised by its id.
_MsgHandle *senderIn(const _MsgChat *chat, const QString &address)
{
    if (chat->handles.size() <= 1)
        return firstHandle(chat);
    if (_MsgHandle *h = chat->handles.value(address))
        return h;
    if (address.isEmpty())
        return nullptr;
    for (_MsgHandle *h : chat->handleList()) {
        if (h->id == address)
            return h;
    }
    return nullptr;
}

} // namespace

MessageRecycleDb::MessageRecycleDb(const QString &path)
    : m_path(path)
{
}

MessageRecycleDb::~MessageRecycleDb() = default;

void MessageRecycleDb::ensureOpen()
{
    if (isOpen())
        return;
    if (!QFileInfo::exists(m_path))
        create();
    openThrow(m_path, ReadWrite);
    QString ignored;
    // Best effort: a write-protected file is still read.
    exec(QString::fromLatin1(kIdentityIndex), ignored);
}

void MessageRecycleDb::create()
{
    PartialFile part(m_path);
    {
        Sqlite3DB fresh;
        fresh.openThrow(part.path(), ReadWriteCreate);
        QString error;
        if (fresh.exec(schema(), error) != 0)
            throw std::runtime_error(QStringLiteral("create MessageRecycleDb error. %1").arg(error).toStdString());
    }
    part.commit();
}

qint64 MessageRecycleDb::insertHandle(const _MsgHandle &handle, qint64 srcRowid)
{
    ensureOpen();
    Sqlite3Sql sql(kInsertHandle);
    sql.addTextParam(handle.id).addTextParam(handle.country).addTextParam(handle.service).addTextParam(handle.uncanonicalized_id);
    addOptionalRowid(sql, srcRowid);
    executeThrow(sql);
    return lastInsertId();
}

qint64 MessageRecycleDb::insertMessage(const _MsgMessage &m, const QString &chatIdentifier, const QString &handle,
                                       qint64 srcRowid)
{
    ensureOpen();
    static const QString insertSql = insertMessageSql();
    Sqlite3Sql sql(insertSql);
    for (int i = 0; i < kStoredColumns; ++i) {
        const C::ColumnDefinition &column = C::kColumns[i];
        if (i == C::Guid) {
            // A carved guid that is damaged or empty gets a fresh one, so that
            // it can never collide with another row's on the UNIQUE constraint.
            sql.addTextParam(isGuidShaped(m.guid) ? m.guid : newGuid());
        } else if (i == C::CacheHasAttachments) {
            sql.addIntParam(m.attachments.isEmpty() ? 0 : 1);
        } else if (column.field.text) {
            if (column.nullWhenEmpty)
                addOptionalText(sql, m.*column.field.text);
            else
                sql.addTextParam(m.*column.field.text);
        } else if (column.field.blob) {
            if ((m.*column.field.blob).isEmpty())
                sql.addNullParam();
            else
                sql.addBlobParam(m.*column.field.blob);
        } else if (column.field.id) {
            sql.addInt64Param(m.*column.field.id);
        } else {
            sql.addIntParam(m.*column.field.number);
        }
    }
    sql.addTextParam(chatIdentifier).addTextParam(handle);
    addOptionalRowid(sql, srcRowid);
    executeThrow(sql);
    return lastInsertId();
}

qint64 MessageRecycleDb::handleRowid(const _MsgHandle &handle)
{
    ensureOpen();
    Sqlite3Cursor c = queryThrow(
        Sqlite3Sql("select rowid from handle where id=? and service=?").addTextParam(handle.id).addTextParam(handle.service));
    return c.moveNext() ? c.getInt64(QStringLiteral("rowid")) : 0;
}

qint64 MessageRecycleDb::messageRowid(const _MsgMessage &message)
{
    ensureOpen();
    // Both halves of the test have an index, so SQLite answers the OR with
    // two index look-ups instead of a scan.
    Sqlite3Cursor c = queryThrow(Sqlite3Sql("select rowid from message where guid=? or (date=? and is_from_me=? and text=?)")
                                     .addTextParam(message.guid)
                                     .addIntParam(message.date)
                                     .addIntParam(message.is_from_me)
                                     .addTextParam(message.text));
    return c.moveNext() ? c.getInt64(QStringLiteral("rowid")) : 0;
}

void MessageRecycleDb::setMessageChat(const _MsgMessage &message, const QString &chatIdentifier, const QString &handle)
{
    const qint64 rowid = messageRowid(message);
    if (rowid == 0)
        return;
    executeThrow(Sqlite3Sql("update message set chat_identifier=?, handle=? where rowid=?")
                     .addTextParam(chatIdentifier)
                     .addTextParam(handle)
                     .addInt64Param(rowid));
}

QSharedPointer<_MsgHandle> MessageRecycleDb::handleBySrcRowid(qint64 srcRowid)
{
    ensureOpen();
    auto handle = QSharedPointer<_MsgHandle>::create();
    Sqlite3Cursor c = queryThrow(Sqlite3Sql("select * from handle where src_rowid=?").addInt64Param(srcRowid));
    if (c.moveNext()) {
        handle->rowid = c.getInt64(QStringLiteral("src_rowid"));
        handle->id = c.getText(QStringLiteral("id"));
        handle->service = c.getText(QStringLiteral("service"));
        handle->uncanonicalized_id = c.getText(QStringLiteral("uncanonicalized_id"));
    }
    return handle;
}

QList<_MsgRecycledMessage> MessageRecycleDb::readMessages()
{
    ensureOpen();
    QList<_MsgRecycledMessage> list;
    Sqlite3Cursor c = queryThrow("select * from message where is_skip=0");
    QStringList names;
    for (int i = 0; i < kStoredColumns; ++i)
        names.append(QLatin1String(C::kColumns[i].name));
    while (c.moveNext()) {
        const qint64 stored = c.getInt64(QStringLiteral("rowid"));
        qint64 rowid = 0;
        // Only a row written by hand can lie this far out; its key could not
        // be formed.
        if (__builtin_sub_overflow(kMessageBase, stored, &rowid) || rowid == std::numeric_limits<qint64>::min()) {
            qWarning("MessageRecycleDb::readMessages, row %lld skipped: its rowid has no key.", static_cast<long long>(stored));
            continue;
        }
        _MsgRecycledMessage &r = list.emplaceBack();
        r.rowid = rowid;
        readStoredColumns(c, names, r);
        r._deleted = true;
        r.chat_identifier = c.getText(QStringLiteral("chat_identifier"));
        r.handle = c.getText(QStringLiteral("handle"));
    }
    return list;
}

QList<QSharedPointer<_MsgHandle>> MessageRecycleDb::readHandles()
{
    ensureOpen();
    QList<QSharedPointer<_MsgHandle>> list;
    Sqlite3Cursor c = queryThrow("select * from handle");
    while (c.moveNext()) {
        auto handle = QSharedPointer<_MsgHandle>::create();
        handle->rowid = c.getInt64(QStringLiteral("rowid"));
        handle->id = c.getText(QStringLiteral("id"));
        handle->service = c.getText(QStringLiteral("service"));
        handle->uncanonicalized_id = c.getText(QStringLiteral("uncanonicalized_id"));
        list.append(handle);
    }
    return list;
}

void MessageRecycleDb::loadInto(MsgDataSet &set, const QList<_MsgRecycledMessage> &messages)
{
    MsgDataSet::Data *d = set.data();
    if (!d)
        return;

    // The set's own conversations by identifier, one table per kind; in
    // ascending id order, so that of two with one identifier the higher id
    // is the one joined, the same on every run.
    QHash<QString, _MsgChat *> smsChats;
    QHash<QString, _MsgChat *> iMessageChats;
    for (_MsgChat *chat : set.chatList()) {
        if (chat->service_name == QLatin1String("iMessage"))
            iMessageChats.insert(chat->chat_identifier, chat);
        else
            smsChats.insert(chat->chat_identifier, chat);
    }

    RecycledChatKeys keys(*d);
    for (const _MsgRecycledMessage &record : messages) {
        if (record.rowid == std::numeric_limits<qint64>::min())
            continue;
        const qint64 key = -record.rowid;
        if (d->messages.contains(key))
            continue;
        _MsgMessage *message = record.newMessage();
        message->_key = key;
        d->messages.insert(key, message);

        const qint64 h = message->handle_id;
        QString id = record.chat_identifier;
        _MsgChat *chat = nullptr;
        _MsgHandle *sender = nullptr;
        if (id.isEmpty()) {
            id = QStringLiteral("%1%2").arg(QStringLiteral("unknown")).arg(h);
            chat = smsChats.value(id);
            if (!chat) {
                chat = makeSmsChat(set, keys.unknown(h), id);
                smsChats.insert(id, chat);
            }
            sender = firstHandle(chat);
        } else {
            if (message->service != QLatin1String("iMessage")) {
                chat = smsChats.value(id);
                if (!chat) {
                    chat = makeSmsChat(set, keys.identified(h), id);
                    smsChats.insert(id, chat);
                }
            } else {
                chat = iMessageChats.value(id);
                if (!chat) {
                    chat = makeIMessageChat(set, keys.identified(h), id, *message);
                    iMessageChats.insert(id, chat);
                }
            }
            sender = senderIn(chat, record.handle);
        }

        message->chat = chat;
        if (message->date > chat->_last)
            chat->_last = message->date;
        message->sender = sender;
        chat->messages.insert(QString::number(key), message);
    }
}
