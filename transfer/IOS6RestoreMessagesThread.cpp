#include "IOS6RestoreMessagesThread.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <future>
#include <memory>
#include <stdexcept>
#include <vector>

#include <sqlite3.h>

#include "BackupFolderUpdate.h"
#include "ChatRowCache.h"
#include "Clock.h"
#include "EmptyingTriggers.h"
#include "Errors.h"
#include "IOS6MessageDb.h"
#include "MbdbFile.h"
#include "MergeEntry.h"
#include "MessageJoins.h"
#include "PlistNode.h"
#include "ProgressForm.h"
#include "RowStatement.h"
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
        m_attachmentJoins.read(*m_merged, "select ma.message_id, ma.attachment_id from "
                                                 "src.message_attachment_join as ma inner join src.message as m on "
                                                 "ma.message_id=m.rowid");
        m_chatJoins.read(*m_merged, "select cm.message_id, cm.chat_id from src.chat_message_join as cm inner "
                                           "join src.message as m on cm.message_id=m.rowid");
        buildEntries();
        std::stable_sort(m_entries.begin(), m_entries.end(), mergeEntryLess);
        prepareRowStatements();
        insertEntries();
        // With no message the backup lacks, the rebuilt copy would only
        // change the backup's rowids and conversations (even add ones no
        // message is filed under): the backup stays as it was.
        m_t.m_writtenCount = countNewMessages();
        if (m_t.m_writtenCount == 0) {
            discardCopy();
            return;
        }
        m_rows->writeChatUpdates();
        m_merged->endTransaction(true);
        finalizeRowStatements();
        m_merged->close();
        m_rows.reset();
        m_merged.reset();
        updateBackup();
    }

    // After a cancel or an error: the merged copy goes, the backup folder
    // has not been touched (what was staged in it has gone already).
    void abort() { discardCopy(); }

private:
    void discardCopy()
    {
        if (m_merged) {
            try {
                m_merged->endTransaction(false);
            } catch (const std::exception &e) {
                // Closing discards the transaction all the same.
                qWarning("IOS6RestoreMessagesThread rollback failed. %s", e.what());
            }
            m_merged->close();
            m_rows.reset();
            m_merged.reset();
        }
        if (m_copyMade)
            removeDatabaseFiles(m_copyPath);
        m_copyMade = false;
        m_source.close();
    }

    void checkCancel()
    {
        if (ProgressForm::isCancelled(m_t.m_form))
            throw kWorkerCancelled;
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
        m_rows = std::make_unique<ChatRowCache>(*m_merged);
        // The copy is scratch until the very end: after a crash it is never
        // used, and what reaches the backup is a staged copy of it, which is
        // synced on its own. Waiting for the disk at each of its commits and
        // its vacuum buys nothing, and neither does a rollback journal: a
        // failure at any point discards the whole copy, never rolls it back
        // to go on. Neither setting is kept in the file (a write-ahead log
        // would be), so the copy's bytes are those it would have had with
        // them on.
        m_merged->executeThrow(Sqlite3Sql("PRAGMA synchronous=OFF"));
        Sqlite3Cursor mode = m_merged->queryThrow(Sqlite3Sql("PRAGMA main.journal_mode=OFF"));
        mode.moveNext();
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
        // Each row these statements remove fires the device's triggers, one
        // by one: a hundred thousand joins each run a delete of their own.
        // When all any trigger on these tables does is remove or change rows
        // of the same tables (all of which end empty) or call the no-op
        // functions, the vacuumed copy is the same without them, and they are
        // left out; a trigger that could do more keeps them all.
        const bool quiet = EmptyingTriggers::doOnlyEmpty(*m_merged);
        m_merged->beginTransaction();
        if (quiet)
            enableTriggers(false);
        for (const char *sql : statements)
            m_merged->executeThrow(Sqlite3Sql(sql));
        if (quiet)
            enableTriggers(true);
        m_merged->endTransaction(true);
        m_merged->executeThrow(Sqlite3Sql("vacuum"));
        checkCancel();
    }

    void enableTriggers(bool on)
    {
        if (sqlite3_db_config(m_merged->handle(), SQLITE_DBCONFIG_ENABLE_TRIGGER, on ? 1 : 0, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string(sqlite3_errmsg(m_merged->handle())));
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
        // every column but its rowid.
        QStringList copied;
        for (const QString &column : columns) {
            if (!isRowid(column))
                copied << quoted(column);
        }
        m_copyMessage = QStringLiteral("insert into main.message(%1) select %1 from src.message where ROWID=?")
                            .arg(copied.join(QLatin1Char(',')));
        m_guidsInMemory = guidsCompareAsBytes();

        // The chosen messages taken into the merge, with the slot of their
        // guid: chosen messages of one guid share one, and a row of the
        // backup of that guid joins them below.
        const bool hasItemType = m_merged->hasItemType();
        QHash<QByteArray, qint32> guidSlots;
        std::vector<MergeEntry> chosen;
        chosen.reserve(size_t(m_t.m_messages.size()));
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
            if (m_guidsInMemory) {
                // A guid seen first gets the next slot.
                const QByteArray guid = m->guid.toUtf8();
                auto it = guidSlots.find(guid);
                if (it == guidSlots.end())
                    it = guidSlots.insert(guid, qint32(guidSlots.size()));
                e.guidSlot = it.value();
            }
            chosen.push_back(e);
        }

        // The backup's rows first, then the chosen ones in list order: the
        // sort keeps that order among entries it holds equal.
        const QString sql = QStringLiteral("select ROWID, %1%2 from src.message order by ROWID")
                                .arg(hasDate ? QStringLiteral("date") : QStringLiteral("0"),
                                     m_guidsInMemory ? QStringLiteral(", typeof(guid)='text', guid") : QString());
        {
            Sqlite3Cursor c = m_merged->queryThrow(Sqlite3Sql(sql));
            while (c.moveNext()) {
                MergeEntry e;
                e.key = c.getInt64(0);
                e.date = c.getInt64(1);
                e.isExisting = true;
                if (m_guidsInMemory && c.getInt64(2) != 0)
                    e.guidSlot = guidSlots.value(c.getUtf8(3).toByteArray(), -1);
                m_entries.push_back(e);
            }
        }
        m_entries.insert(m_entries.end(), chosen.begin(), chosen.end());
        m_slotRowids.assign(size_t(guidSlots.size()), 0);

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

    // The inserts run for the messages, one statement of the same text as
    // the database class's own each (a join of the backup's rows is replaced
    // as a join of a chosen message is), so the copy gets the same rows in
    // the same places.
    void prepareRowStatements()
    {
        sqlite3 *db = m_merged->handle();
        m_copyExisting.prepare(db, m_copyMessage);
        m_joinChat.prepare(db, QStringLiteral("replace into chat_message_join(chat_id,message_id) values(?,?)"));
        m_joinAttachment.prepare(
            db, QStringLiteral("replace into message_attachment_join(message_id,attachment_id) values(?,?)"));
    }

    void finalizeRowStatements()
    {
        m_copyExisting.finalize();
        m_joinChat.finalize();
        m_joinAttachment.finalize();
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
                insertExisting(e);
            else
                insertChosen(e);
            checkCancel();
        }
    }

    // Messages of the copy whose guid the backup's sms.db has not: those the
    // merge adds, whichever entry of a guid the sort put first.
    int countNewMessages()
    {
        Sqlite3Cursor c = m_merged->queryThrow(
            Sqlite3Sql("select count(*) from main.message as m where not exists "
                       "(select 1 from src.message as s where s.guid=m.guid)"));
        return c.moveNext() ? int(c.getInt64(0)) : 0;
    }

    void insertExisting(const MergeEntry &e)
    {
        const qint64 sourceRowid = e.key;
        qint64 rowid = 0;
        // Only a chosen message of its guid that went in earlier can be in
        // the copy already: the backup's rows have guids of their own.
        if (m_guidsInMemory) {
            if (e.guidSlot >= 0)
                rowid = m_slotRowids[size_t(e.guidSlot)];
        } else {
            Sqlite3Cursor c = m_merged->queryThrow(Sqlite3Sql("select m.ROWID from main.message as m where "
                                                              "m.guid=(select guid from src.message where ROWID=?)")
                                                       .addInt64Param(sourceRowid));
            if (c.moveNext())
                rowid = c.getInt64(0);
        }
        if (rowid == 0) {
            m_copyExisting.bind(1, sourceRowid).run();
            if (m_merged->changes() != 1)
                return;
            rowid = m_merged->lastInsertId();
            if (e.guidSlot >= 0)
                m_slotRowids[size_t(e.guidSlot)] = rowid;
        }
        const auto chats = m_chatJoins.of(sourceRowid);
        for (auto it = chats.first; it != chats.second; ++it)
            m_joinChat.bind(1, it->second).bind(2, rowid).run();
        const auto attachments = m_attachmentJoins.of(sourceRowid);
        for (auto it = attachments.first; it != attachments.second; ++it)
            m_joinAttachment.bind(1, rowid).bind(2, it->second).run();
    }

    void insertChosen(const MergeEntry &e)
    {
        const _MsgMessage *m = e.message;
        const qint64 chat = m_rows->chatId(m->chat);
        const qint64 sender = m_rows->chatHandleId(chat, m->sender);
        qint64 rowid = m_guidsInMemory ? m_slotRowids[size_t(e.guidSlot)] : m_merged->messageRowid(m->guid);
        if (rowid == 0) {
            const qint64 other = m_rows->chatHandleId(chat, m->other);
            rowid = m_merged->insertMessage(m, sender, other, QString());
            if (m_guidsInMemory)
                m_slotRowids[size_t(e.guidSlot)] = rowid;
            m_joinChat.bind(1, chat).bind(2, rowid).run();
            m_rows->messageAdded(chat, m->date);
        }
        // Written once per conversation before the commit; the sender of the
        // last group message in merge order is the one that stays.
        if (m->chat->isGroup() && m->sender)
            m_rows->addressed(chat, m->sender->id);
        for (const _MsgAttachment *a : m->attachmentIds()) {
            qint64 attachment = m_merged->attachmentRowid(a);
            if (attachment == 0)
                attachment = m_merged->insertAttachment(a);
            m_joinAttachment.bind(1, rowid).bind(2, attachment).run();
        }
    }

    // Everything the backup gains is staged beside its target first; the
    // commit at the end puts it all in place, the catalogue last.
    void updateBackup()
    {
        BackupFolderUpdate update(m_t.m_backupDir);
        // The digest of the merged copy, the longest step here, is taken on
        // a thread of its own while the files are staged: both only read
        // the copy, which nothing writes any more.
        std::future<QByteArray> smsDigest =
            std::async(std::launch::async, [path = m_copyPath] { return fileSha1(path); });
        update.stageCopy(m_copyPath, m_smsId);

        // The attachment files staged (or found in the backup already), in
        // the order their records are put below.
        struct StoredFile
        {
            QString localFile;
            QString path;
        };
        std::vector<StoredFile> stored;
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
                    stored.push_back(StoredFile{target, path});
                else
                    stored.push_back(StoredFile{update.stageCopy(a->_local_path, name), path});
            }
        }

        // Digest, times and size of the new contents; a backup without a
        // record for its sms.db gets a whole one, with its folders. The
        // sms.db's record goes first: records of missing folders get the
        // next inode numbers in the order they are put.
        putMbdbRecord(m_records, m_copyPath, kHomeDomain, kSmsDbPath, smsDigest.get());
        for (const StoredFile &file : stored)
            putMbdbRecord(m_records, file.localFile, kMediaDomain, file.path);

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
    RowStatement m_copyExisting;
    RowStatement m_joinChat;
    RowStatement m_joinAttachment;
    // Whether the guid slots below stand in for look-ups in the copy.
    bool m_guidsInMemory = false;
    std::vector<qint64> m_slotRowids; // by guid slot: the rowid in the copy, 0 until inserted
    MessageJoins m_attachmentJoins;
    MessageJoins m_chatJoins;
    std::vector<MergeEntry> m_entries;
    QList<const _MsgMessage *> m_withAttachments;
    std::unique_ptr<ChatRowCache> m_rows; // of the merged copy
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
    m_writtenCount = 0;
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
