#include "IOS6SmsDbFixture.h"

#include <QFile>
#include <QFileInfo>

#include <stdexcept>

#include "Sqlite3DB.h"

namespace
{

const char kMessageBase[] =
    "ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, text TEXT, replace INTEGER DEFAULT 0, "
    "service_center TEXT, handle_id INTEGER DEFAULT 0, subject TEXT, country TEXT, attributedBody BLOB, "
    "version INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account TEXT, account_guid TEXT, "
    "error INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, date_delivered INTEGER, "
    "is_delivered INTEGER DEFAULT 0, is_finished INTEGER DEFAULT 0, is_emote INTEGER DEFAULT 0, "
    "is_from_me INTEGER DEFAULT 0, is_empty INTEGER DEFAULT 0, is_delayed INTEGER DEFAULT 0, "
    "is_auto_reply INTEGER DEFAULT 0, is_prepared INTEGER DEFAULT 0, is_read INTEGER DEFAULT 0, "
    "is_system_message INTEGER DEFAULT 0, is_sent INTEGER DEFAULT 0, has_dd_results INTEGER DEFAULT 0, "
    "is_service_message INTEGER DEFAULT 0, is_forward INTEGER DEFAULT 0, was_downgraded INTEGER DEFAULT 0, "
    "is_archive INTEGER DEFAULT 0, cache_has_attachments INTEGER DEFAULT 0, cache_roomnames TEXT, "
    "was_data_detected INTEGER DEFAULT 0, was_deduplicated INTEGER DEFAULT 0";

const char kMessageLater[] =
    ", is_audio_message INTEGER DEFAULT 0, is_played INTEGER DEFAULT 0, date_played INTEGER, "
    "item_type INTEGER DEFAULT 0, other_handle INTEGER DEFAULT -1, group_title TEXT, "
    "group_action_type INTEGER DEFAULT 0, share_status INTEGER, share_direction INTEGER, "
    "is_expirable INTEGER DEFAULT 0, expire_state INTEGER DEFAULT 0, message_action_type INTEGER DEFAULT 0";

const char kJoinsAndTriggers[] =
    "CREATE TABLE chat_handle_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, handle_id INTEGER "
    "REFERENCES handle (ROWID) ON DELETE CASCADE, UNIQUE(chat_id, handle_id));"
    "CREATE TABLE chat_message_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE, message_id INTEGER "
    "REFERENCES message (ROWID) ON DELETE CASCADE, PRIMARY KEY (chat_id, message_id));"
    "CREATE INDEX chat_message_join_idx_message_id ON chat_message_join(message_id, chat_id);"
    "CREATE TABLE message_attachment_join (message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, "
    "attachment_id INTEGER REFERENCES attachment (ROWID) ON DELETE CASCADE, UNIQUE(message_id, attachment_id));"
    "CREATE INDEX message_idx_handle ON message(handle_id, date);"
    "CREATE TRIGGER clean_orphaned_handles AFTER DELETE ON chat_handle_join BEGIN DELETE FROM handle WHERE "
    "handle.ROWID = OLD.handle_id AND (SELECT 1 FROM chat_handle_join WHERE handle_id = OLD.handle_id LIMIT 1) IS "
    "NULL AND (SELECT 1 FROM message WHERE handle_id = OLD.handle_id LIMIT 1) IS NULL; END;"
    "CREATE TRIGGER clean_orphaned_messages AFTER DELETE ON chat_message_join BEGIN DELETE FROM message WHERE "
    "(SELECT 1 FROM chat_message_join WHERE message_id = message.ROWID LIMIT 1) IS NULL; END;"
    "CREATE TRIGGER clean_orphaned_attachments AFTER DELETE ON message_attachment_join BEGIN DELETE FROM "
    "attachment WHERE attachment.ROWID = OLD.attachment_id AND (SELECT 1 FROM message_attachment_join WHERE "
    "attachment_id = OLD.attachment_id LIMIT 1) IS NULL; END;";

// The phone removes an attachment's file when its row goes.
const char kDeviceAttachmentTriggers[] =
    "CREATE TRIGGER before_delete_on_attachment BEFORE DELETE ON attachment BEGIN SELECT "
    "before_delete_attachment_path(OLD.ROWID, OLD.guid); END;"
    "CREATE TRIGGER after_delete_on_attachment AFTER DELETE ON attachment BEGIN SELECT "
    "delete_attachment_path(OLD.filename); END;";

void execOrThrow(Sqlite3DB &db, const QString &sql)
{
    QString error;
    if (db.exec(sql, error) != 0)
        throw std::runtime_error(("fixture schema: " + error).toStdString());
}

} // namespace

IOS6SmsDbFixture::IOS6SmsDbFixture(const QString &path, Shape shape, bool laterColumns, const QString &guidColumn)
    : m_db(std::make_unique<Sqlite3DB>())
    , m_later(shape == Device && laterColumns)
{
    QFile::remove(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_db->openThrow(path, Sqlite3DB::ReadWriteCreate);

    QString sql = QStringLiteral("CREATE TABLE message (") + QLatin1String(kMessageBase);
    if (!guidColumn.isEmpty())
        sql.replace(QStringLiteral("guid TEXT UNIQUE NOT NULL"), QStringLiteral("guid ") + guidColumn);
    if (m_later)
        sql += QLatin1String(kMessageLater);
    sql += QStringLiteral(");");
    if (shape == Device) {
        sql += QStringLiteral(
            "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, country TEXT, "
            "service TEXT NOT NULL, uncanonicalized_id TEXT, UNIQUE (id, service));"
            "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER, "
            "state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, room_name "
            "TEXT, account_login TEXT, is_archived INTEGER DEFAULT 0, last_addressed_handle TEXT, display_name "
            "TEXT);");
        sql += m_later ? QStringLiteral("CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT "
                                        "UNIQUE NOT NULL, created_date INTEGER DEFAULT 0, start_date INTEGER DEFAULT "
                                        "0, filename TEXT, uti TEXT, mime_type TEXT, transfer_state INTEGER DEFAULT "
                                        "0, is_outgoing INTEGER DEFAULT 0, user_info BLOB, transfer_name TEXT, "
                                        "total_bytes INTEGER DEFAULT 0);")
                       : QStringLiteral("CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT "
                                        "UNIQUE NOT NULL, created_date INTEGER DEFAULT 0, start_date INTEGER DEFAULT "
                                        "0, filename TEXT, uti TEXT, mime_type TEXT, transfer_state INTEGER DEFAULT "
                                        "0, is_outgoing INTEGER DEFAULT 0);");
        sql += QLatin1String(kDeviceAttachmentTriggers);
    } else {
        sql += QStringLiteral(
            "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, country TEXT, "
            "service TEXT NOT NULL, uncanonicalized_id TEXT, _ct_name TEXT, _photo BLOB, UNIQUE (id, service));"
            "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER, "
            "state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, room_name "
            "TEXT, account_login TEXT, is_archived INTEGER DEFAULT 0, last_addressed_handle TEXT, display_name "
            "TEXT, _last INTEGER DEFAULT 0);"
            "CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, "
            "created_date INTEGER DEFAULT 0, start_date INTEGER DEFAULT 0, filename TEXT, uti TEXT, mime_type TEXT, "
            "transfer_state INTEGER DEFAULT 0, is_outgoing INTEGER DEFAULT 0, user_info BLOB, transfer_name TEXT, "
            "total_bytes INTEGER DEFAULT 0);");
    }
    sql += QLatin1String(kJoinsAndTriggers);
    execOrThrow(*m_db, sql);
}

IOS6SmsDbFixture::~IOS6SmsDbFixture() = default;

QString IOS6SmsDbFixture::smsDbPath(const QDir &root)
{
    return root.absoluteFilePath(QStringLiteral("file-relay/var/mobile/Library/SMS/sms.db"));
}

Sqlite3DB &IOS6SmsDbFixture::db()
{
    return *m_db;
}

void IOS6SmsDbFixture::begin()
{
    m_db->beginTran();
}

void IOS6SmsDbFixture::commit()
{
    m_db->commitTran();
}

qint64 IOS6SmsDbFixture::addHandle(const QString &id, const QString &service, const QString &country)
{
    m_db->executeThrow(Sqlite3Sql("insert into handle(id, country, service, uncanonicalized_id) values(?,?,?,?)")
                           .addTextParam(id)
                           .addTextParam(country)
                           .addTextParam(service)
                           .addTextParam(id));
    return m_db->lastInsertId();
}

qint64 IOS6SmsDbFixture::addChat(const QString &guid, const QString &identifier, const QString &service, int style,
                                 const QString &displayName)
{
    m_db->executeThrow(Sqlite3Sql("insert into chat(guid, style, state, account_id, chat_identifier, service_name, "
                                  "account_login, display_name) values(?,?,3,'',?,?,'E:',?)")
                           .addTextParam(guid)
                           .addIntParam(style)
                           .addTextParam(identifier)
                           .addTextParam(service)
                           .addTextParam(displayName));
    return m_db->lastInsertId();
}

void IOS6SmsDbFixture::joinChatHandle(qint64 chat, qint64 handle)
{
    m_db->executeThrow(
        Sqlite3Sql("insert into chat_handle_join(chat_id, handle_id) values(?,?)").addInt64Param(chat).addInt64Param(handle));
}

qint64 IOS6SmsDbFixture::addMessage(qint64 chat, qint64 handle, const QString &guid, const QString &text, int date,
                                    int isFromMe, int itemType, qint64 otherHandle, const QString &service)
{
    if (m_later) {
        m_db->executeThrow(Sqlite3Sql("insert into message(guid, text, handle_id, version, service, account, date, "
                                      "date_read, date_delivered, is_from_me, is_finished, is_sent, is_read, "
                                      "item_type, other_handle) values(?,?,?,10,?,'e:',?,?,?,?,1,1,1,?,?)")
                               .addTextParam(guid)
                               .addTextParam(text)
                               .addInt64Param(handle)
                               .addTextParam(service)
                               .addIntParam(date)
                               .addIntParam(date)
                               .addIntParam(date)
                               .addIntParam(isFromMe)
                               .addIntParam(itemType)
                               .addInt64Param(otherHandle));
    } else {
        m_db->executeThrow(Sqlite3Sql("insert into message(guid, text, handle_id, version, service, account, date, "
                                      "date_read, date_delivered, is_from_me, is_finished, is_sent, is_read) "
                                      "values(?,?,?,10,?,'e:',?,?,?,?,1,1,1)")
                               .addTextParam(guid)
                               .addTextParam(text)
                               .addInt64Param(handle)
                               .addTextParam(service)
                               .addIntParam(date)
                               .addIntParam(date)
                               .addIntParam(date)
                               .addIntParam(isFromMe));
    }
    const qint64 id = m_db->lastInsertId();
    if (chat > 0)
        joinChatMessage(chat, id);
    return id;
}

void IOS6SmsDbFixture::joinChatMessage(qint64 chat, qint64 message)
{
    m_db->executeThrow(Sqlite3Sql("insert into chat_message_join(chat_id, message_id) values(?,?)")
                           .addInt64Param(chat)
                           .addInt64Param(message));
}

qint64 IOS6SmsDbFixture::addAttachment(qint64 message, const QString &guid, const QString &filename,
                                       const QString &mimeType)
{
    m_db->executeThrow(Sqlite3Sql("insert into attachment(guid, filename, mime_type, transfer_state) values(?,?,?,5)")
                           .addTextParam(guid)
                           .addTextParam(filename)
                           .addTextParam(mimeType));
    const qint64 id = m_db->lastInsertId();
    if (message > 0)
        joinMessageAttachment(message, id);
    return id;
}

void IOS6SmsDbFixture::joinMessageAttachment(qint64 message, qint64 attachment)
{
    m_db->executeThrow(Sqlite3Sql("insert into message_attachment_join(message_id, attachment_id) values(?,?)")
                           .addInt64Param(message)
                           .addInt64Param(attachment));
}

QString IOS6SmsDbFixture::writeDeviceFile(const QDir &root, const QString &devicePath, const QByteArray &bytes)
{
    const QString path = root.absoluteFilePath(QStringLiteral("file-relay") + devicePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        throw std::runtime_error(("fixture file: " + path).toStdString());
    return path;
}
