#include "IOS6MessageDb.h"

#include <sqlite3.h>

#include <QFile>
#include <QFileInfo>

#include <stdexcept>

namespace
{

const char kSchemaResource[] = ":/res/localmsgdb_ddl.sql";

// The triggers of a device's sms.db call these to remove attachment files on
// the phone. Here the files are the user's copies: the functions only have to
// exist, answer 0 and touch nothing.
void noOpFunction(sqlite3_context *context, int, sqlite3_value **)
{
    sqlite3_result_int(context, 0);
}

struct UpgradeStep
{
    int line;
    const char *table; // "chat" or "message"
    const char *column;
    const char *sql;
};

// Columns that local databases written by earlier releases lack, in the order
// they were added. The numbers are part of the error text users report.
const UpgradeStep kUpgradeSteps[] = {
    {122, "chat", "group_id", "ALTER TABLE chat ADD COLUMN group_id TEXT;"},
    {127, "message", "is_audio_message", "ALTER TABLE message ADD COLUMN is_audio_message INTEGER DEFAULT 0;"},
    {130, "message", "is_played", "ALTER TABLE message ADD COLUMN is_played INTEGER DEFAULT 0;"},
    {133, "message", "date_played", "ALTER TABLE message ADD COLUMN date_played INTEGER;"},
    {136, "message", "item_type", "ALTER TABLE message ADD COLUMN item_type INTEGER DEFAULT 0;"},
    {139, "message", "other_handle", "ALTER TABLE message ADD COLUMN other_handle INTEGER DEFAULT -1;"},
    {142, "message", "group_title", "ALTER TABLE message ADD COLUMN group_title TEXT;"},
    {145, "message", "group_action_type", "ALTER TABLE message ADD COLUMN group_action_type INTEGER DEFAULT 0;"},
    {148, "message", "share_status", "ALTER TABLE message ADD COLUMN share_status INTEGER;"},
    {151, "message", "share_direction", "ALTER TABLE message ADD COLUMN share_direction INTEGER;"},
    {154, "message", "is_expirable", "ALTER TABLE message ADD COLUMN is_expirable INTEGER DEFAULT 0;"},
    {157, "message", "expire_state", "ALTER TABLE message ADD COLUMN expire_state INTEGER DEFAULT 0;"},
    {160, "message", "message_action_type", "ALTER TABLE message ADD COLUMN message_action_type INTEGER DEFAULT 0;"},
    {163, "message", "logic_hash", "ALTER TABLE message ADD COLUMN logic_hash TEXT;"},
};
const UpgradeStep kLogicHashIndex = {164, "message", "logic_hash",
                                     "CREATE INDEX message_idx_logic_hash ON message(logic_hash);"};

// Column names of a table in lower case: SQLite compares them so, and an
// ALTER for a column that differs only in case would fail as a duplicate.
QSet<QString> lowerColumnNames(Sqlite3DB &db, const QString &table)
{
    QSet<QString> names;
    const auto info = db.tbInfo(table);
    for (auto it = info.cbegin(); it != info.cend(); ++it)
        names.insert(it.key().toLower());
    return names;
}

} // namespace

IOS6MessageDb::IOS6MessageDb(const QDir &root, const QString &country, bool allowUpgrade)
    : m_rootDir(root)
    , m_contacts(root, country)
    , m_recycle(root.absoluteFilePath(QStringLiteral("recycle.db")))
    , m_countries(country)
    , m_allowUpgrade(allowUpgrade)
{
    m_srcDir = QDir(root.absoluteFilePath(QStringLiteral("file-relay")));
    m_dbPath = m_srcDir.absoluteFilePath(QStringLiteral("var/mobile/Library/SMS/sms.db"));
}

IOS6MessageDb::~IOS6MessageDb() = default;

void IOS6MessageDb::setDbPath(const QString &path)
{
    m_dbPath = path;
}

QString IOS6MessageDb::attachmentRelativePath(const QString &filename)
{
    QString rel;
    rel.reserve(filename.size() + 9);
    qsizetype from = filename.startsWith(QLatin1Char('/')) ? 1 : 0;
    if (QStringView(filename).mid(from).startsWith(QLatin1String("~/"))) {
        rel = QStringLiteral("var/mobile/");
        from += 2;
    }
    for (qsizetype i = from; i < filename.size(); ++i) {
        const QChar ch = filename.at(i);
        switch (ch.unicode()) {
        case '\\':
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
            break;
        default:
            rel.append(ch);
        }
    }
    // The name comes from a database file: it must not reach outside the
    // folder it is put under. This is looser than isSafeRelativePath on
    // purpose: "." and empty components, harmless here, are kept as the
    // device wrote them, since copies exported earlier lie under the very
    // path this gives.
    if (rel.isEmpty() || rel.startsWith(QLatin1Char('/')) || rel.endsWith(QLatin1Char('/')))
        return QString();
    for (const QStringView part : QStringView(rel).split(QLatin1Char('/'))) {
        if (part == QLatin1String(".."))
            return QString();
    }
    return rel;
}

QString IOS6MessageDb::attachmentLocalPath(const QString &filename) const
{
    const QString rel = attachmentRelativePath(filename);
    return rel.isEmpty() ? QString() : m_srcDir.absoluteFilePath(rel);
}

void IOS6MessageDb::ensureOpen()
{
    if (handle())
        return;
    const bool existed = QFileInfo::exists(m_dbPath);
    // Copies of a device's or a backup's file are opened without upgrades,
    // and nothing may be added to them: where the file is missing there is
    // nothing to read, and an empty database made in its place would pass
    // for a source without messages.
    if (!existed && !m_allowUpgrade)
        throw std::runtime_error(QStringLiteral("Cannot open database %1: the file does not exist.")
                                     .arg(QDir::toNativeSeparators(m_dbPath))
                                     .toStdString());
    try {
        if (existed) {
            openThrow(m_dbPath, ReadWrite);
            if (m_allowUpgrade)
                upgrade();
        } else {
            // A failure here shows as the open's error.
            QDir().mkpath(QFileInfo(m_dbPath).absolutePath());
            openThrow(m_dbPath, ReadWriteCreate);
            createFromScript();
        }
        registerFunctions();
        readTableMap();
        // A user's sms.db holds 100,000 messages and more; with SQLite's
        // default of 2 MB the pages of a whole read or backup no longer fit
        // and go back and forth to the file. The cache only grows as far as
        // pages are used.
        executeThrow(Sqlite3Sql("PRAGMA cache_size=-65536"));
    } catch (...) {
        // Without its table map and functions the connection would write the
        // wrong columns and fail on the device's triggers: close it, so that
        // the next call opens afresh. A file made just now holds only part of
        // the schema and would be taken for a database next time.
        close();
        m_tableSql.clear();
        m_cols = Columns();
        m_insertSql.clear();
        if (!existed) {
            QFile::remove(m_dbPath);
            QFile::remove(m_dbPath + QStringLiteral("-journal"));
        }
        throw;
    }
}

void IOS6MessageDb::createFromScript()
{
    QFile script(QString::fromLatin1(kSchemaResource));
    if (!script.open(QIODevice::ReadOnly))
        throw std::runtime_error(
            QStringLiteral("read IOS6MessageDb ddl error. %1").arg(script.errorString()).toStdString());
    QByteArray bytes = script.readAll();
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    char *message = nullptr;
    const int rc = sqlite3_exec(handle(), bytes.constData(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const QString text = message ? QString::fromUtf8(message) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_free(message);
        throw std::runtime_error(QStringLiteral("create IOS6MessageDb error. %1").arg(text).toStdString());
    }
    sqlite3_free(message);
}

void IOS6MessageDb::upgrade()
{
    const QSet<QString> chatColumns = lowerColumnNames(*this, QStringLiteral("chat"));
    const QSet<QString> messageColumns = lowerColumnNames(*this, QStringLiteral("message"));

    auto run = [this](const UpgradeStep &step) {
        QString error;
        const QString sql = QString::fromLatin1(step.sql);
        if (exec(sql, error) != 0)
            throw std::runtime_error(
                QStringLiteral("line:%1, sql:%2, error:%3").arg(step.line).arg(sql, error).toStdString());
    };

    for (const UpgradeStep &step : kUpgradeSteps) {
        const QSet<QString> &columns = qstrcmp(step.table, "chat") == 0 ? chatColumns : messageColumns;
        if (columns.contains(QString::fromLatin1(step.column)))
            continue;
        run(step);
        // Only a column added just now gets its index; a file that has the
        // column keeps whatever indexes it has.
        if (step.line == 163)
            run(kLogicHashIndex);
    }
}

void IOS6MessageDb::registerFunctions()
{
    struct Function
    {
        const char *name;
        int args;
    };
    static const Function functions[] = {{"delete_attachment_path", 1}, {"before_delete_attachment_path", 2}};
    for (const Function &f : functions) {
        const int rc = sqlite3_create_function_v2(handle(), f.name, f.args, SQLITE_ANY, nullptr, noOpFunction,
                                                  nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            throw std::runtime_error(QStringLiteral("can not register %1: %2")
                                         .arg(QString::fromLatin1(f.name), QString::fromUtf8(sqlite3_errstr(rc)))
                                         .toStdString());
    }
}

bool IOS6MessageDb::tableHas(const QString &table, const QString &probe, Qt::CaseSensitivity cs) const
{
    auto it = m_tableSql.constFind(table);
    return it != m_tableSql.constEnd() && it.value().contains(probe, cs);
}

void IOS6MessageDb::readTableMap()
{
    m_tableSql.clear();
    m_insertSql.clear();
    {
        Sqlite3Cursor c = queryThrow(Sqlite3Sql("select * from sqlite_master where type='table'"));
        while (c.moveNext())
            m_tableSql.insert(c.getText(QStringLiteral("name")), c.getText(QStringLiteral("sql")));
    }

    const QString chat = QStringLiteral("chat");
    const QString handleTable = QStringLiteral("handle");
    const QString message = QStringLiteral("message");
    const QString attachment = QStringLiteral("attachment");
    Columns cols;
    cols.chatLast = tableHas(chat, QStringLiteral("_last INTEGER"), Qt::CaseInsensitive);
    cols.chatDisplayName = tableHas(chat, QStringLiteral("display_name"), Qt::CaseSensitive);
    cols.chatGroupId = tableHas(chat, QStringLiteral("group_id"), Qt::CaseSensitive);
    cols.handleCtName = tableHas(handleTable, QStringLiteral("_ct_name TEXT"), Qt::CaseInsensitive);
    cols.handlePhoto = tableHas(handleTable, QStringLiteral("_photo BLOB"), Qt::CaseInsensitive);
    cols.attUserInfo = tableHas(attachment, QStringLiteral("user_info"), Qt::CaseSensitive);
    cols.attTransferName = tableHas(attachment, QStringLiteral("transfer_name"), Qt::CaseSensitive);
    cols.attTotalBytes = tableHas(attachment, QStringLiteral("total_bytes"), Qt::CaseSensitive);
    cols.msgItemType = tableHas(message, QStringLiteral("item_type"), Qt::CaseSensitive);
    cols.msgLogicHash = tableHas(message, QStringLiteral("logic_hash"), Qt::CaseSensitive);
    for (int i = 0; i < IOS6MessageColumn::kLaterCount; ++i) {
        const char *name = IOS6MessageColumn::kNames[IOS6MessageColumn::kFirstLater + i];
        cols.msgLater[i] = tableHas(message, QString::fromLatin1(name), Qt::CaseSensitive);
    }
    m_cols = cols;
}

qint64 IOS6MessageDb::firstRowid(const Sqlite3Sql &query)
{
    Sqlite3Cursor c = queryThrow(query);
    return c.moveNext() ? c.getInt64(0) : 0;
}
