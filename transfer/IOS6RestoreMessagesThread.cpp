#include "IOS6RestoreMessagesThread.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPair>
#include <QSet>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include <sqlite3.h>

#include "BackupFolderUpdate.h"
#include "Clock.h"
#include "IOS6MessageDb.h"
#include "MbdbFile.h"
#include "MergeEntry.h"
#include "PlistNode.h"
#include "ProgressForm.h"
#include "SafePath.h"
#include "WholeFileCopy.h"
#include "_MsgMessage.h"

namespace
{

const QString kHomeDomain = QStringLiteral("HomeDomain");
const QString kMediaDomain = QStringLiteral("MediaDomain");
const QString kSmsDbPath = QStringLiteral("Library/SMS/sms.db");
const QString kCatalogue = QStringLiteral("Manifest.mbdb");
const QString kBackupInfo = QStringLiteral("Manifest.plist");
// Where the phone keeps message attachments, as a path of the media domain.
const QString kAttachmentsFolder = QStringLiteral("Library/SMS/Attachments/");

// Conversations the recycle database makes up for recycled messages whose
// own conversation is unknown have rowids below this; they exist in no
// database and cannot be written into one.
constexpr qint64 kLowestRealChat = -2047483646;

// A Manifest.plist larger than this is no backup description.
constexpr qint64 kMaxBackupInfoSize = 256LL * 1024 * 1024;

// The media-domain path under which an attachment of this device file name
// is stored in a backup: the name from its first "Library/" on. Empty when
// the name has none, or when the path would not name a file inside the
// phone's attachments folder: the backup tool writes the file wherever the
// path says, and a message's file name must not reach the phone's other
// files (its sms.db among them).
QString attachmentBackupPath(const QString &filename)
{
    const qsizetype at = filename.indexOf(QLatin1String("Library/"));
    if (at < 0)
        return QString();
    const QString path = filename.mid(at);
    if (!path.startsWith(kAttachmentsFolder) || !isSafeRelativePath(path))
        return QString();
    return path;
}

// Whether the backup's files are stored encrypted: its description says so,
// or the catalogue holds a file key for the sms.db. A plain sms.db written
// into such a backup would be taken for ciphertext and the backup spoilt.
bool backupIsEncrypted(const QDir &backup, const QHash<QString, MbdbRecord> &records, const QString &smsId)
{
    const auto it = records.constFind(smsId);
    if (it != records.constEnd() && !it->encryptionKey.isNone() && it->encryptionKey.length > 0)
        return true;
    QFile info(backup.absoluteFilePath(kBackupInfo));
    if (!info.exists() || info.size() > kMaxBackupInfoSize || !info.open(QIODevice::ReadOnly))
        return false;
    return PlistNode::fromData(info.readAll()).dictItem(QStringLiteral("IsEncrypted")).toBool();
}

// The (message rowid, other rowid) pairs of a join query, sorted by message
// rowid, so that the joins of one message are found by a binary search: a
// hundred thousand messages cost two vectors of pairs, not a hash of lists.
using JoinList = std::vector<std::pair<qint64, qint64>>;

JoinList readJoins(IOS6MessageDb &db, const char *sql)
{
    JoinList joins;
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(sql));
    while (c.moveNext())
        joins.emplace_back(c.getInt64(0), c.getInt64(1));
    std::stable_sort(joins.begin(), joins.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    return joins;
}

auto joinsOf(const JoinList &joins, qint64 messageRowid)
{
    return std::equal_range(joins.begin(), joins.end(), std::make_pair(messageRowid, qint64(0)),
                            [](const auto &a, const auto &b) { return a.first < b.first; });
}

void removeDatabaseFiles(const QString &path)
{
    QFile::remove(path);
    for (const char *suffix : {"-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

} // namespace

// The state of one run.
class IOS6RestoreMessagesThread::Merge
{
public:
    explicit Merge(IOS6RestoreMessagesThread &t)
        : m_t(t)
        , m_source(*t.m_sourceDb)
        , m_smsId(mbdbFileId(kHomeDomain, kSmsDbPath))
    {
    }

    void run()
    {
        checkBackup();
        copySource();
        openMerged();
        emptyMessageTables();
        attachSource();
        m_merged->beginTransaction();
        copyRows(QStringLiteral("chat"), QStringLiteral("properties"));
        copyRows(QStringLiteral("handle"));
        copyRows(QStringLiteral("chat_handle_join"));
        copyRows(QStringLiteral("attachment"));
        m_attachmentJoins = readJoins(*m_merged, "select ma.message_id, ma.attachment_id from "
                                                 "src.message_attachment_join as ma inner join src.message as m on "
                                                 "ma.message_id=m.rowid");
        m_chatJoins = readJoins(*m_merged, "select cm.message_id, cm.chat_id from src.chat_message_join as cm inner "
                                           "join src.message as m on cm.message_id=m.rowid");
        buildEntries();
        std::stable_sort(m_entries.begin(), m_entries.end(), mergeEntryLess);
        insertEntries();
        writeChatUpdates();
        m_merged->endTransaction(true);
        m_merged->close();
        m_merged.reset();
        updateBackup();
    }

    // After a cancel or an error: the merged copy goes, the backup folder
    // has not been touched (what was staged in it has gone already).
    void abort()
    {
        if (m_merged) {
            try {
                m_merged->endTransaction(false);
            } catch (const std::exception &e) {
                // Closing discards the transaction all the same.
                qWarning("IOS6RestoreMessagesThread rollback failed. %s", e.what());
            }
            m_merged->close();
            m_merged.reset();
        }
        if (m_copyMade)
            removeDatabaseFiles(m_copyPath);
        m_source.close();
    }

private:
    void checkCancel()
    {
        if (ProgressForm::isCancelled(m_t.m_form))
            throw -1;
    }

    // Before any work: the backup has to be one this run can finish. Its
    // catalogue is read once, now, and written back at the end.
    void checkBackup()
    {
        const QString catalogue = m_t.m_backupDir.absoluteFilePath(kCatalogue);
        if (!QFileInfo(catalogue).isFile())
            throw std::runtime_error(tr("can not find %1.").arg(QDir::toNativeSeparators(catalogue)).toStdString());
        m_records = readMbdb(catalogue);
        if (backupIsEncrypted(m_t.m_backupDir, m_records, m_smsId))
            throw std::runtime_error(tr("IDS_CANT_EXPORT_ITUNES_BACKUP_IS_ENCRYPT").toStdString());
    }

    void copySource()
    {
        const QString source = m_source.dbFilePath();
        m_copyPath = source + QString::number(Clock::currentSecsSinceEpoch());
        // Closing the last connection folds a write-ahead log into the file;
        // one left by a connection that never closed is folded in by opening
        // and closing once, so that the file alone holds every message.
        m_source.close();
        if (QFileInfo::exists(source + QStringLiteral("-wal"))) {
            m_source.ensureOpen();
            m_source.close();
        }
        // Only a merged copy of an earlier run in the same second has this name.
        removeDatabaseFiles(m_copyPath);
        if (!copyWholeFile(source, m_copyPath))
            throw std::runtime_error(
                tr("copy database to %1 failed.").arg(QDir::toNativeSeparators(m_copyPath)).toStdString());
        m_copyMade = true;
    }

    void openMerged()
    {
        m_merged = std::make_unique<IOS6MessageDb>(m_source.rootDir(), m_t.m_country, false);
        m_merged->setDbPath(m_copyPath);
        m_merged->ensureOpen();
        // The copy is scratch until the very end: after a crash it is never
        // used, and what reaches the backup is a staged copy of it, which is
        // synced on its own. Waiting for the disk at each of its commits and
        // its vacuum buys nothing.
        m_merged->executeThrow(Sqlite3Sql("PRAGMA synchronous=OFF"));
    }

    void emptyMessageTables()
    {
        // The device's triggers on these tables call the two functions that
        // IOS6MessageDb registers as no-ops, so no attachment file is touched.
        static const char *const statements[] = {
            "delete from attachment",
            "delete from chat",
            "delete from handle",
            "delete from message",
            "delete from message_attachment_join",
            "delete from chat_message_join",
            "delete from chat_handle_join",
            "update sqlite_sequence set seq=0 where name in ('handle', 'chat', 'message', 'attachment')",
        };
        // One transaction rather than one per statement; VACUUM runs outside.
        m_merged->beginTransaction();
        for (const char *sql : statements)
            m_merged->executeThrow(Sqlite3Sql(sql));
        m_merged->endTransaction(true);
        m_merged->executeThrow(Sqlite3Sql("vacuum"));
        checkCancel();
    }

    // The cached sms.db is read through the merged copy's connection:
    // the backup's rows then go from one file to the other inside SQLite,
    // without passing through a row object each.
    void attachSource()
    {
        m_merged->executeThrow(Sqlite3Sql("ATTACH DATABASE ? AS src").addTextParam(m_source.dbFilePath()));
    }

    // The columns of a table of the cached sms.db, in table order.
    QStringList sourceColumns(const QString &table)
    {
        QStringList names;
        Sqlite3Cursor c =
            m_merged->queryThrow(Sqlite3Sql(QStringLiteral("PRAGMA src.table_info(%1)").arg(quoted(table))));
        while (c.moveNext())
            names.append(c.getText(QStringLiteral("name")));
        return names;
    }

    static QString quoted(QString name)
    {
        return QLatin1Char('"') + name.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
    }

    static bool isRowid(const QString &column)
    {
        return column.compare(QLatin1String("rowid"), Qt::CaseInsensitive) == 0;
    }

    // Every row of the source's table into the merged copy under its own
    // rowid; the column cleared, when given, is written as NULL.
    void copyRows(const QString &table, const QString &cleared = QString())
    {
        const QStringList columns = sourceColumns(table);
        QStringList names;
        QStringList values;
        if (std::none_of(columns.cbegin(), columns.cend(), isRowid)) {
            names << QStringLiteral("rowid");
            values << QStringLiteral("rowid");
        }
        for (const QString &column : columns) {
            names << quoted(column);
            values << (!cleared.isEmpty() && column.compare(cleared, Qt::CaseInsensitive) == 0 ? QStringLiteral("NULL")
                                                                                                 : quoted(column));
        }
        m_merged->executeThrow(Sqlite3Sql(QStringLiteral("insert into main.%1(%2) select %3 from src.%1")
                                              .arg(quoted(table), names.join(QLatin1Char(',')),
                                                   values.join(QLatin1Char(',')))));
        checkCancel();
    }

    void buildEntries()
    {
        const QStringList columns = sourceColumns(QStringLiteral("message"));
        const bool hasDate = columns.contains(QStringLiteral("date"), Qt::CaseInsensitive);
        // The statement that copies one row of the backup's message table,
        // every column but its rowid; one text, so it is prepared once.
        QStringList copied;
        for (const QString &column : columns) {
            if (!isRowid(column))
                copied << quoted(column);
        }
        m_copyMessage = QStringLiteral("insert into main.message(%1) select %1 from src.message where ROWID=?")
                            .arg(copied.join(QLatin1Char(',')));
        m_guidsInMemory = guidsCompareAsBytes();
        {
            // The chosen guids, as the look-up binds them; those of messages
            // left out below as well, which only costs a few entries.
            QSet<QByteArray> chosen;
            if (m_guidsInMemory) {
                chosen.reserve(m_t.m_messages.size());
                for (const _MsgMessage *m : std::as_const(m_t.m_messages)) {
                    if (m)
                        chosen.insert(m->guid.toUtf8());
                }
            }
            const QString sql = QStringLiteral("select ROWID, %1%2 from src.message order by ROWID")
                                    .arg(hasDate ? QStringLiteral("date") : QStringLiteral("0"),
                                         m_guidsInMemory ? QStringLiteral(", typeof(guid)='text' as istext, guid")
                                                         : QString());
            Sqlite3Cursor c = m_merged->queryThrow(Sqlite3Sql(sql));
            while (c.moveNext()) {
                MergeEntry e;
                e.key = c.getInt64(0);
                e.date = c.getInt64(1);
                e.isExisting = true;
                m_entries.push_back(e);
                if (m_guidsInMemory && c.getInt64(2) != 0) {
                    const auto it = chosen.constFind(c.getBlob(QStringLiteral("guid")));
                    if (it != chosen.constEnd())
                        m_sharedGuids.insert(e.key, *it);
                }
            }
        }

        const bool hasItemType = m_merged->hasItemType();
        for (const _MsgMessage *m : std::as_const(m_t.m_messages)) {
            if (!m)
                continue;
            if (!m->chat || m->chat->rowid < kLowestRealChat) {
                qDebug("IOS6RestoreMessagesThread skip message with unknown chat.");
                ++m_t.m_noChatCount;
                continue;
            }
            if (m->item_type != 0 && !hasItemType)
                continue;
            ++m_t.m_mergedCount;
            if (!m->attachments.isEmpty())
                m_withAttachments.append(m);
            MergeEntry e;
            e.key = m->_key;
            e.date = m->date;
            e.message = m;
            e.isExisting = false;
            m_entries.push_back(e);
        }
        if (m_t.m_mergedCount == 0)
            throw std::runtime_error(
                tr("IDS_NO_VALID_MESSAGE_RESTORE_TO_IOS_%1_UNKNOWN_CHAT_MSG").arg(m_t.m_noChatCount).toStdString());
        checkCancel();
    }

    // Whether two guids of the message table are equal exactly when their
    // UTF-8 bytes are, and no two of the backup's rows share one: then which
    // guids the copy holds is known without asking it. A text column of
    // binary collation in a UTF-8 file under a unique index, as the phone's
    // and our own files have it; for any other the copy is asked each time.
    bool guidsCompareAsBytes()
    {
        const char *type = nullptr;
        const char *collation = nullptr;
        int notNull = 0;
        int primaryKey = 0;
        int autoIncrement = 0;
        if (sqlite3_table_column_metadata(m_merged->handle(), "main", "message", "guid", &type, &collation, &notNull,
                                          &primaryKey, &autoIncrement) != SQLITE_OK)
            return false;
        // SQLite's rule for a column's affinity: "INT" first, then the texts.
        const QByteArray declared = QByteArray(type ? type : "").toUpper();
        if (declared.contains("INT")
            || !(declared.contains("CHAR") || declared.contains("CLOB") || declared.contains("TEXT")))
            return false;
        if (qstricmp(collation ? collation : "", "BINARY") != 0)
            return false;
        {
            Sqlite3Cursor c = m_merged->queryThrow(Sqlite3Sql("PRAGMA main.encoding"));
            if (!c.moveNext() || c.getText(QStringLiteral("encoding")) != QLatin1String("UTF-8"))
                return false;
        }
        QStringList unique;
        {
            Sqlite3Cursor c = m_merged->queryThrow(Sqlite3Sql("PRAGMA main.index_list('message')"));
            while (c.moveNext()) {
                if (c.getInt64(QStringLiteral("unique")) != 0 && c.getInt64(QStringLiteral("partial")) == 0)
                    unique << c.getText(QStringLiteral("name"));
            }
        }
        for (const QString &index : std::as_const(unique)) {
            Sqlite3Cursor c =
                m_merged->queryThrow(Sqlite3Sql(QStringLiteral("PRAGMA main.index_info(%1)").arg(quoted(index))));
            QStringList names;
            while (c.moveNext())
                names << c.getText(QStringLiteral("name"));
            if (names.size() == 1 && names.first().compare(QLatin1String("guid"), Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }

    void insertEntries()
    {
        const qsizetype total = qsizetype(m_entries.size());
        int posted = -1;
        checkCancel();
        for (qsizetype i = 0; i < total; ++i) {
            // Posted when the value changes: a merge of a hundred thousand
            // messages would otherwise flood the dialog with events.
            const int progress = int(double(i + 1) / double(total) * 99.0);
            if (progress != posted) {
                ProgressForm::postUpdateProgress(m_t.m_form, QString(), progress, QString());
                posted = progress;
            }
            const MergeEntry &e = m_entries[size_t(i)];
            if (e.isExisting)
                insertExisting(e.key);
            else
                insertChosen(e.message);
            checkCancel();
        }
    }

    void insertExisting(qint64 sourceRowid)
    {
        qint64 rowid = 0;
        // Only a chosen message of its guid that went in earlier can be in
        // the copy already: the backup's rows have guids of their own.
        const auto shared = m_guidsInMemory ? m_sharedGuids.constFind(sourceRowid) : m_sharedGuids.constEnd();
        if (m_guidsInMemory) {
            if (shared != m_sharedGuids.constEnd())
                rowid = m_copiedGuids.value(shared.value());
        } else {
            Sqlite3Cursor c = m_merged->queryThrow(Sqlite3Sql("select m.ROWID from main.message as m where "
                                                              "m.guid=(select guid from src.message where ROWID=?)")
                                                       .addInt64Param(sourceRowid));
            if (c.moveNext())
                rowid = c.getInt64(0);
        }
        if (rowid == 0) {
            m_merged->executeThrow(Sqlite3Sql(m_copyMessage).addInt64Param(sourceRowid));
            if (m_merged->changes() != 1)
                return;
            rowid = m_merged->lastInsertId();
            if (shared != m_sharedGuids.constEnd())
                m_copiedGuids.insert(shared.value(), rowid);
        }
        const auto chats = joinsOf(m_chatJoins, sourceRowid);
        for (auto it = chats.first; it != chats.second; ++it)
            m_merged->addChatMessage(it->second, rowid);
        const auto attachments = joinsOf(m_attachmentJoins, sourceRowid);
        for (auto it = attachments.first; it != attachments.second; ++it)
            m_merged->addMessageAttachment(rowid, it->second);
    }

    qint64 chatId(const _MsgChat *chat)
    {
        auto it = m_chatIds.constFind(chat->guid);
        if (it != m_chatIds.constEnd())
            return it.value();
        qint64 id = m_merged->chatRowid(chat->guid);
        if (id == 0)
            id = m_merged->insertChat(chat);
        m_chatIds.insert(chat->guid, id);
        return id;
    }

    // The handle's rowid in the merged copy, added and joined to the chat
    // when missing. Only this run writes the copy, so what it has looked up
    // stays true to the end.
    qint64 chatHandleId(qint64 chat, const _MsgHandle *handle)
    {
        if (!handle)
            return 0;
        const QPair<QString, QString> key(handle->id, handle->service);
        qint64 id = m_handleIds.value(key);
        if (id == 0) {
            id = m_merged->handleRowid(handle);
            if (id == 0) {
                id = m_merged->insertHandle(handle);
                m_merged->addChatHandle(chat, id);
                m_chatHandles.insert(qMakePair(chat, id));
            }
            m_handleIds.insert(key, id);
        }
        const QPair<qint64, qint64> join(chat, id);
        if (!m_chatHandles.contains(join)) {
            if (!m_merged->hasChatHandle(chat, id))
                m_merged->addChatHandle(chat, id);
            m_chatHandles.insert(join);
        }
        return id;
    }

    void insertChosen(const _MsgMessage *m)
    {
        const qint64 chat = chatId(m->chat);
        const qint64 sender = chatHandleId(chat, m->sender);
        const QByteArray guid = m_guidsInMemory ? m->guid.toUtf8() : QByteArray();
        qint64 rowid = m_guidsInMemory ? m_copiedGuids.value(guid) : m_merged->messageRowid(m->guid);
        if (rowid == 0) {
            const qint64 other = chatHandleId(chat, m->other);
            rowid = m_merged->insertMessage(m, sender, other, QString());
            if (m_guidsInMemory)
                m_copiedGuids.insert(guid, rowid);
            m_merged->addChatMessage(chat, rowid);
            auto last = m_chatLast.find(chat);
            if (last == m_chatLast.end())
                m_chatLast.insert(chat, m->date);
            else if (m->date > last.value())
                last.value() = m->date;
        }
        // Written once per conversation before the commit; the sender of the
        // last group message in merge order is the one that stays.
        if (m->chat->isGroup() && m->sender)
            m_lastAddressed.insert(chat, m->sender->id);
        for (const _MsgAttachment *a : m->attachmentIds()) {
            qint64 attachment = m_merged->attachmentRowid(a);
            if (attachment == 0)
                attachment = m_merged->insertAttachment(a);
            m_merged->addMessageAttachment(rowid, attachment);
        }
    }

    void writeChatUpdates()
    {
        // In chat id order, so that the file comes out the same on every run.
        QList<qint64> ids = m_chatLast.keys();
        std::sort(ids.begin(), ids.end());
        for (qint64 id : std::as_const(ids))
            m_merged->updateChatLast(id, m_chatLast.value(id));
        ids = m_lastAddressed.keys();
        std::sort(ids.begin(), ids.end());
        for (qint64 id : std::as_const(ids))
            m_merged->setLastAddressedHandle(id, m_lastAddressed.value(id));
    }

    // Everything the backup gains is staged beside its target first; the
    // commit at the end puts it all in place, the catalogue last.
    void updateBackup()
    {
        BackupFolderUpdate update(m_t.m_backupDir);
        update.stageCopy(m_copyPath, m_smsId);
        // Digest, times and size of the new contents; a backup without a
        // record for its sms.db gets a whole one, with its folders.
        putMbdbRecord(m_records, m_copyPath, kHomeDomain, kSmsDbPath);

        for (const _MsgMessage *m : std::as_const(m_withAttachments)) {
            for (const _MsgAttachment *a : m->attachmentIds()) {
                if (a->_local_path.isEmpty() || !QFileInfo(a->_local_path).isFile())
                    continue;
                if (!a->filename.contains(QLatin1String("Library/")))
                    continue;
                const QString path = attachmentBackupPath(a->filename);
                if (path.isEmpty()) {
                    qWarning("IOS6RestoreMessagesThread skip attachment file with unsafe name %s",
                             qUtf8Printable(a->filename));
                    continue;
                }
                const QString name = mbdbFileId(kMediaDomain, path);
                if (update.isStaged(name))
                    continue;
                const QString target = update.targetPath(name);
                if (QFileInfo(target).isFile())
                    putMbdbRecord(m_records, target, kMediaDomain, path);
                else
                    putMbdbRecord(m_records, update.stageCopy(a->_local_path, name), kMediaDomain, path);
            }
        }

        QList<MbdbRecord> records = m_records.values();
        update.stageCatalogue(records, kCatalogue);
        // The last point at which a cancel still leaves the backup as it was;
        // past it, the change is made and reported.
        checkCancel();
        update.commit(Clock::currentSecsSinceEpoch());
    }

    static QString tr(const char *text) { return IOS6RestoreMessagesThread::tr(text); }

    IOS6RestoreMessagesThread &m_t;
    IOS6MessageDb &m_source;
    const QString m_smsId;
    QHash<QString, MbdbRecord> m_records;
    QString m_copyPath;
    bool m_copyMade = false;
    std::unique_ptr<IOS6MessageDb> m_merged;
    QString m_copyMessage;
    // Whether the guids below stand in for look-ups in the copy.
    bool m_guidsInMemory = false;
    QHash<qint64, QByteArray> m_sharedGuids; // backup rowid -> its guid, where a chosen message has that guid
    QHash<QByteArray, qint64> m_copiedGuids; // guid -> rowid in the copy, for every guid a later look-up may ask
    JoinList m_attachmentJoins;
    JoinList m_chatJoins;
    std::vector<MergeEntry> m_entries;
    QList<const _MsgMessage *> m_withAttachments;
    QHash<QString, qint64> m_chatIds;                   // chat guid
    QHash<QPair<QString, QString>, qint64> m_handleIds; // (id, service)
    QSet<QPair<qint64, qint64>> m_chatHandles;          // joined (chat, handle)
    QHash<qint64, int> m_chatLast;
    QHash<qint64, QString> m_lastAddressed;
};

IOS6RestoreMessagesThread::IOS6RestoreMessagesThread(const QString &country, const QList<_MsgMessage *> &messages,
                                                     IOS6MessageDb *sourceDb, const QDir &backupDir, QObject *form,
                                                     QObject *parent)
    : QThread(parent)
    , m_country(country)
    , m_messages(messages)
    , m_sourceDb(sourceDb)
    , m_backupDir(backupDir)
    , m_form(form)
{
}

IOS6RestoreMessagesThread::~IOS6RestoreMessagesThread() = default;

void IOS6RestoreMessagesThread::run()
{
    ProgressForm::postUpdateProgress(m_form, tr("IDS_MERGING_IOS6_MESSAGES"), 0, QString());
    m_noChatCount = 0;
    m_mergedCount = 0;
    if (!m_sourceDb) {
        ProgressForm::postErrorOccurred(m_form, tr("invalid IOS db."));
        return;
    }
    Merge merge(*this);
    try {
        merge.run();
    } catch (int) {
        // The user cancelled; the dialog has closed already.
        merge.abort();
        return;
    } catch (const std::exception &e) {
        merge.abort();
        ProgressForm::postErrorOccurred(m_form, QString::fromUtf8(e.what()));
        return;
    }
    ProgressForm::postSucceed(m_form, QString());
}
