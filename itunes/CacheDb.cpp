#include "CacheDb.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sqlite3.h>

#include "Errors.h"


namespace
{

const QString kScript = QStringLiteral(":/res/cache_db.sql");

// File ids are lower-case hex digests we compute ourselves, so an exact
// match finds them, and it can use the primary key's index where a LIKE
// could not.
const QString kSelect =
    QStringLiteral("select last_date, record_size, copy_size from manifest where file_name=?");
const QString kUpdate =
    QStringLiteral("update manifest set last_date=?, record_size=?, copy_size=? where file_name=?");
const QString kInsert =
    QStringLiteral("insert into manifest(file_name,last_date,record_size,copy_size) values(?,?,?,?)");

// The sizes came after the table: the script that makes a new file, and the
// files earlier versions made, have the time alone.
const char *const kSizeColumns[] = {"record_size", "copy_size"};

Sqlite3Sql &addSize(Sqlite3Sql &sql, const std::optional<qint64> &size)
{
    return size ? sql.addInt64Param(*size) : sql.addNullParam();
}

std::optional<qint64> sizeAt(const Sqlite3Cursor &cursor, const QString &column)
{
    if (cursor.isNull(column))
        return std::nullopt;
    return cursor.getInt64(column);
}

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
        addSizeColumns();
    } catch (...) {
        // A file whose rows cannot hold the sizes cannot say a copy is whole.
        m_db.close();
        throw;
    }
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

void CacheDb::addSizeColumns()
{
    QSet<QString> columns;
    {
        Sqlite3Cursor cursor = m_db.queryThrow(Sqlite3Sql("select name from pragma_table_info('manifest')"));
        while (cursor.moveNext())
            columns.insert(cursor.getText(0).toLower());
    }
    if (columns.isEmpty())
        throwError(QStringLiteral("%1 has no table manifest.").arg(m_path));
    for (const char *column : kSizeColumns) {
        if (!columns.contains(QLatin1String(column)))
            m_db.executeThrow(
                Sqlite3Sql(QStringLiteral("alter table manifest add column %1 INTEGER").arg(QLatin1String(column))));
    }
}

qint64 CacheDb::lastDate(const QString &fileId)
{
    return entry(fileId).lastDate;
}

void CacheDb::setLastDate(const QString &fileId, qint64 date)
{
    Entry e;
    e.lastDate = date;
    setEntry(fileId, e);
}

std::optional<CacheDb::Entry> CacheDb::find(const QString &fileId)
{
    open();
    Sqlite3Cursor cursor = m_db.queryThrow(Sqlite3Sql(kSelect).addTextParam(fileId));
    if (!cursor.moveNext())
        return std::nullopt;
    Entry e;
    e.lastDate = cursor.getInt64(QStringLiteral("last_date"));
    e.recordSize = sizeAt(cursor, QStringLiteral("record_size"));
    e.copySize = sizeAt(cursor, QStringLiteral("copy_size"));
    return e;
}

CacheDb::Entry CacheDb::entry(const QString &fileId)
{
    try {
        if (const std::optional<Entry> e = find(fileId))
            return *e;
    } catch (const std::exception &e) {
        warnOnce(e);
    }
    return Entry();
}

void CacheDb::setEntry(const QString &fileId, const Entry &entry)
{
    try {
        const std::optional<Entry> stored = find(fileId);
        if (stored && stored->lastDate == entry.lastDate && stored->recordSize == entry.recordSize
            && stored->copySize == entry.copySize)
            return;
        Sqlite3Sql sql(stored ? kUpdate : kInsert);
        if (!stored)
            sql.addTextParam(fileId);
        sql.addInt64Param(entry.lastDate);
        addSize(sql, entry.recordSize);
        addSize(sql, entry.copySize);
        if (stored)
            sql.addTextParam(fileId);
        m_db.executeThrow(sql);
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
