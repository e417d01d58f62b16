#include "RowStatement.h"

#include <sqlite3.h>

#include <stdexcept>
#include <string>

RowStatement::~RowStatement()
{
    sqlite3_finalize(m_stmt);
}

void RowStatement::prepare(sqlite3 *db, const QString &sql)
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

void RowStatement::finalize()
{
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
}

RowStatement &RowStatement::bind(int place, qint64 value)
{
    if (sqlite3_bind_int64(m_stmt, place, value) != SQLITE_OK)
        throw std::runtime_error(std::string(sqlite3_errmsg(m_db)));
    return *this;
}

void RowStatement::run()
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
