#include "Sqlite3DB.h"

#include <sqlite3.h>

#include <stdexcept>

#include "Sqlite3Holder.h"
#include "Sqlite3Stmt.h"

namespace
{
// Statements kept per connection; beyond this the cache starts again, which
// only costs a re-preparation.
constexpr int kMaxCachedStatements = 256;

// Once per process, before the first connection: the library's allocation
// statistics cost a global lock on every allocation and nothing reads them.
// Should the library have been started elsewhere already, it keeps its
// settings.
void configureLibrary()
{
    static const bool configured = [] {
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        return sqlite3_initialize() == SQLITE_OK;
    }();
    (void)configured;
}
} // namespace

Sqlite3DB::Sqlite3DB()
    : m_holder(std::make_shared<Sqlite3Holder>())
{
}

Sqlite3DB::~Sqlite3DB()
{
    close();
}

bool Sqlite3DB::isOpen() const
{
    m_holder->check("Sqlite3DB::isOpen");
    return m_db != nullptr;
}

sqlite3 *Sqlite3DB::handle() const
{
    m_holder->check("Sqlite3DB::handle");
    return m_db;
}

const QString &Sqlite3DB::dbPath() const
{
    m_holder->check("Sqlite3DB::dbPath");
    return m_path;
}

Sqlite3Lease Sqlite3DB::lend()
{
    m_holder->lend("Sqlite3DB::lend");
    return Sqlite3Lease(m_holder);
}

void Sqlite3DB::openThrow(const QString &path, int flags)
{
    const Sqlite3Holder::Call call(*m_holder, "Sqlite3DB::openThrow");
    close();
    int sqliteFlags = 0;
    if (flags & ReadWrite)
        sqliteFlags |= SQLITE_OPEN_READWRITE;
    else
        sqliteFlags |= SQLITE_OPEN_READONLY;
    if ((flags & 4) && (flags & ReadWrite))
        sqliteFlags |= SQLITE_OPEN_CREATE;

    configureLibrary();
    // A connection is only ever used by one thread at a time, so it takes no
    // lock of its own on every call.
    sqliteFlags |= SQLITE_OPEN_NOMUTEX;

    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &db, sqliteFlags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string msg = db ? std::string(sqlite3_errmsg(db)) : std::string("out of memory");
        sqlite3_close_v2(db);
        throw std::runtime_error(
            QStringLiteral("Cannot open database %1: %2").arg(path, QString::fromStdString(msg)).toStdString());
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 5000);
    m_db = db;
    m_path = path;
}

void Sqlite3DB::close()
{
    const Sqlite3Holder::Call call(*m_holder, "Sqlite3DB::close");
    // Cursors may still hold statements; close_v2 keeps the connection as a
    // zombie until the last of them is finalized.
    m_cache.clear();
    for (QSharedPointer<Sqlite3Stmt> &recent : m_recent)
        recent.reset();
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

void Sqlite3DB::beginTran()
{
    executeThrow(Sqlite3Sql("BEGIN"));
}

void Sqlite3DB::commitTran()
{
    executeThrow(Sqlite3Sql("COMMIT"));
}

void Sqlite3DB::rollbackTran()
{
    executeThrow(Sqlite3Sql("ROLLBACK"));
}

QSharedPointer<Sqlite3Stmt> Sqlite3DB::prepared(const Sqlite3Sql &sql)
{
    const Sqlite3Holder::Call call(*m_holder, "Sqlite3DB::prepared");
    if (!m_db)
        throw std::runtime_error("database is not open");
    const QString &text = sql.sql();
    QSharedPointer<Sqlite3Stmt> &recent = m_recent[(quintptr(text.constData()) >> 3) % kRecent];
    if (recent && !recent->busy && recent->sql().constData() == text.constData()
        && QStringView(recent->sql()) == QStringView(text)) {
        recent->bind(sql);
        return recent;
    }
    auto it = m_cache.find(text);
    if (it != m_cache.end() && !it.value()->busy) {
        it.value()->bind(sql);
        recent = it.value();
        return it.value();
    }
    auto stmt = QSharedPointer<Sqlite3Stmt>::create(m_db, sql.sql(), m_holder);
    stmt->bind(sql);
    if (it == m_cache.end()) {
        if (m_cache.size() >= kMaxCachedStatements) {
            // Drop only idle statements; busy ones stay owned by their cursors.
            for (auto c = m_cache.begin(); c != m_cache.end();) {
                if (!c.value()->busy)
                    c = m_cache.erase(c);
                else
                    ++c;
            }
        }
        m_cache.insert(sql.sql(), stmt);
        recent = stmt;
    }
    return stmt;
}

Sqlite3Cursor Sqlite3DB::queryThrow(const Sqlite3Sql &sql)
{
    const Sqlite3Holder::Call call(*m_holder, "Sqlite3DB::queryThrow");
    return Sqlite3Cursor(prepared(sql));
}

void Sqlite3DB::executeThrow(const Sqlite3Sql &sql)
{
    const Sqlite3Holder::Call call(*m_holder, "Sqlite3DB::executeThrow");
    Sqlite3Cursor cursor(prepared(sql));
    while (cursor.moveNext()) {
    }
}

qint64 Sqlite3DB::lastInsertId() const
{
    m_holder->check("Sqlite3DB::lastInsertId");
    return m_db ? sqlite3_last_insert_rowid(m_db) : 0;
}

int Sqlite3DB::changes() const
{
    m_holder->check("Sqlite3DB::changes");
    return m_db ? sqlite3_changes(m_db) : 0;
}

int Sqlite3DB::exec(const QString &sql, QString &error)
{
    const Sqlite3Holder::Call call(*m_holder, "Sqlite3DB::exec");
    error.clear();
    if (!m_db) {
        error = QStringLiteral("database is not open");
        return SQLITE_MISUSE;
    }
    char *msg = nullptr;
    const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &msg);
    if (rc != SQLITE_OK)
        error = msg ? QString::fromUtf8(msg) : QString::fromUtf8(sqlite3_errstr(rc));
    sqlite3_free(msg);
    return rc;
}

QHash<QString, _SqliteCol> Sqlite3DB::tbInfo(const QString &table)
{
    const Sqlite3Holder::Call call(*m_holder, "Sqlite3DB::tbInfo");
    QHash<QString, _SqliteCol> cols;
    QString quoted = table;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    Sqlite3Cursor c = queryThrow(Sqlite3Sql(QStringLiteral("PRAGMA table_info(\"%1\")").arg(quoted)));
    while (c.moveNext()) {
        const QString name = c.getText(QStringLiteral("name"));
        cols.insert(name, _SqliteCol(name, c.getText(QStringLiteral("type")), c.getInt(QStringLiteral("notnull")) != 0,
                                     false, c.getInt(QStringLiteral("pk")) != 0));
    }
    return cols;
}
