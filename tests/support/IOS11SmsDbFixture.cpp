#include "IOS11SmsDbFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

#include "Sqlite3DB.h"

namespace
{

// The tables of an iOS 11 phone's sms.db, as the phone declares them.
const char kSchema[] =
    "CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));"
    "CREATE TABLE deleted_messages (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL);"
    "CREATE TABLE chat_handle_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, handle_id INTEGER "
    "REFERENCES handle (ROWID) ON DELETE CASCADE, UNIQUE(chat_id, handle_id));"
    "CREATE TABLE sync_deleted_messages (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, "
    "recordID TEXT );"
    "CREATE TABLE message_processing_task (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, "
    "task_flags INTEGER NOT NULL );"
    "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, country TEXT, service "
    "TEXT NOT NULL, uncanonicalized_id TEXT, UNIQUE (id, service) );"
    "CREATE TABLE sync_deleted_chats (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, recordID "
    "TEXT,timestamp INTEGER);"
    "CREATE TABLE message_attachment_join (message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, "
    "attachment_id INTEGER REFERENCES attachment (ROWID) ON DELETE CASCADE, UNIQUE(message_id, attachment_id));"
    "CREATE TABLE sync_deleted_attachments (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, guid TEXT NOT NULL, "
    "recordID TEXT );"
    "CREATE TABLE kvtable (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, key TEXT UNIQUE NOT NULL, value BLOB "
    "NOT NULL);"
    "CREATE TABLE chat_message_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, message_id INTEGER "
    "REFERENCES message (ROWID) ON DELETE CASCADE, message_date INTEGER DEFAULT 0, PRIMARY KEY (chat_id, "
    "message_id));"
    "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, text TEXT, replace "
    "INTEGER DEFAULT 0, service_center TEXT, handle_id INTEGER DEFAULT 0, subject TEXT, country TEXT, "
    "attributedBody BLOB, version INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account TEXT, "
    "account_guid TEXT, error INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, date_delivered INTEGER, "
    "is_delivered INTEGER DEFAULT 0, is_finished INTEGER DEFAULT 0, is_emote INTEGER DEFAULT 0, is_from_me INTEGER "
    "DEFAULT 0, is_empty INTEGER DEFAULT 0, is_delayed INTEGER DEFAULT 0, is_auto_reply INTEGER DEFAULT 0, "
    "is_prepared INTEGER DEFAULT 0, is_read INTEGER DEFAULT 0, is_system_message INTEGER DEFAULT 0, is_sent "
    "INTEGER DEFAULT 0, has_dd_results INTEGER DEFAULT 0, is_service_message INTEGER DEFAULT 0, is_forward INTEGER "
    "DEFAULT 0, was_downgraded INTEGER DEFAULT 0, is_archive INTEGER DEFAULT 0, cache_has_attachments INTEGER "
    "DEFAULT 0, cache_roomnames TEXT, was_data_detected INTEGER DEFAULT 0, was_deduplicated INTEGER DEFAULT 0, "
    "is_audio_message INTEGER DEFAULT 0, is_played INTEGER DEFAULT 0, date_played INTEGER, item_type INTEGER "
    "DEFAULT 0, other_handle INTEGER DEFAULT 0, group_title TEXT, group_action_type INTEGER DEFAULT 0, "
    "share_status INTEGER DEFAULT 0, share_direction INTEGER DEFAULT 0, is_expirable INTEGER DEFAULT 0, "
    "expire_state INTEGER DEFAULT 0, message_action_type INTEGER DEFAULT 0, message_source INTEGER DEFAULT 0, "
    "associated_message_guid TEXT, associated_message_type INTEGER DEFAULT 0, balloon_bundle_id TEXT, payload_data "
    "BLOB, expressive_send_style_id TEXT, associated_message_range_location INTEGER DEFAULT 0, "
    "associated_message_range_length INTEGER DEFAULT 0, time_expressive_send_played INTEGER, message_summary_info "
    "BLOB, ck_sync_state INTEGER DEFAULT 0, ck_record_id TEXT, ck_record_change_tag TEXT, destination_caller_id "
    "TEXT);"
    "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER, state "
    "INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, room_name TEXT, "
    "account_login TEXT, is_archived INTEGER DEFAULT 0, last_addressed_handle TEXT, display_name TEXT, group_id "
    "TEXT, is_filtered INTEGER, successful_query INTEGER, engram_id TEXT, server_change_token TEXT, ck_sync_state "
    "INTEGER DEFAULT 0, original_group_id TEXT, last_read_message_timestamp INTEGER DEFAULT 0, "
    "ck_record_system_property_blob BLOB);"
    "CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, created_date "
    "INTEGER DEFAULT 0, start_date INTEGER DEFAULT 0, filename TEXT, uti TEXT, mime_type TEXT, transfer_state "
    "INTEGER DEFAULT 0, is_outgoing INTEGER DEFAULT 0, user_info BLOB, transfer_name TEXT, total_bytes INTEGER "
    "DEFAULT 0, is_sticker INTEGER DEFAULT 0, sticker_user_info BLOB, attribution_info BLOB, hide_attachment "
    "INTEGER DEFAULT 0, ck_sync_state INTEGER DEFAULT 0, ck_server_change_token_blob BLOB, ck_record_id TEXT, "
    "original_guid TEXT UNIQUE NOT NULL);";

const QString kAccount = QStringLiteral("p:+15555550100");
const QString kAccountGuid = QStringLiteral("6E4B5C1D-2F3A-4B8C-9D0E-1F2A3B4C5D6E");

} // namespace

IOS11SmsDbFixture::IOS11SmsDbFixture(const QString &path)
    : m_db(std::make_unique<Sqlite3DB>())
{
    QFile::remove(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_db->openThrow(path, Sqlite3DB::ReadWriteCreate);
    QString error;
    if (m_db->exec(QString::fromLatin1(kSchema), error) != 0)
        throw std::runtime_error(("fixture schema: " + error).toStdString());
}

IOS11SmsDbFixture::~IOS11SmsDbFixture() = default;

Sqlite3DB &IOS11SmsDbFixture::db()
{
    return *m_db;
}

qint64 IOS11SmsDbFixture::addHandle(const QString &id, const QString &service)
{
    m_db->executeThrow(Sqlite3Sql("insert into handle(id, country, service, uncanonicalized_id) values(?,'us',?,NULL)")
                           .addTextParam(id)
                           .addTextParam(service));
    return m_db->lastInsertId();
}

qint64 IOS11SmsDbFixture::addChat(qint64 handle, const QString &identifier, const QString &service)
{
    const QString groupId = QStringLiteral("A1B2C3D4-0000-4000-8000-%1").arg(handle, 12, 10, QLatin1Char('0'));
    m_db->executeThrow(Sqlite3Sql("insert into chat(guid, style, state, account_id, chat_identifier, service_name, "
                                  "account_login, is_archived, last_addressed_handle, display_name, group_id, "
                                  "is_filtered, successful_query, server_change_token, ck_sync_state, "
                                  "original_group_id, last_read_message_timestamp) "
                                  "values(?,45,3,?,?,?,'P:+15555550100',0,'+15555550100','',?,0,1,'',0,?,0)")
                           .addTextParam(service + QStringLiteral(";-;") + identifier)
                           .addTextParam(kAccountGuid)
                           .addTextParam(identifier)
                           .addTextParam(service)
                           .addTextParam(groupId)
                           .addTextParam(groupId));
    const qint64 chat = m_db->lastInsertId();
    m_db->executeThrow(Sqlite3Sql("insert into chat_handle_join(chat_id, handle_id) values(?,?)")
                           .addInt64Param(chat)
                           .addInt64Param(handle));
    return chat;
}

qint64 IOS11SmsDbFixture::addMessage(const Message &m)
{
    const bool sms = m.service == QLatin1String("SMS");
    m_db->executeThrow(
        Sqlite3Sql("insert into message(guid, text, handle_id, version, type, service, account, account_guid, date, "
                   "date_read, date_delivered, is_delivered, is_finished, is_from_me, is_read, is_sent, "
                   "is_audio_message, is_played, date_played, item_type, other_handle, message_source, "
                   "ck_sync_state) values(?,?,?,10,0,?,?,?,?,?,?,1,1,?,?,?,?,?,?,0,0,0,0)")
            .addTextParam(m.guid)
            .addTextParam(m.text)
            .addInt64Param(m.handle)
            .addTextParam(m.service)
            .addTextParam(sms ? QStringLiteral("P:+15555550100") : QStringLiteral("e:"))
            .addTextParam(kAccountGuid)
            .addInt64Param(m.date)
            .addInt64Param(m.dateRead)
            .addInt64Param(m.dateDelivered)
            .addIntParam(m.isFromMe)
            .addIntParam(m.isFromMe ? 0 : (m.dateRead != 0 ? 1 : 0))
            .addIntParam(m.isFromMe)
            .addIntParam(m.audio ? 1 : 0)
            .addIntParam(m.datePlayed != 0 ? 1 : 0)
            .addInt64Param(m.datePlayed));
    const qint64 id = m_db->lastInsertId();
    if (m.chat > 0)
        m_db->executeThrow(Sqlite3Sql("insert into chat_message_join(chat_id, message_id, message_date) values(?,?,?)")
                               .addInt64Param(m.chat)
                               .addInt64Param(id)
                               .addInt64Param(m.date));
    return id;
}

qint64 IOS11SmsDbFixture::addAttachment(qint64 message, const QString &guid, const QString &filename,
                                        const QString &mimeType, qint64 createdDate)
{
    m_db->executeThrow(Sqlite3Sql("insert into attachment(guid, created_date, start_date, filename, uti, mime_type, "
                                  "transfer_state, is_outgoing, transfer_name, total_bytes, original_guid) "
                                  "values(?,?,0,?,'public.jpeg',?,5,0,?,2048,?)")
                           .addTextParam(guid)
                           .addInt64Param(createdDate)
                           .addTextParam(filename)
                           .addTextParam(mimeType)
                           .addTextParam(QFileInfo(filename).fileName())
                           .addTextParam(guid));
    const qint64 id = m_db->lastInsertId();
    m_db->executeThrow(Sqlite3Sql("insert into message_attachment_join(message_id, attachment_id) values(?,?)")
                           .addInt64Param(message)
                           .addInt64Param(id));
    return id;
}
