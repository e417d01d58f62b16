#include "MessageRecycleDb.h"

#include <QFileInfo>
#include <QtDebug>

#include <limits>
#include <stdexcept>

#include "MessageIdentity.h"
#include "PartialFile.h"
#include "SmsChat.h"

namespace
{

// Statements in this order: the message table and its indexes, the chat
// table and its indexes, the handle table and its index. The last index
// serves the duplicate test of messageRowid, whose second half would
// otherwise be answered by walking every message of the same second.
const char kSchema[] =
    "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, text TEXT,"
    " replace INTEGER DEFAULT 0, service_center TEXT, handle_id INTEGER DEFAULT 0, subject TEXT, country TEXT,"
    " attributedBody BLOB, version INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account TEXT,"
    " account_guid TEXT, error INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, date_delivered INTEGER,"
    " is_delivered INTEGER DEFAULT 0, is_finished INTEGER DEFAULT 0, is_emote INTEGER DEFAULT 0,"
    " is_from_me INTEGER DEFAULT 0, is_empty INTEGER DEFAULT 0, is_delayed INTEGER DEFAULT 0,"
    " is_auto_reply INTEGER DEFAULT 0, is_prepared INTEGER DEFAULT 0, is_read INTEGER DEFAULT 0,"
    " is_system_message INTEGER DEFAULT 0, is_sent INTEGER DEFAULT 0, has_dd_results INTEGER DEFAULT 0,"
    " is_service_message INTEGER DEFAULT 0, is_forward INTEGER DEFAULT 0, was_downgraded INTEGER DEFAULT 0,"
    " is_archive INTEGER DEFAULT 0, cache_has_attachments INTEGER DEFAULT 0, cache_roomnames TEXT,"
    " was_data_detected INTEGER DEFAULT 0, was_deduplicated INTEGER DEFAULT 0, chat_identifier TEXT, handle TEXT,"
    " src_rowid INTEGER, is_skip INTEGER NOT NULL DEFAULT 0);\n"
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
    "CREATE INDEX message_idx_identity ON message(date, is_from_me, text);\n";

// Files made before the duplicate test had an index of its own get it at
// their next opening.
const char kIdentityIndex[] = "CREATE INDEX IF NOT EXISTS message_idx_identity ON message(date, is_from_me, text)";

// Every column a message row is stored with, in the table's order; those
// left empty are bound as NULL, as if left out.
const char kInsertMessage[] =
    "insert into message(guid, text, \"replace\", service_center, handle_id, subject, country, attributedBody,"
    " version, type, service, account, account_guid, error, date, date_read, date_delivered, is_delivered,"
    " is_finished, is_emote, is_from_me, is_empty, is_delayed, is_auto_reply, is_prepared, is_read,"
    " is_system_message, is_sent, has_dd_results, is_service_message, is_forward, was_downgraded, is_archive,"
    " cache_has_attachments, cache_roomnames, was_data_detected, was_deduplicated, chat_identifier, handle,"
    " src_rowid) values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";

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
        if (fresh.exec(QString::fromLatin1(kSchema), error) != 0)
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
    Sqlite3Sql sql(kInsertMessage);
    // A carved guid that is damaged or empty gets a fresh one, so that it can
    // never collide with another row's on the UNIQUE constraint.
    sql.addTextParam(isGuidShaped(m.guid) ? m.guid : newGuid());
    sql.addTextParam(m.text);
    sql.addIntParam(m.replace);
    addOptionalText(sql, m.service_center);
    sql.addInt64Param(m.handle_id);
    addOptionalText(sql, m.subject);
    addOptionalText(sql, m.country);
    if (m.attributedBody.isEmpty())
        sql.addNullParam();
    else
        sql.addBlobParam(m.attributedBody);
    sql.addIntParam(m.version).addIntParam(m.type);
    sql.addTextParam(m.service).addTextParam(m.account).addTextParam(m.account_guid);
    sql.addIntParam(m.error).addIntParam(m.date).addIntParam(m.date_read).addIntParam(m.date_delivered);
    for (int flag : {m.is_delivered, m.is_finished, m.is_emote, m.is_from_me, m.is_empty, m.is_delayed,
                     m.is_auto_reply, m.is_prepared, m.is_read, m.is_system_message, m.is_sent, m.has_dd_results,
                     m.is_service_message, m.is_forward, m.was_downgraded, m.is_archive})
        sql.addIntParam(flag);
    sql.addIntParam(m.attachments.isEmpty() ? 0 : 1);
    sql.addTextParam(m.cache_roomnames);
    sql.addIntParam(m.was_data_detected).addIntParam(m.was_deduplicated);
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
        r.guid = c.getText(QStringLiteral("guid"));
        r.text = c.getText(QStringLiteral("text"));
        r.replace = c.getInt(QStringLiteral("replace"));
        r.service_center = c.getText(QStringLiteral("service_center"));
        r.handle_id = c.getInt64(QStringLiteral("handle_id"));
        r.subject = c.getText(QStringLiteral("subject"));
        r.country = c.getText(QStringLiteral("country"));
        r.attributedBody = c.getBlob(QStringLiteral("attributedBody"));
        r.version = c.getInt(QStringLiteral("version"));
        r.type = c.getInt(QStringLiteral("type"));
        r.service = c.getText(QStringLiteral("service"));
        r.account = c.getText(QStringLiteral("account"));
        r.account_guid = c.getText(QStringLiteral("account_guid"));
        r.error = c.getInt(QStringLiteral("error"));
        r.date = c.getInt(QStringLiteral("date"));
        r.date_read = c.getInt(QStringLiteral("date_read"));
        r.date_delivered = c.getInt(QStringLiteral("date_delivered"));
        r.is_delivered = c.getInt(QStringLiteral("is_delivered"));
        r.is_finished = c.getInt(QStringLiteral("is_finished"));
        r.is_emote = c.getInt(QStringLiteral("is_emote"));
        r.is_from_me = c.getInt(QStringLiteral("is_from_me"));
        r.is_empty = c.getInt(QStringLiteral("is_empty"));
        r.is_delayed = c.getInt(QStringLiteral("is_delayed"));
        r.is_auto_reply = c.getInt(QStringLiteral("is_auto_reply"));
        r.is_prepared = c.getInt(QStringLiteral("is_prepared"));
        r.is_read = c.getInt(QStringLiteral("is_read"));
        r.is_system_message = c.getInt(QStringLiteral("is_system_message"));
        r.is_sent = c.getInt(QStringLiteral("is_sent"));
        r.has_dd_results = c.getInt(QStringLiteral("has_dd_results"));
        r.is_service_message = c.getInt(QStringLiteral("is_service_message"));
        r.is_forward = c.getInt(QStringLiteral("is_forward"));
        r.was_downgraded = c.getInt(QStringLiteral("was_downgraded"));
        r.is_archive = c.getInt(QStringLiteral("is_archive"));
        r.cache_has_attachments = c.getInt(QStringLiteral("cache_has_attachments"));
        r.cache_roomnames = c.getText(QStringLiteral("cache_roomnames"));
        r.was_data_detected = c.getInt(QStringLiteral("was_data_detected"));
        r.was_deduplicated = c.getInt(QStringLiteral("was_deduplicated"));
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
