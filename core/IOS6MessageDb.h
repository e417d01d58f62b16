#pragma once

#include <QByteArrayView>
#include <QDir>
#include <QHash>
#include <QString>

#include <functional>

#include "AbsIOSMessageDb.h"
#include "CountryLibDb.h"
#include "IOS6MessageColumns.h"
#include "IOSContactsMemDb.h"
#include "MessageRecycleDb.h"
#include "MsgDataSet.h"

// A message database in the iOS 6 sms.db layout under a message source folder
// (a device's cache folder, an iTunes backup's cache folder, a local
// database folder). The file is root/"file-relay/var/mobile/Library/SMS/sms.db".
//
// The same class reads and writes a device's own sms.db, which lacks the
// program's columns (chat._last, handle._ct_name, handle._photo,
// message.logic_hash) and possibly the later iOS columns, and the program's
// local databases, which have all of them. Which optional columns a file has
// is learnt once at opening from the stored CREATE statements, so a batch of
// reads or writes issues no schema queries.
//
// Used by one thread at a time.
class IOS6MessageDb : public AbsIOSMessageDb
{
public:
    // Touches no file. country: the mobile country code that handle numbers
    // are normalised for (empty: none). allowUpgrade: a missing file is created
    // from the local-database schema and an existing one gains the columns an
    // older local database lacks; without it nothing is ever added.
    IOS6MessageDb(const QDir &root, const QString &country, bool allowUpgrade);
    ~IOS6MessageDb() override;

    // Opens the file when the connection is closed: read-write when it exists
    // (upgraded when allowed), otherwise created from the schema script when
    // upgrades are allowed; without them a missing file is an error and
    // neither it nor its folder is made.
    // Registers the SQL functions the iOS triggers call and reads the table
    // map. Throws std::runtime_error; after a failure the connection is closed
    // again (and a file it had just created is removed), so the next call
    // starts over.
    void ensureOpen() override;
    int iosVersion() const override { return 6; }

    // --- paths -------------------------------------------------------------

    // Replaces the sms.db path; takes effect at the next opening, so call it
    // on a fresh object before anything else.
    void setDbPath(const QString &path);
    // The sms.db path that ensureOpen opens.
    QString dbFilePath() const { return m_dbPath; }
    QDir rootDir() const { return m_rootDir; }
    // root/"file-relay": where copied attachment files are kept.
    QDir srcDir() const { return m_srcDir; }

    // Where under srcDir() the file of an attachment with this device file
    // name lies: one leading "/" dropped, a leading "~/" made "var/mobile/",
    // and the characters \ : * ? " < > | removed (the copies of a device's
    // files are named without them). Empty when the result would not stay
    // inside the folder (absolute, or with a ".." component) or names no file.
    static QString attachmentRelativePath(const QString &filename);
    // The absolute path of that under srcDir(); empty when it is refused.
    QString attachmentLocalPath(const QString &filename) const;
    CountryLibDb &countryLib() { return m_countries; }
    // "recycle.db" of the source folder; the object keeps ownership.
    MessageRecycleDb *recycleDb() { return &m_recycle; }

    // The CREATE statement stored for a table; empty when the table is absent
    // or the database has not been opened.
    QString tableSql(const QString &table) const { return m_tableSql.value(table); }

    // --- reading -----------------------------------------------------------

    // Every conversation with its handles, each handle's number normalised
    // and, where the source folder has the device's address book, its contact
    // name and picture. Existing records of the set are reused and only
    // linked again.
    void chats(MsgDataSet &set) override;
    // The conversation-joined messages of chatId, of every conversation for
    // chatId <= 0; location-sharing events are left out. Calls chats first.
    // Each message gets its attachments, one record per attachment row
    // however many messages share it, with _local_path set to where the
    // file lies in this source folder (attachmentLocalPath).
    void messages(MsgDataSet &set, qint64 chatId) override;
    // Whether the message table has item_type. Does not open: false before
    // the first successful ensureOpen.
    bool hasItemType() const;
    // Whether the message table has logic_hash; as hasItemType.
    bool hasLogicHash() const;
    // The number of conversation-joined messages, location sharing excluded.
    qint64 messageCount();
    // The messages of the source folder's recycle database that this
    // database no longer holds (by guid), as deleted messages.
    void recycledMessages(MsgDataSet &set);

    // --- look-ups (0 or false: not found) ------------------------------------

    qint64 chatRowid(const QString &guid);
    qint64 messageRowid(const QString &guid);
    qint64 attachmentRowid(const _MsgAttachment *attachment);
    qint64 handleRowid(const _MsgHandle *handle);
    bool hasChatHandle(qint64 chatId, qint64 handleId);
    // 0 at once when the message table has no logic_hash column.
    qint64 messageRowidByLogicHash(const _MsgMessage *message);
    // As above with a fingerprint the caller has already computed.
    qint64 messageRowidByLogicHash(const QString &logicHash);
    // Every message row's rowid with its logic hash as stored, in UTF-8 (the
    // view is valid during the call only), in one pass over the index; rows
    // whose value is not a text are left out, and without a logic_hash column
    // there are none. For callers that look many messages up. The rows are
    // stepped on another thread meanwhile: visit must not use this connection.
    void visitMessageLogicHashes(const std::function<void(qint64, QByteArrayView)> &visit);
    // The same for the guids; rows whose guid is NULL are left out.
    void visitMessageGuids(const std::function<void(qint64, QByteArrayView)> &visit);
    // The number of rows of the message table, joined or not.
    qint64 messageRowCount();

    // --- writers -----------------------------------------------------------

    void addChatHandle(qint64 chatId, qint64 handleId);
    void addChatMessage(qint64 chatId, qint64 messageId);
    void addMessageAttachment(qint64 messageId, qint64 attachmentId);
    void setLastAddressedHandle(qint64 chatId, const QString &handleId);
    // Raises chat._last to date; never lowers it. Nothing without a _last column.
    void updateChatLast(qint64 chatId, int date);

    // Each returns the new rowid. Optional columns are written only where the
    // table has them.
    qint64 insertHandle(const _MsgHandle *handle);
    // handleId and otherHandleId are the rowids the handles have in this
    // database; logicHash empty: the message's fingerprint is stored.
    qint64 insertMessage(const _MsgMessage *message, qint64 handleId, qint64 otherHandleId,
                         const QString &logicHash = QString());
    qint64 insertAttachment(const _MsgAttachment *attachment);
    // Throws "IOS6MessageDb::insertChat, invalid chat, service_name:%1" before
    // writing anything when the service is neither "SMS" nor "iMessage".
    // Inserts the chat, then its member handles (reused by id and service)
    // and their joins.
    qint64 insertChat(const _MsgChat *chat);

    // Deletes the message row, its join rows, and its conversation (with the
    // conversation's handle joins) when no message is left in it. Only rows of
    // this database: a record read from the recycle database, or one without
    // a row here, deletes nothing. Returns whether a message row was deleted.
    bool deleteMessage(const _MsgMessage *message);

    // Deleting many messages inside one transaction: the local schema's
    // clean_orphaned_messages trigger sweeps the whole message table for
    // every join row deleted, which makes a deletion cost a scan. Between
    // these calls the trigger is held back and its sweep runs once, in
    // endDeletes, which then puts the trigger back as it was; rolling the
    // transaction back restores it as well (call deletesRolledBack then).
    // Files whose trigger is not the local schema's are left as they are.
    void beginDeletes();
    void endDeletes();
    void deletesRolledBack();

private:
    // chats, with the newest-message query for files without _last only when
    // lastDates is set.
    void readChats(MsgDataSet &set, bool lastDates);
    // Links the attachments of the messages of chatId (all for <= 0) that
    // the set holds.
    void readAttachments(MsgDataSet::Data *d, qint64 chatId);
    // visit(rowid, text) for each row of sql, whose first two columns they are.
    void visitRowidTexts(const Sqlite3Sql &sql, const std::function<void(qint64, QByteArrayView)> &visit);
    void createFromScript();
    void upgrade();
    void registerFunctions();
    void readTableMap();
    bool tableHas(const QString &table, const QString &probe, Qt::CaseSensitivity cs) const;
    qint64 firstRowid(const Sqlite3Sql &query);

    QDir m_rootDir;
    QDir m_srcDir;
    IOSContactsMemDb m_contacts;
    MessageRecycleDb m_recycle;
    CountryLibDb m_countries;
    QHash<QString, QString> m_tableSql;
    QString m_dbPath;
    bool m_allowUpgrade;

    // Which optional columns the tables have, from m_tableSql.
    struct Columns
    {
        bool chatLast = false;
        bool chatDisplayName = false;
        bool chatGroupId = false;
        bool handleCtName = false;
        bool handlePhoto = false;
        bool attUserInfo = false;
        bool attTransferName = false;
        bool attTotalBytes = false;
        bool msgItemType = false;
        bool msgLogicHash = false;
        // The message columns later versions added, in their order.
        bool msgLater[IOS6MessageColumn::kLaterCount] = {};
    };
    Columns m_cols;
    // The trigger text held back by beginDeletes; empty when none is.
    QString m_heldTrigger;
    // Insert statements by the set of columns they write.
    QHash<quint64, QString> m_insertSql;
};
