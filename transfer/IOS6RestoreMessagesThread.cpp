#include "IOS6RestoreMessagesThread.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMetaMethod>
#include <QPair>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <future>
#include <memory>
#include <string>
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

// The tables the merge empties before it writes them again.
bool isEmptiedTable(const QString &table)
{
    static const char *const tables[] = {"attachment",        "chat",           "handle",          "message",
                                         "message_attachment_join", "chat_message_join", "chat_handle_join"};
    return std::any_of(std::begin(tables), std::end(tables), [&](const char *name) {
        return table.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    });
}

// Whether a trigger, whenever it fires, does nothing but remove or change
// rows of the emptied tables and call the functions the database class
// registers as no-ops (with the number of arguments they take). Anything
// else (an insert, another table, RAISE, a function that is not known, a
// text the reading below does not follow) counts as doing more.
bool triggerOnlyEmpties(const QString &sql)
{
    // Quotes, brackets and comments could hide a ';' or a keyword.
    for (const char *hiding : {"'", "\"", "`", "[", "--", "/*"}) {
        if (sql.contains(QLatin1String(hiding)))
            return false;
    }
    static const QRegularExpression shape(QStringLiteral(R"(^\s*CREATE\s+TRIGGER\s(.*?)\bBEGIN\b(.*)\bEND\s*;?\s*$)"),
                                          QRegularExpression::CaseInsensitiveOption
                                              | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression call(QStringLiteral(R"((\w+)\s*\()"));
    static const QRegularExpression removal(QStringLiteral(R"(^(?:DELETE\s+FROM|UPDATE)\s+(\w+)\b)"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression noOp(QStringLiteral(R"(^SELECT\s+(\w+)\s*\(([\w\s.,]*)\)$)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch trigger = shape.match(sql);
    if (!trigger.hasMatch())
        return false;
    // Words before an opening parenthesis may only be the keywords of
    // conditions and subqueries.
    const auto onlyKeywordCalls = [](const QString &text) {
        static const QStringList keywords = {QStringLiteral("WHEN"), QStringLiteral("WHERE"), QStringLiteral("AND"),
                                             QStringLiteral("OR"),   QStringLiteral("NOT"),   QStringLiteral("IN"),
                                             QStringLiteral("EXISTS"), QStringLiteral("SELECT")};
        for (auto it = call.globalMatch(text); it.hasNext();) {
            if (!keywords.contains(it.next().captured(1), Qt::CaseInsensitive))
                return false;
        }
        return true;
    };
    if (!onlyKeywordCalls(trigger.captured(1)))
        return false;
    const QStringList statements = trigger.captured(2).split(QLatin1Char(';'));
    for (const QString &raw : statements) {
        const QString statement = raw.simplified();
        if (statement.isEmpty())
            continue;
        const QRegularExpressionMatch changes = removal.match(statement);
        if (changes.hasMatch()) {
            if (!isEmptiedTable(changes.captured(1)) || !onlyKeywordCalls(statement))
                return false;
            continue;
        }
        const QRegularExpressionMatch called = noOp.match(statement);
        if (!called.hasMatch())
            return false;
        const QString name = called.captured(1);
        const QString arguments = called.captured(2).trimmed();
        const int args = arguments.isEmpty() ? 0 : int(arguments.count(QLatin1Char(','))) + 1;
        const auto is = [&](const char *function, int count) {
            return name.compare(QLatin1String(function), Qt::CaseInsensitive) == 0 && args == count;
        };
        const bool known = is("delete_attachment_path", 1) || is("before_delete_attachment_path", 2);
        if (!known)
            return false;
    }
    return true;
}

// The guids of the chosen messages, each with a slot number (0, 1, ... in
// the order first seen): one array of their bytes and an open-addressed
// table over it, as a hundred thousand small hash nodes of their own would
// cost more than the look-ups do.
class GuidSlots
{
public:
    explicit GuidSlots(qsizetype expected)
    {
        qsizetype capacity = 16;
        while (capacity < expected * 2)
            capacity *= 2;
        m_table.assign(size_t(capacity), -1);
        m_keys.reserve(size_t(expected));
    }

    qint32 size() const { return qint32(m_keys.size()); }

    // The slot of the guid, a new one when it has none yet.
    qint32 add(QByteArrayView guid)
    {
        const quint64 h = hashOf(guid);
        size_t at = find(guid, h);
        if (m_table[at] >= 0)
            return m_table[at];
        if (size_t(m_keys.size() + 1) * 2 > m_table.size()) {
            grow();
            at = find(guid, h);
        }
        const qint32 slot = size();
        m_keys.push_back(Key{qsizetype(m_bytes.size()), guid.size(), h});
        m_bytes.append(guid.data(), guid.size());
        m_table[at] = slot;
        return slot;
    }

    // The slot of the guid; -1 when it has none.
    qint32 slotOf(QByteArrayView guid) const { return m_keys.empty() ? -1 : m_table[find(guid, hashOf(guid))]; }

private:
    struct Key
    {
        qsizetype offset;
        qsizetype size;
        quint64 hash;
    };

    // FNV-1a: guids are short, and the table only needs them spread.
    static quint64 hashOf(QByteArrayView bytes)
    {
        quint64 h = 14695981039346656037ULL;
        for (const char c : bytes) {
            h ^= quint8(c);
            h *= 1099511628211ULL;
        }
        return h ^ (h >> 29);
    }

    // The place of the guid in the table, or the free place where it would go.
    size_t find(QByteArrayView guid, quint64 h) const
    {
        const size_t mask = m_table.size() - 1;
        for (size_t at = size_t(h) & mask;; at = (at + 1) & mask) {
            const qint32 slot = m_table[at];
            if (slot < 0)
                return at;
            const Key &k = m_keys[size_t(slot)];
            if (k.hash == h && QByteArrayView(m_bytes.data() + k.offset, k.size) == guid)
                return at;
        }
    }

    void grow()
    {
        std::vector<qint32> table(m_table.size() * 2, -1);
        const size_t mask = table.size() - 1;
        for (size_t slot = 0; slot < m_keys.size(); ++slot) {
            size_t at = size_t(m_keys[slot].hash) & mask;
            while (table[at] >= 0)
                at = (at + 1) & mask;
            table[at] = qint32(slot);
        }
        m_table.swap(table);
    }

    std::string m_bytes;
    std::vector<Key> m_keys;
    std::vector<qint32> m_table;
};

// The UTF-8 bytes of a text into a buffer kept from one call to the next.
QByteArrayView utf8Of(const QString &text, std::string &buffer)
{
    buffer.resize(size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c >= 0x80) {
            const QByteArray utf8 = text.toUtf8();
            buffer.assign(utf8.constData(), size_t(utf8.size()));
            break;
        }
        buffer[size_t(i)] = char(c);
    }
    return QByteArrayView(buffer.data(), qsizetype(buffer.size()));
}

// A statement of the merge's own on the merged copy's connection, prepared
// once and run once per row: the inserts done for every message skip the
// parameter lists and the statement look-up of the general query path.
// Errors are SQLite's messages, as everywhere else.
class RowStatement
{
public:
    RowStatement() = default;
    ~RowStatement() { sqlite3_finalize(m_stmt); }
    RowStatement(const RowStatement &) = delete;
    RowStatement &operator=(const RowStatement &) = delete;

    void prepare(sqlite3 *db, const QString &sql)
    {
        finalize();
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v3(db, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr)
            != SQLITE_OK) {
            const std::string msg(sqlite3_errmsg(db));
            finalize();
            throw std::runtime_error(msg);
        }
        if (!m_stmt)
            throw std::runtime_error("empty statement: " + sql.toStdString());
        m_db = db;
    }

    void finalize()
    {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }

    RowStatement &bind(int place, qint64 value)
    {
        if (sqlite3_bind_int64(m_stmt, place, value) != SQLITE_OK)
            throw std::runtime_error(std::string(sqlite3_errmsg(m_db)));
        return *this;
    }

    // Runs the statement to its end and readies it for the next row.
    void run()
    {
        int rc;
        do
            rc = sqlite3_step(m_stmt);
        while (rc == SQLITE_ROW);
        if (rc != SQLITE_DONE) {
            // The message before reset() replaces it.
            const std::string msg(sqlite3_errmsg(m_db));
            sqlite3_reset(m_stmt);
            throw std::runtime_error(msg);
        }
        sqlite3_reset(m_stmt);
    }

private:
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
};

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
        // The flag is read once per message: the reader is looked up once.
        if (m_t.m_form) {
            const QMetaObject *meta = m_t.m_form->metaObject();
            m_isCancelled = meta->method(meta->indexOfMethod("isCancelled()"));
        }
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
        writeChatUpdates();
        m_merged->endTransaction(true);
        finalizeRowStatements();
        m_merged->close();
        m_merged.reset();
        updateBackup();
    }

    // After a cancel or an error: the merged copy goes, the backup folder
    // has not been touched (what was staged in it has gone already).
    void abort() { discardCopy(); }

private:
    void discardCopy()
    {
        finalizeRowStatements();
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
        m_copyMade = false;
        m_source.close();
    }

    void checkCancel()
    {
        bool cancelled = false;
        if (m_isCancelled.isValid())
            m_isCancelled.invoke(m_t.m_form, Qt::DirectConnection, Q_RETURN_ARG(bool, cancelled));
        if (cancelled)
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
        const bool quiet = emptyingTriggersAreUnused();
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

    bool emptyingTriggersAreUnused()
    {
        // A temporary trigger of this connection could be on them as well.
        Sqlite3Cursor c = m_merged->queryThrow(
            Sqlite3Sql("select tbl_name, sql from main.sqlite_master where type='trigger' union all "
                       "select tbl_name, sql from temp.sqlite_master where type='trigger'"));
        while (c.moveNext()) {
            if (isEmptiedTable(c.getText(0)) && !triggerOnlyEmpties(c.getText(1)))
                return false;
        }
        return true;
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
        GuidSlots guidSlots(m_guidsInMemory ? m_t.m_messages.size() : 0);
        std::string utf8;
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
            if (m_guidsInMemory)
                e.guidSlot = guidSlots.add(utf8Of(m->guid, utf8));
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
                    e.guidSlot = guidSlots.slotOf(c.getUtf8(3));
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

    // Before the connection closes, which finishes only once no statement
    // of it is left.
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

    void joinChatMessage(qint64 chat, qint64 message) { m_joinChat.bind(1, chat).bind(2, message).run(); }

    void joinMessageAttachment(qint64 message, qint64 attachment)
    {
        m_joinAttachment.bind(1, message).bind(2, attachment).run();
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
        const auto chats = joinsOf(m_chatJoins, sourceRowid);
        for (auto it = chats.first; it != chats.second; ++it)
            joinChatMessage(it->second, rowid);
        const auto attachments = joinsOf(m_attachmentJoins, sourceRowid);
        for (auto it = attachments.first; it != attachments.second; ++it)
            joinMessageAttachment(rowid, it->second);
    }

    qint64 chatId(const _MsgChat *chat)
    {
        // By record first: the messages of one conversation share it.
        const auto known = m_chatByRecord.constFind(chat);
        if (known != m_chatByRecord.constEnd())
            return known.value();
        qint64 id = m_chatIds.value(chat->guid);
        if (id == 0) {
            id = m_merged->chatRowid(chat->guid);
            if (id == 0)
                id = m_merged->insertChat(chat);
            m_chatIds.insert(chat->guid, id);
        }
        m_chatByRecord.insert(chat, id);
        return id;
    }

    // The handle's rowid in the merged copy, added and joined to the chat
    // when missing. Only this run writes the copy, so what it has looked up
    // stays true to the end.
    qint64 chatHandleId(qint64 chat, const _MsgHandle *handle)
    {
        if (!handle)
            return 0;
        qint64 id = m_handleByRecord.value(handle);
        if (id == 0) {
            const QPair<QString, QString> key(handle->id, handle->service);
            id = m_handleIds.value(key);
            if (id == 0) {
                id = m_merged->handleRowid(handle);
                if (id == 0) {
                    id = m_merged->insertHandle(handle);
                    m_merged->addChatHandle(chat, id);
                    m_chatHandles.insert(qMakePair(chat, id));
                }
                m_handleIds.insert(key, id);
            }
            m_handleByRecord.insert(handle, id);
        }
        const QPair<qint64, qint64> join(chat, id);
        if (!m_chatHandles.contains(join)) {
            if (!m_merged->hasChatHandle(chat, id))
                m_merged->addChatHandle(chat, id);
            m_chatHandles.insert(join);
        }
        return id;
    }

    void insertChosen(const MergeEntry &e)
    {
        const _MsgMessage *m = e.message;
        const qint64 chat = chatId(m->chat);
        const qint64 sender = chatHandleId(chat, m->sender);
        qint64 rowid = m_guidsInMemory ? m_slotRowids[size_t(e.guidSlot)] : m_merged->messageRowid(m->guid);
        if (rowid == 0) {
            const qint64 other = chatHandleId(chat, m->other);
            rowid = m_merged->insertMessage(m, sender, other, QString());
            if (m_guidsInMemory)
                m_slotRowids[size_t(e.guidSlot)] = rowid;
            joinChatMessage(chat, rowid);
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
            joinMessageAttachment(rowid, attachment);
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
    QMetaMethod m_isCancelled;
    RowStatement m_copyExisting;
    RowStatement m_joinChat;
    RowStatement m_joinAttachment;
    // Whether the guid slots below stand in for look-ups in the copy.
    bool m_guidsInMemory = false;
    std::vector<qint64> m_slotRowids; // by guid slot: the rowid in the copy, 0 until inserted
    JoinList m_attachmentJoins;
    JoinList m_chatJoins;
    std::vector<MergeEntry> m_entries;
    QList<const _MsgMessage *> m_withAttachments;
    QHash<QString, qint64> m_chatIds;                   // chat guid
    QHash<const _MsgChat *, qint64> m_chatByRecord;
    QHash<QPair<QString, QString>, qint64> m_handleIds; // (id, service)
    QHash<const _MsgHandle *, qint64> m_handleByRecord;
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
