#include "IOS6MessageDb.h"

#include <QList>

#include <stdexcept>
#include <utility>

#include "CursorAhead.h"
#include "IOS6MessageColumns.h"
#include "MessageIdentity.h"

namespace
{

// The page cache while the stored guids or logic hashes are visited, in KiB.
constexpr int kVisitCacheKiB = 4096;

// Tables an insert can target, numbered for the statement cache key.
enum Table : quint64 { HandleTable = 1, MessageTable = 2, AttachmentTable = 3, ChatTable = 4 };

// Insert columns of each table in statement order; rowid is never written.
const char *const kHandleColumns[] = {"id", "country", "service", "uncanonicalized_id", "_ct_name", "_photo"};

const char *const kAttachmentColumns[] = {"guid",         "created_date", "start_date", "filename",
                                          "uti",          "mime_type",    "transfer_state", "is_outgoing",
                                          "user_info",    "transfer_name", "total_bytes"};

const char *const kChatColumns[] = {"guid",         "style",         "state",        "account_id",
                                    "chat_identifier", "service_name", "room_name",  "account_login",
                                    "is_archived",  "display_name",  "group_id"};

// Collects the values of one insert and which columns they go to. The values
// are bound in column order, so the statement text follows from the table
// and the set of columns alone and is built once per set.
class InsertRow
{
public:
    InsertRow(Table table, const char *const *columns, int count)
        : m_table(table)
        , m_columns(columns)
        , m_count(count)
    {
        m_sql.reserveParams(count);
    }

    InsertRow &text(int column, const QString &value)
    {
        mark(column);
        m_sql.addTextParam(value);
        return *this;
    }
    InsertRow &integer(int column, int value)
    {
        mark(column);
        m_sql.addIntParam(value);
        return *this;
    }
    InsertRow &int64(int column, qint64 value)
    {
        mark(column);
        m_sql.addInt64Param(value);
        return *this;
    }
    InsertRow &blob(int column, const QByteArray &value)
    {
        mark(column);
        m_sql.addBlobParam(value);
        return *this;
    }

    // The statement, its text taken from (or added to) cache.
    Sqlite3Sql statement(QHash<quint64, QString> &cache)
    {
        const quint64 key = (quint64(m_table) << 56) | m_mask;
        auto it = cache.constFind(key);
        if (it == cache.constEnd()) {
            QString names;
            QString marks;
            for (int i = 0; i < m_count; ++i) {
                if (!(m_mask & (quint64(1) << i)))
                    continue;
                if (!names.isEmpty()) {
                    names += QLatin1Char(',');
                    marks += QLatin1Char(',');
                }
                // Quoted: "replace" is a keyword.
                names += QLatin1Char('"') + QLatin1String(m_columns[i]) + QLatin1Char('"');
                marks += QLatin1Char('?');
            }
            it = cache.insert(key, QStringLiteral("insert into %1(%2) values(%3)").arg(tableName(), names, marks));
        }
        // The values are bound already; the text follows them.
        Sqlite3Sql sql = std::move(m_sql);
        sql.appendSql(it.value());
        return sql;
    }

private:
    void mark(int column)
    {
        // Columns must come in statement order so that values and names agree.
        Q_ASSERT(column < m_count && !(m_mask >> column));
        m_mask |= quint64(1) << column;
    }
    QString tableName() const
    {
        switch (m_table) {
        case HandleTable:
            return QStringLiteral("handle");
        case MessageTable:
            return QStringLiteral("message");
        case AttachmentTable:
            return QStringLiteral("attachment");
        case ChatTable:
            break;
        }
        return QStringLiteral("chat");
    }

    Table m_table;
    const char *const *m_columns;
    int m_count;
    quint64 m_mask = 0;
    Sqlite3Sql m_sql;
};

} // namespace

// --- look-ups ----------------------------------------------------------------

qint64 IOS6MessageDb::chatRowid(const QString &guid)
{
    ensureOpen();
    return firstRowid(Sqlite3Sql("select rowid from chat where guid=?").addTextParam(guid));
}

qint64 IOS6MessageDb::messageRowid(const QString &guid)
{
    ensureOpen();
    return firstRowid(Sqlite3Sql("select rowid from message where guid=?").addTextParam(guid));
}

qint64 IOS6MessageDb::attachmentRowid(const _MsgAttachment *attachment)
{
    ensureOpen();
    return firstRowid(Sqlite3Sql("select rowid from attachment where guid=?").addTextParam(attachment->guid));
}

qint64 IOS6MessageDb::handleRowid(const _MsgHandle *handle)
{
    ensureOpen();
    return firstRowid(Sqlite3Sql("select rowid from handle where id=? and service=?")
                          .addTextParam(handle->id)
                          .addTextParam(handle->service));
}

bool IOS6MessageDb::hasChatHandle(qint64 chatId, qint64 handleId)
{
    ensureOpen();
    Sqlite3Cursor c = queryThrow(Sqlite3Sql("select 1 from chat_handle_join where chat_id=? and handle_id=?")
                                     .addInt64Param(chatId)
                                     .addInt64Param(handleId));
    return c.moveNext();
}

qint64 IOS6MessageDb::messageRowidByLogicHash(const _MsgMessage *message)
{
    ensureOpen();
    if (!m_cols.msgLogicHash)
        return 0;
    return messageRowidByLogicHash(messageFingerprint(message));
}

qint64 IOS6MessageDb::messageRowidByLogicHash(const QString &logicHash)
{
    ensureOpen();
    if (!m_cols.msgLogicHash)
        return 0;
    return firstRowid(Sqlite3Sql("select rowid from message where logic_hash=?").addTextParam(logicHash));
}

bool IOS6MessageDb::hasLogicHash() const
{
    return m_cols.msgLogicHash;
}

void IOS6MessageDb::visitMessageLogicHashes(const std::function<void(qint64, QByteArrayView)> &visit)
{
    ensureOpen();
    if (!m_cols.msgLogicHash)
        return;
    // Served by the logic_hash index alone, without reading the rows.
    visitRowidTexts(Sqlite3Sql("select rowid, logic_hash from message where typeof(logic_hash)='text'"), visit);
}

void IOS6MessageDb::visitMessageGuids(const std::function<void(qint64, QByteArrayView)> &visit)
{
    ensureOpen();
    visitRowidTexts(Sqlite3Sql("select rowid, guid from message where guid is not null"), visit);
}

void IOS6MessageDb::visitRowidTexts(const Sqlite3Sql &sql, const std::function<void(qint64, QByteArrayView)> &visit)
{
    // The index is stepped on a thread of its own while visit works on the
    // rows before (against a plain loop over a cursor on this thread, a
    // backup of 1,000,000 duplicates takes about a sixth less); the
    // connection is the stepping thread's until the end.
    // Its pages are read once each, in order: the cache is kept small, so
    // that the stepping thread does not take memory the writes after would
    // have found free.
    CursorAhead c(
        *this, sql,
        [](const Sqlite3Cursor &) {
            return std::vector<CursorAhead::Field>{{0, CursorAhead::Kind::Int64}, {1, CursorAhead::Kind::Utf8}};
        },
        kVisitCacheKiB);
    while (c.next())
        visit(c.int64(0), c.utf8(1));
}

qint64 IOS6MessageDb::messageRowCount()
{
    ensureOpen();
    Sqlite3Cursor c = queryThrow(Sqlite3Sql("select count(*) from message"));
    return c.moveNext() ? c.getInt64(0) : 0;
}

// --- joins and chat updates --------------------------------------------------

void IOS6MessageDb::addChatHandle(qint64 chatId, qint64 handleId)
{
    ensureOpen();
    executeThrow(Sqlite3Sql("replace into chat_handle_join(chat_id,handle_id) values(?,?)")
                     .addInt64Param(chatId)
                     .addInt64Param(handleId));
}

void IOS6MessageDb::addChatMessage(qint64 chatId, qint64 messageId)
{
    ensureOpen();
    executeThrow(Sqlite3Sql("replace into chat_message_join(chat_id,message_id) values(?,?)")
                     .addInt64Param(chatId)
                     .addInt64Param(messageId));
}

void IOS6MessageDb::addMessageAttachment(qint64 messageId, qint64 attachmentId)
{
    ensureOpen();
    executeThrow(Sqlite3Sql("replace into message_attachment_join(message_id,attachment_id) values(?,?)")
                     .addInt64Param(messageId)
                     .addInt64Param(attachmentId));
}

void IOS6MessageDb::setLastAddressedHandle(qint64 chatId, const QString &handleId)
{
    ensureOpen();
    executeThrow(
        Sqlite3Sql("update chat set last_addressed_handle=? where rowid=?").addTextParam(handleId).addInt64Param(chatId));
}

void IOS6MessageDb::updateChatLast(qint64 chatId, int date)
{
    ensureOpen();
    if (!m_cols.chatLast)
        return;
    executeThrow(Sqlite3Sql("update chat set _last=? where rowid=? and _last < ?")
                     .addIntParam(date)
                     .addInt64Param(chatId)
                     .addIntParam(date));
}

// --- inserts -----------------------------------------------------------------

qint64 IOS6MessageDb::insertHandle(const _MsgHandle *handle)
{
    ensureOpen();
    InsertRow row(HandleTable, kHandleColumns, 6);
    row.text(0, handle->id);
    if (!handle->country.isEmpty())
        row.text(1, handle->country);
    row.text(2, handle->service);
    if (!handle->uncanonicalized_id.isEmpty())
        row.text(3, handle->uncanonicalized_id);
    if (m_cols.handleCtName)
        row.text(4, handle->_ct_name);
    if (m_cols.handlePhoto)
        row.blob(5, handle->_photo);
    executeThrow(row.statement(m_insertSql));
    return lastInsertId();
}

qint64 IOS6MessageDb::insertMessage(const _MsgMessage *m, qint64 handleId, qint64 otherHandleId,
                                    const QString &logicHash)
{
    ensureOpen();
    namespace C = IOS6MessageColumn;
    InsertRow row(MessageTable, C::kNames.data(), C::Count);
    // Bound in the table's order, as the statement names them.
    for (int i = 0; i < C::LogicHash; ++i) {
        const C::ColumnDefinition &column = C::kColumns[i];
        if (i >= C::kFirstLater && !m_cols.msgLater[i - C::kFirstLater])
            continue;
        if (i == C::HandleId) {
            row.int64(i, handleId);
        } else if (i == C::OtherHandle) {
            if (otherHandleId > 0)
                row.int64(i, otherHandleId);
        } else if (column.field.text) {
            const QString &value = m->*column.field.text;
            if (!column.nullWhenEmpty || !value.isEmpty())
                row.text(i, value);
        } else if (column.field.blob) {
            const QByteArray &value = m->*column.field.blob;
            if (!column.nullWhenEmpty || !value.isEmpty())
                row.blob(i, value);
        } else {
            row.integer(i, m->*column.field.number);
        }
    }
    if (m_cols.msgLogicHash)
        row.text(C::LogicHash, logicHash.isEmpty() ? messageFingerprint(m) : logicHash);
    executeThrow(row.statement(m_insertSql));
    return lastInsertId();
}

qint64 IOS6MessageDb::insertAttachment(const _MsgAttachment *a)
{
    ensureOpen();
    InsertRow row(AttachmentTable, kAttachmentColumns, 11);
    row.text(0, a->guid).integer(1, a->created_date).integer(2, a->start_date);
    row.text(3, a->filename).text(4, a->uti).text(5, a->mime_type);
    row.integer(6, a->transfer_state).integer(7, a->is_outgoing);
    if (m_cols.attUserInfo && !a->user_info.isEmpty())
        row.blob(8, a->user_info);
    if (m_cols.attTransferName && !a->transfer_name.isEmpty())
        row.text(9, a->transfer_name);
    if (m_cols.attTotalBytes)
        row.int64(10, a->total_bytes);
    executeThrow(row.statement(m_insertSql));
    return lastInsertId();
}

qint64 IOS6MessageDb::insertChat(const _MsgChat *chat)
{
    if (chat->service_name != QLatin1String("SMS") && chat->service_name != QLatin1String("iMessage"))
        throw std::runtime_error(QStringLiteral("IOS6MessageDb::insertChat, invalid chat, service_name:%1")
                                     .arg(chat->service_name)
                                     .toStdString());
    ensureOpen();
    InsertRow row(ChatTable, kChatColumns, 11);
    row.text(0, chat->guid).integer(1, chat->style).integer(2, chat->state);
    if (!chat->account_id.isEmpty())
        row.text(3, chat->account_id);
    row.text(4, chat->chat_identifier).text(5, chat->service_name);
    if (!chat->room_name.isEmpty())
        row.text(6, chat->room_name);
    row.text(7, chat->account_login).integer(8, chat->is_archived);
    if (m_cols.chatDisplayName && !chat->display_name.isEmpty())
        row.text(9, chat->display_name);
    if (m_cols.chatGroupId)
        row.text(10, chat->group_id.isEmpty() ? guidFromData(chat->guid.toUtf8()) : chat->group_id);
    executeThrow(row.statement(m_insertSql));
    const qint64 chatId = lastInsertId();

    // Members in rowid order, so that the handle rows come out the same on
    // every run.
    for (_MsgHandle *h : chat->handleList()) {
        qint64 handleId = handleRowid(h);
        if (handleId == 0)
            handleId = insertHandle(h);
        addChatHandle(chatId, handleId);
    }
    return chatId;
}

// --- delete ------------------------------------------------------------------

bool IOS6MessageDb::deleteMessage(const _MsgMessage *message)
{
    // A recycled record stands for a row of recycle.db, and its rowid (far
    // below zero) names nothing here.
    if (!message || message->_deleted || message->rowid <= 0)
        return false;
    ensureOpen();

    // The guid makes sure the rowid names this message and not another one
    // that happens to have the same rowid in this file.
    executeThrow(
        Sqlite3Sql("DELETE FROM message WHERE rowid=? and guid=?").addInt64Param(message->rowid).addTextParam(message->guid));
    if (changes() == 0)
        return false;
    executeThrow(Sqlite3Sql("DELETE FROM chat_message_join where message_id=?").addInt64Param(message->rowid));
    executeThrow(Sqlite3Sql("DELETE FROM message_attachment_join where message_id=?").addInt64Param(message->rowid));

    if (message->chat && message->chat->rowid > 0) {
        const qint64 chatId = message->chat->rowid;
        executeThrow(
            Sqlite3Sql("DELETE FROM chat WHERE rowid=? and (SELECT 1 from chat_message_join WHERE chat_id=? LIMIT 1) IS NULL")
                .addInt64Param(chatId)
                .addInt64Param(chatId));
        // Foreign keys are not enforced, so the cascade the schema declares
        // does not happen: drop the member joins of the removed conversation
        // here, and its triggers remove the handles nobody refers to any more.
        if (changes() > 0)
            executeThrow(Sqlite3Sql("DELETE FROM chat_handle_join WHERE chat_id=?").addInt64Param(chatId));
    }
    return true;
}

// --- batches of deletions ----------------------------------------------------

namespace
{
// The trigger as the local-database schema creates it, and what it runs.
const char kOrphanTrigger[] =
    "CREATE TRIGGER clean_orphaned_messages AFTER DELETE ON chat_message_join BEGIN DELETE FROM message WHERE "
    "(SELECT 1 FROM chat_message_join WHERE message_id = message.ROWID LIMIT 1) IS NULL; END";
const char kOrphanSweep[] =
    "DELETE FROM message WHERE (SELECT 1 FROM chat_message_join WHERE message_id = message.ROWID LIMIT 1) IS NULL";
} // namespace

void IOS6MessageDb::beginDeletes()
{
    ensureOpen();
    if (!inTransaction() || !m_heldTrigger.isEmpty())
        return;
    QString sql;
    {
        Sqlite3Cursor c = queryThrow(
            Sqlite3Sql("select sql from sqlite_master where type='trigger' and name='clean_orphaned_messages'"));
        if (c.moveNext())
            sql = c.getText(QStringLiteral("sql"));
    }
    if (sql != QLatin1String(kOrphanTrigger))
        return;
    executeThrow(Sqlite3Sql("DROP TRIGGER clean_orphaned_messages"));
    m_heldTrigger = sql;
}

void IOS6MessageDb::endDeletes()
{
    if (m_heldTrigger.isEmpty())
        return;
    executeThrow(Sqlite3Sql(kOrphanSweep));
    executeThrow(Sqlite3Sql(m_heldTrigger));
    m_heldTrigger.clear();
}

void IOS6MessageDb::deletesRolledBack()
{
    m_heldTrigger.clear();
}
