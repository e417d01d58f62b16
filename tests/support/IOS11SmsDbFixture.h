#pragma once

#include <QString>

#include <memory>

class Sqlite3DB;

// Writes sms.db files as an iPhone on iOS 11 keeps them, with plain SQL from
// the phone's own CREATE TABLE statements and the values such a phone
// writes: every date of a message (and of its join row) in nanoseconds since
// 2001-01-01, 0 for a date that did not happen, attachment dates in seconds,
// UUID guids. The triggers and indexes of the phone's file, which reading
// never meets, are left out.
//
// Must not depend on the test framework.
class IOS11SmsDbFixture
{
public:
    // One row of the message table; the dates in nanoseconds.
    struct Message
    {
        qint64 chat = 0; // joined to it when > 0
        qint64 handle = 0;
        QString guid;
        QString text;
        QString service = QStringLiteral("iMessage");
        int isFromMe = 0;
        qint64 date = 0;
        qint64 dateRead = 0;
        qint64 dateDelivered = 0;
        qint64 datePlayed = 0;
        bool audio = false;
    };

    // Creates the file (and its folders) and its schema; throws
    // std::runtime_error on failure. An existing file is replaced.
    explicit IOS11SmsDbFixture(const QString &path);
    ~IOS11SmsDbFixture();

    Sqlite3DB &db();

    qint64 addHandle(const QString &id, const QString &service = QStringLiteral("iMessage"));
    // A one-to-one conversation with the handle (style 45), joined to it.
    qint64 addChat(qint64 handle, const QString &identifier, const QString &service = QStringLiteral("iMessage"));
    qint64 addMessage(const Message &m);
    // An attachment of the message; its dates in seconds, as the phone keeps
    // them.
    qint64 addAttachment(qint64 message, const QString &guid, const QString &filename, const QString &mimeType,
                         qint64 createdDate);

private:
    std::unique_ptr<Sqlite3DB> m_db;
};
