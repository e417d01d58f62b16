#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

class Sqlite3DB;

// Writes sms.db files the way a phone of each release writes them: the
// release's own CREATE statements (the message table of iOS 5.0 with 32
// columns, of iOS 5.1 with 33 in the order a fresh 5.1 table has them, of
// iOS 6 with 38, and the later one with 51), rows filled column by column as
// the phone fills them, each message in a transaction of its own, in
// rollback-journal or write-ahead-log mode, with deleted bytes left where
// the engine leaves them (secure_delete off; auto-vacuum as the phones have
// it: full on iOS 5, as a real 5.1 phone's file has it, none on the later
// ones). SMS rows of iOS 5 hold 0, as a phone writes them, in the madrid
// numbers (version, type, error, dates) and NULL in the other madrid
// columns. Plain SQL,
// sharing nothing with the program's readers or its scans' column lists.
//
// Used by the tests and by the benchmark, so it must not depend on the test
// framework. Throws std::runtime_error on failure.
class ReleaseSmsDbWriter
{
public:
    enum Release { IOS50, IOS51, IOS6, Later };
    enum Mode { Journal, Wal };

    // Creates folder/"file-relay/var/mobile/Library/SMS/sms.db" afresh.
    ReleaseSmsDbWriter(const QString &sourceFolder, Release release, Mode mode, int pageSize = 4096);
    ~ReleaseSmsDbWriter();

    static QString releaseName(Release release);
    static QString modeName(Mode mode);
    // The CREATE statements of the release, tables first.
    static QStringList schema(Release release);
    static QString messageTable(Release release);

    QString dbPath() const { return m_path; }
    Sqlite3DB &db();
    bool isIOS5() const { return m_release == IOS50 || m_release == IOS51; }

    // One message as the phone would have stored it. date: seconds since
    // 2001; address: a phone number in its stored form for SMS, the other
    // party (number or mail address) for iMessage; guid for iMessage (and
    // every iOS 6 message).
    struct Message
    {
        qint64 rowid = 0; // 0: the next one
        QString text;
        qint64 date = 0;
        bool fromMe = false;
        bool iMessage = false;
        QString address;
        QString guid;
        QString room; // an iOS 5 iMessage group's room name
    };
    // Returns the message's rowid. In batches (beginBatch) many messages go
    // in one transaction, as a restore from a backup writes them.
    qint64 addMessage(const Message &message);
    void beginBatch();
    void endBatch();

    // iOS 6: the handle of an address (made on first use) and its
    // one-to-one conversation.
    qint64 handleOf(const QString &address, bool iMessage);

    // Deletes a message as the phone does (its joins first on iOS 6).
    void deleteMessage(qint64 rowid);
    // iOS 6: deletes a whole conversation: its messages, joins and handle.
    void deleteConversation(const QString &address, bool iMessage);
    // Whether freed bytes are zeroed from now on (off by default).
    void setSecureDelete(bool on);
    // Copies the log into the file and makes the next write start the log
    // again from its first frame, with new salts: the frames beyond what
    // that generation writes stay in the file as they were.
    void restartLog();

private:
    void exec(const QString &sql);

    Release m_release;
    Mode m_mode;
    QString m_path;
    std::unique_ptr<Sqlite3DB> m_db;
    bool m_batch = false;
    QHash<QString, qint64> m_handles;
    QHash<QString, qint64> m_chats;
};
