#pragma once

#include <QDir>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

#include "AbsIOSMessageDb.h"
#include "Country.h"
#include "CountryCache.h"
#include "CountryLibDb.h"
#include "IOS5MmsParts.h"
#include "IOSContactsMemDb.h"
#include "MessageRecycleDb.h"
#include "MsgDataSet.h"

struct sqlite3_value;

// A message database in the iOS 5 sms.db layout, where SMS conversations
// live in msg_group and group_member, iMessage conversations in madrid_chat,
// and both kinds of message in the one message table. Read into the same
// records as the iOS 6 layout, so nothing downstream sees the difference:
// SMS conversations under their positive msg_group rowid, iMessage ones under
// the negated madrid_chat rowid; handles keyed by address in each
// conversation's handles hash.
//
// Message data is only ever read. Used by one thread at a time.
class IOS5MessageDb : public AbsIOSMessageDb
{
public:
    // folder: the message source folder; the database is
    // folder/"file-relay/var/mobile/Library/SMS/sms.db", the recycle database
    // folder/"recycle.db", the contacts come from the folder's address book.
    // country: the mobile country code whose rules normalise addresses
    // (empty: they are only cleaned). Touches no file.
    IOS5MessageDb(const QDir &folder, const QString &country);
    ~IOS5MessageDb() override;

    // Opens the file read-write (never creating it), registers the SQL
    // function "read" and reads the table map. A file without the tables
    // msg_group, group_member and message is refused with a clear text.
    // Throws std::runtime_error; after a failure the connection is closed
    // again, so the next call starts over.
    void ensureOpen() override;
    int iosVersion() const override { return 5; }

    // Every conversation with its members and last date. Records the set
    // holds already are kept as they are, so calling it again adds nothing.
    void chats(MsgDataSet &set) override;
    // The messages of one SMS conversation (chatId > 0), one iMessage
    // conversation (chatId < 0) or all (chatId 0), linked to their
    // conversations and senders. An MMS is read with its parts as the iOS 6
    // layout carries them: its text parts make the text, each other part an
    // attachment (name and type as the MMS gave them, the file where the
    // source folder holds it under Library/SMS/Parts). Runs chats first;
    // messages the set holds already are left alone.
    void messages(MsgDataSet &set, qint64 chatId) override;
    // Rows of the message table.
    qint64 messageCount();

    // The messages of the recycle database, marked deleted, added to the set
    // in the conversations it holds of the same identifier and kind (others
    // are made up for them). Loading twice adds nothing.
    void recycledMessages(MsgDataSet &set);
    // "recycle.db" of the source folder, where the deleted-record scan
    // stores what it finds.
    MessageRecycleDb *recycleDb() { return &m_recycle; }

    // The sms.db path that ensureOpen opens.
    const QString &dbFilePath() const { return m_dbPath; }
    // folder/"file-relay": the device's file system in the source folder.
    const QDir &rootDir() const { return m_root; }
    CountryLibDb &countryLib() { return m_countries; }
    // Whether the database has the table; false before the first opening.
    bool hasTable(const QString &name) const { return m_tableSql.contains(name); }

    // The SQL function "read": 1 when its argument's integer value is
    // non-zero, else 0.
    static int sqlReadFunc(sqlite3_value *value);

private:
    void registerFunctions();
    void readTableMap();
    void closeAfterFailure();

    void smsChats(MsgDataSet::Data &d);
    void smsMembers(MsgDataSet::Data &d);
    void iMessageChats(MsgDataSet::Data &d);
    void fillContact(_MsgHandle *handle);

    QDir m_root;
    IOSContactsMemDb m_contacts;
    MessageRecycleDb m_recycle;
    CountryLibDb m_countries;
    QHash<QString, QString> m_tableSql;
    QString m_dbPath;

    // Whether iMessage conversations can be read: the madrid_chat table and
    // the message columns that name a message's conversation.
    bool m_madrid = false;
    bool m_contactsFailed = false;
    // The select list of the message query, with NULL for madrid columns a
    // file of an older release lacks.
    QString m_messageColumns;
    // The MMS parts of the file.
    IOS5MmsParts m_mms{m_root};

    // Addresses repeat in every message; normalising each once keeps long
    // loads from spending their time in pattern matching.
    CountryCache m_countryCache{m_countries};
};
