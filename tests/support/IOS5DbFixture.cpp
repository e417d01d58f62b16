#include "IOS5DbFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

#include "PlistNode.h"

namespace
{

const char kGroupTable[] = "CREATE TABLE msg_group (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, type INTEGER,"
                           " newest_message INTEGER, unread_count INTEGER, hash INTEGER)";
const char kMemberTable[] = "CREATE TABLE group_member (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, group_id INTEGER,"
                            " address TEXT, country TEXT)";
const char kMadridChatTable[] =
    "CREATE TABLE madrid_chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, style INTEGER, state INTEGER,"
    " account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, guid TEXT, room_name TEXT,"
    " account_login TEXT, participants BLOB)";
// The parts of MMS messages, as the phone declares them.
const char kPiecesTable[] =
    "CREATE TABLE msg_pieces (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, message_id INTEGER, data BLOB,"
    " part_id INTEGER, preview_part INTEGER, content_type TEXT, height INTEGER, version INTEGER, flags INTEGER,"
    " content_id TEXT, content_loc TEXT, headers BLOB)";
const char kPiecesIndex[] = "CREATE INDEX pieces_message_index ON msg_pieces(message_id)";
// The columns every release has, then the ones iMessage added.
const char kMessageColumns[] =
    "ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, text TEXT, flags INTEGER,"
    " replace INTEGER, svc_center TEXT, group_id INTEGER, association_id INTEGER, height INTEGER,"
    " UIFlags INTEGER, version INTEGER, subject TEXT, country TEXT, headers BLOB, recipients BLOB, read INTEGER";
const char kMadridColumns[] =
    ", madrid_attributedBody BLOB, madrid_handle TEXT, madrid_version INTEGER, madrid_guid TEXT,"
    " madrid_type INTEGER, madrid_roomname TEXT, madrid_service TEXT, madrid_account TEXT, madrid_flags INTEGER,"
    " madrid_attachmentInfo BLOB, madrid_url TEXT, madrid_error INTEGER, is_madrid INTEGER,"
    " madrid_date_read INTEGER, madrid_date_delivered INTEGER, madrid_account_guid TEXT";

// An iOS 5.1 phone's own message table and the trigger that deletes the
// parts of a deleted message (read from a real phone's sms.db).
const char kPhone51MessageTable[] =
    "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, text TEXT,"
    " flags INTEGER, replace INTEGER, svc_center TEXT, group_id INTEGER, association_id INTEGER, height INTEGER,"
    " UIFlags INTEGER, version INTEGER, subject TEXT, country TEXT, headers BLOB, recipients BLOB, read INTEGER,"
    " madrid_attributedBody BLOB, madrid_handle TEXT, madrid_version INTEGER, madrid_guid TEXT,"
    " madrid_type INTEGER, madrid_roomname TEXT, madrid_service TEXT, madrid_account TEXT,"
    " madrid_account_guid TEXT, madrid_flags INTEGER, madrid_attachmentInfo BLOB, madrid_url TEXT,"
    " madrid_error INTEGER, is_madrid INTEGER, madrid_date_read INTEGER, madrid_date_delivered INTEGER)";
const char kPhone51PiecesTrigger[] =
    "CREATE TRIGGER delete_pieces AFTER DELETE ON message BEGIN DELETE from msg_pieces where old.ROWID =="
    " msg_pieces.message_id; END";

Sqlite3Sql &addOptionalText(Sqlite3Sql &sql, const QString &value)
{
    // Empty optional texts stay NULL, as the device leaves them.
    return value.isEmpty() ? sql.addNullParam() : sql.addTextParam(value);
}

} // namespace

IOS5DbFixture::IOS5DbFixture(const QString &sourceFolder, Layout layout)
    : m_folder(sourceFolder)
    , m_layout(layout)
{
    const QString path = dbPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        throw std::runtime_error("cannot make the folder of " + path.toStdString());
    QFile::remove(path);
    m_db.openThrow(path, Sqlite3DB::ReadWriteCreate);
    m_db.executeThrow(kGroupTable);
    m_db.executeThrow(kMemberTable);
    if (layout == Full || layout == Phone51)
        m_db.executeThrow(kMadridChatTable);
    QString message = QStringLiteral("CREATE TABLE message (%1").arg(QLatin1String(kMessageColumns));
    if (layout != BeforeIMessage)
        message += QLatin1String(kMadridColumns);
    m_db.executeThrow(layout == Phone51 ? Sqlite3Sql(kPhone51MessageTable) : Sqlite3Sql(message + QLatin1Char(')')));
    m_db.executeThrow(kPiecesTable);
    m_db.executeThrow(kPiecesIndex);
    if (layout == Phone51)
        m_db.executeThrow(kPhone51PiecesTrigger);
}

QString IOS5DbFixture::smsDbPath(const QString &sourceFolder)
{
    return QDir(sourceFolder).filePath(QStringLiteral("file-relay/var/mobile/Library/SMS/sms.db"));
}

void IOS5DbFixture::addGroup(qint64 rowid, qint64 hash, qint64 newestMessage)
{
    m_db.executeThrow(Sqlite3Sql("insert into msg_group (ROWID, type, newest_message, unread_count, hash)"
                                 " values (?, 0, ?, 0, ?)")
                          .addInt64Param(rowid)
                          .addInt64Param(newestMessage)
                          .addInt64Param(hash));
}

void IOS5DbFixture::addMember(qint64 rowid, qint64 groupId, const QString &address, const QString &country)
{
    m_db.executeThrow(Sqlite3Sql("insert into group_member (ROWID, group_id, address, country) values (?, ?, ?, ?)")
                          .addInt64Param(rowid)
                          .addInt64Param(groupId)
                          .addTextParam(address)
                          .addTextParam(country));
}

QByteArray IOS5DbFixture::participants(const QStringList &ids, PlistFormat format)
{
    PlistNode list = PlistNode::newArray();
    for (const QString &id : ids)
        list.arrayAppend(PlistNode::fromString(id));
    return format == Binary ? list.toBinary() : list.toXml().toUtf8();
}

void IOS5DbFixture::addMadridChat(qint64 rowid, const QString &chatIdentifier, const QByteArray &participants,
                                  int style, int state, const QString &accountId, const QString &accountLogin)
{
    Sqlite3Sql sql("insert into madrid_chat (ROWID, style, state, account_id, chat_identifier, service_name,"
                   " account_login, participants) values (?, ?, ?, ?, ?, 'Madrid', ?, ?)");
    sql.addInt64Param(rowid).addIntParam(style).addIntParam(state);
    addOptionalText(sql, accountId).addTextParam(chatIdentifier);
    addOptionalText(sql, accountLogin);
    if (participants.isNull())
        sql.addNullParam();
    else
        sql.addBlobParam(participants);
    m_db.executeThrow(sql);
}

void IOS5DbFixture::addSms(const Sms &sms)
{
    // SMS rows of a layout with iMessage say that they are none, with 0 in
    // the madrid numbers and dates (NULL in madrid_flags), as the real
    // phone's rows in real-ios5 have them.
    Sqlite3Sql sql(m_layout == BeforeIMessage
                       ? "insert into message (ROWID, address, date, text, flags, replace, svc_center, group_id,"
                         " association_id, height, UIFlags, version, subject, country, read)"
                         " values (?, ?, ?, ?, ?, 0, ?, ?, 0, 0, 4, 0, ?, ?, 1)"
                       : "insert into message (ROWID, address, date, text, flags, replace, svc_center, group_id,"
                         " association_id, height, UIFlags, version, subject, country, read, is_madrid,"
                         " madrid_version, madrid_type, madrid_error, madrid_date_read, madrid_date_delivered)"
                         " values (?, ?, ?, ?, ?, 0, ?, ?, 0, 0, 4, 0, ?, ?, 1, 0, 0, 0, 0, 0, 0)");
    sql.addInt64Param(sms.rowid).addTextParam(sms.address).addInt64Param(sms.date).addTextParam(sms.text);
    sql.addIntParam(sms.flags);
    addOptionalText(sql, sms.svcCenter).addInt64Param(sms.groupId);
    addOptionalText(sql, sms.subject);
    addOptionalText(sql, sms.country);
    m_db.executeThrow(sql);
}

void IOS5DbFixture::addIMessage(const IMessage &message)
{
    if (m_layout == BeforeIMessage)
        throw std::logic_error("no iMessage rows in a database before iMessage");
    Sqlite3Sql sql("insert into message (ROWID, date, text, flags, replace, group_id, association_id, height,"
                   " UIFlags, version, read, madrid_attributedBody, madrid_handle, madrid_version, madrid_guid,"
                   " madrid_type, madrid_roomname, madrid_service, madrid_account, madrid_flags, madrid_error,"
                   " is_madrid, madrid_date_read, madrid_date_delivered, madrid_account_guid)"
                   " values (?, ?, ?, 0, 0, 0, 0, 0, 0, 0, 1, ?, ?, 1, ?, 0, ?, 'Madrid', ?, 0, ?, 1, ?, ?, ?)");
    sql.addInt64Param(message.rowid).addInt64Param(message.date).addTextParam(message.text);
    if (message.attributedBody.isNull())
        sql.addNullParam();
    else
        sql.addBlobParam(message.attributedBody);
    addOptionalText(sql, message.handle).addTextParam(message.guid);
    addOptionalText(sql, message.roomName);
    addOptionalText(sql, message.account).addIntParam(message.error);
    sql.addInt64Param(message.dateRead).addInt64Param(message.dateDelivered);
    addOptionalText(sql, message.accountGuid);
    m_db.executeThrow(sql);
}

void IOS5DbFixture::addMms(const Mms &mms)
{
    Sqlite3Sql sql("insert into message (ROWID, address, date, text, flags, replace, group_id, association_id,"
                   " height, UIFlags, version, country, recipients, read, madrid_version, madrid_type,"
                   " madrid_error, is_madrid, madrid_date_read, madrid_date_delivered)"
                   " values (?, NULL, ?, NULL, ?, 0, ?, 0, 0, 0, 0, ?, ?, 1, 0, 0, 0, 0, 0, 0)");
    sql.addInt64Param(mms.rowid).addInt64Param(mms.date).addIntParam(mms.flags).addInt64Param(mms.groupId);
    addOptionalText(sql, mms.country).addBlobParam(mms.recipients);
    m_db.executeThrow(sql);
}

void IOS5DbFixture::addPiece(const Piece &piece)
{
    Sqlite3Sql sql("insert into msg_pieces (ROWID, message_id, data, part_id, preview_part, content_type, height,"
                   " version, flags, content_id, content_loc, headers) values (?, ?, ?, ?, 0, ?, ?, 0, 0, ?, ?, NULL)");
    sql.addInt64Param(piece.rowid).addInt64Param(piece.messageId);
    if (piece.data.isNull())
        sql.addNullParam();
    else
        sql.addBlobParam(piece.data);
    sql.addInt64Param(piece.partId).addTextParam(piece.contentType).addIntParam(piece.height);
    addOptionalText(sql, piece.contentId);
    addOptionalText(sql, piece.contentLoc);
    m_db.executeThrow(sql);
}
