#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "Sqlite3DB.h"

// Writes an sms.db in the iOS 5 layout into a message source folder, at
// "file-relay/var/mobile/Library/SMS/sms.db": msg_group, group_member,
// madrid_chat, msg_pieces and the message table with its madrid columns,
// each with a declared ROWID as the device declares it. Rows go in with the
// rowids the test gives, so that a test states its keys. The connection stays open for
// the fixture's life; readers open the file beside it.
class IOS5DbFixture
{
public:
    enum Layout {
        // The layout of a device with iMessage.
        Full,
        // No madrid_chat table; the message table keeps its madrid columns.
        WithoutMadridChat,
        // The layout of releases before iMessage: no madrid_chat table and
        // no madrid columns in the message table.
        BeforeIMessage,
        // The message table, msg_pieces and its trigger exactly as an iOS
        // 5.1 phone declares them (madrid_account_guid in the middle of the
        // madrid columns; deleting a message deletes its parts).
        Phone51,
    };

    explicit IOS5DbFixture(const QString &sourceFolder, Layout layout = Full);

    static QString smsDbPath(const QString &sourceFolder);
    QString dbPath() const { return smsDbPath(m_folder); }
    Sqlite3DB &db() { return m_db; }

    // Many rows at once go faster inside one transaction.
    void begin() { m_db.beginTran(); }
    void commit() { m_db.commitTran(); }

    // newestMessage: the rowid of the conversation's newest message row.
    void addGroup(qint64 rowid, qint64 hash, qint64 newestMessage);
    // country: the member's two-letter code in the device's lower case ("in").
    void addMember(qint64 rowid, qint64 groupId, const QString &address, const QString &country);

    enum PlistFormat { Binary, Xml };
    // A participants list: an array of strings.
    static QByteArray participants(const QStringList &ids, PlistFormat format);
    void addMadridChat(qint64 rowid, const QString &chatIdentifier, const QByteArray &participants, int style = 45,
                       int state = 3, const QString &accountId = QString(), const QString &accountLogin = QString());

    struct Sms
    {
        qint64 rowid = 0;
        QString address;
        qint64 date = 0; // seconds since 1970
        QString text;
        int flags = 2;   // 2 received, 3 sent
        qint64 groupId = 0;
        QString country;
        QString subject;
        QString svcCenter;
    };
    void addSms(const Sms &sms);

    struct IMessage
    {
        qint64 rowid = 0;
        qint64 date = 0; // seconds since 2001
        QString text;
        QString handle;
        QString roomName;
        QString guid;
        QString account;
        QString accountGuid;
        int error = 0;
        qint64 dateRead = 0;
        qint64 dateDelivered = 0;
        QByteArray attributedBody;
    };
    void addIMessage(const IMessage &message);

    // One part of an MMS message: a text part holds its text in data, a
    // picture part names its file in contentLoc (the phone keeps the file
    // under Library/SMS/Parts as "<message>-<part>" with its extension).
    struct Piece
    {
        qint64 rowid = 0;
        qint64 messageId = 0;
        qint64 partId = 0;
        QString contentType;
        QByteArray data; // null: NULL
        QString contentId;
        QString contentLoc;
        int height = 0;
    };
    void addPiece(const Piece &piece);

    // An MMS row as a phone writes it: no address and no text (the parts
    // hold it), the other parties in recipients, 0 in the madrid numbers.
    struct Mms
    {
        qint64 rowid = 0;
        qint64 date = 0; // seconds since 1970
        QByteArray recipients; // participants() of the other parties
        int flags = 3;
        qint64 groupId = 0;
        QString country;
    };
    void addMms(const Mms &mms);

private:
    QString m_folder;
    Layout m_layout;
    Sqlite3DB m_db;
};
