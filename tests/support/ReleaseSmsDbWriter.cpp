#include "ReleaseSmsDbWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

#include "Sqlite3DB.h"

namespace
{

constexpr qint64 kUnixTo2001 = 978307200;

// The base columns of every iOS 5 message table, as 4.x left them.
const char kIOS5Base[] =
    "ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, text TEXT, flags INTEGER, replace "
    "INTEGER, svc_center TEXT, group_id INTEGER, association_id INTEGER, height INTEGER, UIFlags INTEGER, version "
    "INTEGER, subject TEXT, country TEXT, headers BLOB, recipients BLOB, read INTEGER";

const char kIOS50Message[] =
    ", madrid_attributedBody BLOB, madrid_handle TEXT, madrid_version INTEGER, madrid_guid TEXT, madrid_type "
    "INTEGER, madrid_roomname TEXT, madrid_service TEXT, madrid_account TEXT, madrid_flags INTEGER, "
    "madrid_attachmentInfo BLOB, madrid_url TEXT, madrid_error INTEGER, is_madrid INTEGER, madrid_date_read "
    "INTEGER, madrid_date_delivered INTEGER";

// A fresh 5.1 table keeps madrid_account_guid beside madrid_account.
const char kIOS51Message[] =
    ", madrid_attributedBody BLOB, madrid_handle TEXT, madrid_version INTEGER, madrid_guid TEXT, madrid_type "
    "INTEGER, madrid_roomname TEXT, madrid_service TEXT, madrid_account TEXT, madrid_account_guid TEXT, "
    "madrid_flags INTEGER, madrid_attachmentInfo BLOB, madrid_url TEXT, madrid_error INTEGER, is_madrid INTEGER, "
    "madrid_date_read INTEGER, madrid_date_delivered INTEGER";

const char *const kIOS5Tables[] = {
    "CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key))",
    "CREATE TABLE msg_group (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, type INTEGER, newest_message INTEGER, "
    "unread_count INTEGER, hash INTEGER)",
    "CREATE TABLE group_member (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, group_id INTEGER, address TEXT, country "
    "TEXT)",
    "CREATE TABLE msg_pieces (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, message_id INTEGER, data BLOB, part_id "
    "INTEGER, preview_part INTEGER, content_type TEXT, height INTEGER, version INTEGER, flags INTEGER, content_id "
    "TEXT, content_loc TEXT, headers BLOB)",
    "CREATE TABLE madrid_attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, attachment_guid TEXT, created_date "
    "INTEGER, start_date INTEGER, filename TEXT, uti_type TEXT, mime_type TEXT, transfer_state INTEGER, "
    "is_incoming INTEGER, message_id INTEGER)",
    "CREATE TABLE madrid_chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, style INTEGER, state INTEGER, account_id "
    "TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, guid TEXT, room_name TEXT, account_login TEXT, "
    "participants BLOB)",
    "CREATE INDEX message_group_index ON message(group_id, ROWID)",
    "CREATE INDEX message_flags_index ON message(flags)",
    "CREATE INDEX madrid_guid_index ON message(madrid_guid)",
    "CREATE INDEX madrid_roomname_service_index ON message(madrid_roomname, madrid_service)",
    "CREATE INDEX pieces_message_index ON msg_pieces(message_id)",
};

const char kIOS6Message[] =
    "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, text TEXT, replace "
    "INTEGER DEFAULT 0, service_center TEXT, handle_id INTEGER DEFAULT 0, subject TEXT, country TEXT, "
    "attributedBody BLOB, version INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account TEXT, "
    "account_guid TEXT, error INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, date_delivered INTEGER, "
    "is_delivered INTEGER DEFAULT 0, is_finished INTEGER DEFAULT 0, is_emote INTEGER DEFAULT 0, is_from_me INTEGER "
    "DEFAULT 0, is_empty INTEGER DEFAULT 0, is_delayed INTEGER DEFAULT 0, is_auto_reply INTEGER DEFAULT 0, "
    "is_prepared INTEGER DEFAULT 0, is_read INTEGER DEFAULT 0, is_system_message INTEGER DEFAULT 0, is_sent INTEGER "
    "DEFAULT 0, has_dd_results INTEGER DEFAULT 0, is_service_message INTEGER DEFAULT 0, is_forward INTEGER DEFAULT "
    "0, was_downgraded INTEGER DEFAULT 0, is_archive INTEGER DEFAULT 0, cache_has_attachments INTEGER DEFAULT 0, "
    "cache_roomnames TEXT, was_data_detected INTEGER DEFAULT 0, was_deduplicated INTEGER DEFAULT 0";

const char kLaterMessage[] =
    ", is_audio_message INTEGER DEFAULT 0, is_played INTEGER DEFAULT 0, date_played INTEGER, item_type INTEGER "
    "DEFAULT 0, other_handle INTEGER DEFAULT 0, group_title TEXT, group_action_type INTEGER DEFAULT 0, "
    "share_status INTEGER, share_direction INTEGER, is_expirable INTEGER DEFAULT 0, expire_state INTEGER DEFAULT 0, "
    "message_action_type INTEGER DEFAULT 0, message_source INTEGER DEFAULT 0";

const char *const kIOS6Tables[] = {
    "CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key))",
    "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER, state "
    "INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, room_name TEXT, "
    "account_login TEXT, is_archived INTEGER DEFAULT 0, last_addressed_handle TEXT, display_name TEXT)",
    "CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, created_date "
    "INTEGER DEFAULT 0, start_date INTEGER DEFAULT 0, filename TEXT, uti TEXT, mime_type TEXT, transfer_state "
    "INTEGER DEFAULT 0, is_outgoing INTEGER DEFAULT 0)",
    "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, country TEXT, service "
    "TEXT NOT NULL, uncanonicalized_id TEXT, UNIQUE (id, service))",
    "CREATE TABLE chat_handle_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, handle_id INTEGER "
    "REFERENCES handle (ROWID) ON DELETE CASCADE, UNIQUE(chat_id, handle_id))",
    "CREATE TABLE chat_message_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, message_id INTEGER "
    "REFERENCES message (ROWID) ON DELETE CASCADE, PRIMARY KEY (chat_id, message_id))",
    "CREATE TABLE message_attachment_join (message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, "
    "attachment_id INTEGER REFERENCES attachment (ROWID) ON DELETE CASCADE, UNIQUE(message_id, attachment_id))",
    "CREATE INDEX message_idx_handle ON message(handle_id, date)",
    "CREATE INDEX message_idx_is_read ON message(is_read, is_from_me, is_finished)",
    "CREATE INDEX chat_idx_identifier ON chat(chat_identifier)",
    "CREATE INDEX chat_message_join_idx_message_id ON chat_message_join(message_id, chat_id)",
    "CREATE TRIGGER clean_orphaned_handles AFTER DELETE ON chat_handle_join BEGIN DELETE FROM handle WHERE "
    "handle.ROWID = OLD.handle_id AND (SELECT 1 FROM chat_handle_join WHERE handle_id = OLD.handle_id LIMIT 1) IS "
    "NULL AND (SELECT 1 FROM message WHERE handle_id = OLD.handle_id LIMIT 1) IS NULL; END",
    // The phone also has a trigger that deletes messages left without a
    // join; it scans the whole table per deleted join, so the writer deletes
    // those messages itself instead.
};

} // namespace

QString ReleaseSmsDbWriter::releaseName(Release release)
{
    switch (release) {
    case IOS50:
        return QStringLiteral("iOS 5.0 (32)");
    case IOS51:
        return QStringLiteral("iOS 5.1 (33)");
    case IOS6:
        return QStringLiteral("iOS 6 (38)");
    case Later:
        return QStringLiteral("later (51)");
    }
    return QString();
}

QString ReleaseSmsDbWriter::modeName(Mode mode)
{
    return mode == Wal ? QStringLiteral("wal") : QStringLiteral("journal");
}

QString ReleaseSmsDbWriter::messageTable(Release release)
{
    switch (release) {
    case IOS50:
        return QStringLiteral("CREATE TABLE message (%1%2)").arg(QLatin1String(kIOS5Base), QLatin1String(kIOS50Message));
    case IOS51:
        return QStringLiteral("CREATE TABLE message (%1%2)").arg(QLatin1String(kIOS5Base), QLatin1String(kIOS51Message));
    case IOS6:
        return QLatin1String(kIOS6Message) + QLatin1Char(')');
    case Later:
        return QLatin1String(kIOS6Message) + QLatin1String(kLaterMessage) + QLatin1Char(')');
    }
    return QString();
}

QStringList ReleaseSmsDbWriter::schema(Release release)
{
    QStringList out{messageTable(release)};
    if (release == IOS50 || release == IOS51) {
        for (const char *s : kIOS5Tables)
            out.append(QLatin1String(s));
    } else {
        for (const char *s : kIOS6Tables)
            out.append(QLatin1String(s));
    }
    return out;
}

ReleaseSmsDbWriter::ReleaseSmsDbWriter(const QString &sourceFolder, Release release, Mode mode, int pageSize)
    : m_release(release)
    , m_mode(mode)
    , m_path(QDir(sourceFolder).absoluteFilePath(QStringLiteral("file-relay/var/mobile/Library/SMS/sms.db")))
    , m_db(std::make_unique<Sqlite3DB>())
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QFile::remove(m_path);
    QFile::remove(m_path + QStringLiteral("-wal"));
    QFile::remove(m_path + QStringLiteral("-journal"));
    m_db->openThrow(m_path, Sqlite3DB::ReadWriteCreate);
    exec(QStringLiteral("PRAGMA page_size=%1").arg(pageSize));
    // An iOS 5 phone's sms.db vacuums itself at every commit: freed pages
    // leave the file, so deleted rows stay only in pages still in use and
    // in the log.
    exec(isIOS5() ? QStringLiteral("PRAGMA auto_vacuum=FULL") : QStringLiteral("PRAGMA auto_vacuum=NONE"));
    exec(QStringLiteral("PRAGMA secure_delete=OFF"));
    exec(mode == Wal ? QStringLiteral("PRAGMA journal_mode=WAL") : QStringLiteral("PRAGMA journal_mode=DELETE"));
    // What stands on disk is what matters here, not that it is durable.
    exec(QStringLiteral("PRAGMA synchronous=OFF"));
    m_db->beginTran();
    for (const QString &sql : schema(release))
        exec(sql);
    m_db->commitTran();
}

ReleaseSmsDbWriter::~ReleaseSmsDbWriter() = default;

Sqlite3DB &ReleaseSmsDbWriter::db()
{
    return *m_db;
}

void ReleaseSmsDbWriter::exec(const QString &sql)
{
    QString error;
    if (m_db->exec(sql, error) != 0)
        throw std::runtime_error(("sms.db writer: " + error + " in " + sql).toStdString());
}

void ReleaseSmsDbWriter::beginBatch()
{
    m_db->beginTran();
    m_batch = true;
}

void ReleaseSmsDbWriter::endBatch()
{
    m_batch = false;
    m_db->commitTran();
}

qint64 ReleaseSmsDbWriter::handleOf(const QString &address, bool iMessage)
{
    const QString service = iMessage ? QStringLiteral("iMessage") : QStringLiteral("SMS");
    const QString key = service + QLatin1Char(':') + address;
    const auto it = m_handles.constFind(key);
    if (it != m_handles.constEnd())
        return *it;
    m_db->executeThrow(Sqlite3Sql("INSERT INTO handle (id, country, service, uncanonicalized_id) VALUES (?, ?, ?, ?)")
                           .addTextParam(address)
                           .addTextParam(QStringLiteral("in"))
                           .addTextParam(service)
                           .addTextParam(address));
    const qint64 handle = m_db->lastInsertId();
    m_handles.insert(key, handle);
    m_db->executeThrow(Sqlite3Sql("INSERT INTO chat (guid, style, state, account_id, chat_identifier, service_name, "
                                  "account_login) VALUES (?, 45, 3, ?, ?, ?, 'E:')")
                           .addTextParam(service + QStringLiteral(";-;") + address)
                           .addTextParam(QStringLiteral("6B1D2C7E-4F0A-4B8E-9C3D-2A5F6E7D8C9B"))
                           .addTextParam(address)
                           .addTextParam(service));
    const qint64 chat = m_db->lastInsertId();
    m_chats.insert(key, chat);
    m_db->executeThrow(Sqlite3Sql("INSERT INTO chat_handle_join (chat_id, handle_id) VALUES (?, ?)")
                           .addInt64Param(chat)
                           .addInt64Param(handle));
    return handle;
}

qint64 ReleaseSmsDbWriter::addMessage(const Message &m)
{
    if (!m_batch)
        m_db->beginTran();
    Sqlite3Sql sql;
    if (isIOS5()) {
        if (!m.iMessage) {
            sql = Sqlite3Sql("INSERT INTO message (ROWID, address, date, text, flags, replace, svc_center, group_id, "
                             "association_id, height, UIFlags, version, subject, country, headers, recipients, read, "
                             "madrid_version, madrid_type, madrid_error, is_madrid, madrid_date_read, "
                             "madrid_date_delivered) VALUES (?, ?, ?, ?, ?, 0, NULL, 1, 0, 0, 4, 0, NULL, 'in', NULL, "
                             "NULL, 1, 0, 0, 0, 0, 0, 0)");
            if (m.rowid > 0)
                sql.addInt64Param(m.rowid);
            else
                sql.addNullParam();
            sql.addTextParam(m.address).addInt64Param(m.date + kUnixTo2001).addTextParam(m.text);
            sql.addIntParam(m.fromMe ? 3 : 2);
        } else {
            // 5.0 has no account guid yet.
            const bool accountGuid = m_release == IOS51;
            sql = Sqlite3Sql(QStringLiteral("INSERT INTO message (ROWID, address, date, text, flags, replace, svc_center, "
                                            "group_id, association_id, height, UIFlags, version, subject, country, "
                                            "headers, recipients, read, madrid_handle, madrid_version, madrid_guid, "
                                            "madrid_type, madrid_roomname, madrid_service, madrid_account, %1"
                                            "madrid_flags, madrid_error, is_madrid, madrid_date_read, "
                                            "madrid_date_delivered) VALUES (?, NULL, ?, ?, 0, 0, NULL, 0, 0, 0, 0, "
                                            "0, NULL, NULL, NULL, NULL, 1, ?, 1, ?, 0, ?, 'Madrid', "
                                            "'e:me@example.com', %2?, 0, 1, ?, ?)")
                                 .arg(accountGuid ? QStringLiteral("madrid_account_guid, ") : QString(),
                                      accountGuid ? QStringLiteral("'0B7E5D6C-1A2B-4C3D-8E9F-0A1B2C3D4E5F', ")
                                                  : QString()));
            if (m.rowid > 0)
                sql.addInt64Param(m.rowid);
            else
                sql.addNullParam();
            sql.addInt64Param(m.date).addTextParam(m.text).addTextParam(m.address).addTextParam(m.guid);
            if (m.room.isEmpty())
                sql.addNullParam();
            else
                sql.addTextParam(m.room);
            sql.addIntParam(m.fromMe ? 36869 : 12289).addInt64Param(m.fromMe ? 0 : m.date + 20);
            sql.addInt64Param(m.fromMe ? m.date + 3 : 0);
        }
        m_db->executeThrow(sql);
    } else {
        const qint64 handle = handleOf(m.address, m.iMessage);
        const QString service = m.iMessage ? QStringLiteral("iMessage") : QStringLiteral("SMS");
        sql = Sqlite3Sql("INSERT INTO message (ROWID, guid, text, handle_id, version, service, account, account_guid, "
                         "date, date_read, date_delivered, is_delivered, is_finished, is_from_me, is_prepared, "
                         "is_read, is_sent, was_data_detected) VALUES (?, ?, ?, ?, 10, ?, ?, ?, ?, ?, ?, 1, 1, ?, ?, "
                         "?, ?, 1)");
        if (m.rowid > 0)
            sql.addInt64Param(m.rowid);
        else
            sql.addNullParam();
        sql.addTextParam(m.guid).addTextParam(m.text).addInt64Param(handle).addTextParam(service);
        sql.addTextParam(m.iMessage ? QStringLiteral("e:me@example.com") : QStringLiteral("p:+919800000000"));
        sql.addTextParam(QStringLiteral("6B1D2C7E-4F0A-4B8E-9C3D-2A5F6E7D8C9B"));
        sql.addInt64Param(m.date).addInt64Param(m.fromMe ? 0 : m.date + 20).addInt64Param(m.fromMe ? m.date + 3 : 0);
        sql.addIntParam(m.fromMe ? 1 : 0).addIntParam(m.fromMe ? 1 : 0).addIntParam(m.fromMe ? 0 : 1);
        sql.addIntParam(m.fromMe ? 1 : 0);
        m_db->executeThrow(sql);
    }
    const qint64 rowid = m_db->lastInsertId();
    if (!isIOS5()) {
        m_db->executeThrow(Sqlite3Sql("INSERT INTO chat_message_join (chat_id, message_id) VALUES (?, ?)")
                               .addInt64Param(m_chats.value((m.iMessage ? QStringLiteral("iMessage:")
                                                                        : QStringLiteral("SMS:"))
                                                            + m.address))
                               .addInt64Param(rowid));
    }
    if (!m_batch)
        m_db->commitTran();
    return rowid;
}

void ReleaseSmsDbWriter::deleteMessage(qint64 rowid)
{
    if (!m_batch)
        m_db->beginTran();
    m_db->executeThrow(Sqlite3Sql("DELETE FROM message WHERE ROWID = ?").addInt64Param(rowid));
    if (!isIOS5())
        m_db->executeThrow(Sqlite3Sql("DELETE FROM chat_message_join WHERE message_id = ?").addInt64Param(rowid));
    if (!m_batch)
        m_db->commitTran();
}

void ReleaseSmsDbWriter::deleteConversation(const QString &address, bool iMessage)
{
    if (isIOS5())
        throw std::logic_error("iOS 5 conversations are deleted message by message");
    const QString key = (iMessage ? QStringLiteral("iMessage:") : QStringLiteral("SMS:")) + address;
    const qint64 chat = m_chats.value(key);
    if (!m_batch)
        m_db->beginTran();
    // Messages and their joins first; the handle's trigger then takes the
    // handle with the last join.
    m_db->executeThrow(Sqlite3Sql("DELETE FROM message WHERE ROWID IN (SELECT message_id FROM chat_message_join "
                                  "WHERE chat_id = ?)")
                           .addInt64Param(chat));
    m_db->executeThrow(Sqlite3Sql("DELETE FROM chat_message_join WHERE chat_id = ?").addInt64Param(chat));
    m_db->executeThrow(Sqlite3Sql("DELETE FROM chat_handle_join WHERE chat_id = ?").addInt64Param(chat));
    m_db->executeThrow(Sqlite3Sql("DELETE FROM chat WHERE ROWID = ?").addInt64Param(chat));
    if (!m_batch)
        m_db->commitTran();
    m_chats.remove(key);
    m_handles.remove(key);
}

void ReleaseSmsDbWriter::setSecureDelete(bool on)
{
    exec(on ? QStringLiteral("PRAGMA secure_delete=ON") : QStringLiteral("PRAGMA secure_delete=OFF"));
}

void ReleaseSmsDbWriter::restartLog()
{
    if (m_mode != Wal)
        return;
    exec(QStringLiteral("PRAGMA wal_checkpoint(RESTART)"));
}
