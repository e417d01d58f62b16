#include "CacheDb.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include "Errors.h"


namespace
{

const QString kScript = QStringLiteral(":/res/cache_db.sql");

// File ids are lower-case hex digests we compute ourselves, so an exact
// match finds them, and it can use the primary key's index where a LIKE
// could not.
const QString kSelect = QStringLiteral("select last_date from manifest where file_name=?");
const QString kUpdate = QStringLiteral("update manifest set last_date=? where file_name=?");
const QString kInsert = QStringLiteral("insert into manifest(file_name,last_date) values(?,?)");

void removeDatabaseFiles(const QString &path)
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-journal"));
}

} // namespace

CacheDb::CacheDb(const QString &path)
    : m_path(path)
{
}

CacheDb::~CacheDb()
{
    if (!isOpen())
        return;
    try {
        m_db.commitTran();
    } catch (const std::exception &e) {
        qWarning("Cannot commit the cache database %s: %s", qUtf8Printable(m_path), e.what());
    }
    m_db.close();
}

void CacheDb::open()
{
    if (isOpen())
        return;
    if (QFileInfo::exists(m_path))
        m_db.openThrow(m_path, Sqlite3DB::ReadWrite);
    else
        create();
    try {
        m_db.beginTran();
    } catch (const std::exception &e) {
        // Without a transaction every row is written at once: slower, not wrong.
        qWarning("Cannot begin a transaction on %s: %s", qUtf8Printable(m_path), e.what());
    }
}

void CacheDb::create()
{
    QFile script(kScript);
    if (!script.open(QIODevice::ReadOnly))
        throwError(script.errorString());
    QByteArray text = script.readAll();
    const qsizetype zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);

    m_db.openThrow(m_path, Sqlite3DB::ReadWriteCreate);
    char *error = nullptr;
    if (sqlite3_exec(m_db.handle(), text.constData(), nullptr, nullptr, &error) != SQLITE_OK) {
        const QString message = error ? QString::fromUtf8(error) : QStringLiteral("unknown error");
        sqlite3_free(error);
        // A file without its table would be opened as it is by every later
        // run and never record anything.
        m_db.close();
        removeDatabaseFiles(m_path);
        throwError(message);
    }
}

qint64 CacheDb::lastDate(const QString &fileId)
{
    try {
        open();
        Sqlite3Cursor cursor = m_db.queryThrow(Sqlite3Sql(kSelect).addTextParam(fileId));
        if (cursor.moveNext())
            return cursor.getInt64(QStringLiteral("last_date"));
    } catch (const std::exception &e) {
        warnOnce(e);
    }
    return 0;
}

void CacheDb::setLastDate(const QString &fileId, qint64 date)
{
    try {
        open();
        bool exists = false;
        qint64 stored = 0;
        {
            Sqlite3Cursor cursor = m_db.queryThrow(Sqlite3Sql(kSelect).addTextParam(fileId));
            exists = cursor.moveNext();
            if (exists)
                stored = cursor.getInt64(QStringLiteral("last_date"));
        }
        if (exists) {
            if (stored != date)
                m_db.executeThrow(Sqlite3Sql(kUpdate).addInt64Param(date).addTextParam(fileId));
        } else {
            m_db.executeThrow(Sqlite3Sql(kInsert).addTextParam(fileId).addInt64Param(date));
        }
    } catch (const std::exception &e) {
        warnOnce(e);
    }
}

void CacheDb::warnOnce(const std::exception &e)
{
    // A database that cannot be used fails the same way for every file of
    // the run; once in the log says it.
    if (m_warned)
        return;
    m_warned = true;
    qWarning("Cache database %s: %s", qUtf8Printable(m_path), e.what());
}

void CacheDb::discard()
{
    if (!isOpen())
        return;
    try {
        m_db.rollbackTran();
    } catch (const std::exception &e) {
        qWarning("Cannot roll back the cache database %s: %s", qUtf8Printable(m_path), e.what());
    }
    m_db.close();
}
