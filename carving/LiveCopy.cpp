#include "LiveCopy.h"

#include <QFile>

#include <sqlite3.h>

#include <stdexcept>

#include "Sqlite3DB.h"

namespace
{

void writeFile(const QString &path, const char *bytes, qint64 size)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || (size > 0 && out.write(bytes, size) != size) || !out.flush())
        throw std::runtime_error(
            QStringLiteral("write %1 failed. %2").arg(path, out.errorString()).toStdString());
}

// A file in rollback-journal mode (format bytes 1) with no log to go with
// it: the engine reads it as a read-only database in memory, straight from
// the bytes, and nothing is written. A file in log mode is one the engine
// would read only with its log, which it cannot keep in memory.
bool readableInPlace(const uchar *file, qint64 size, const QByteArray &log)
{
    return file && size >= 100 && log.isEmpty() && file[18] == 1 && file[19] == 1;
}

} // namespace

LiveCopy::LiveCopy(const uchar *file, qint64 size, const QByteArray &log)
    : m_db(std::make_unique<Sqlite3DB>())
{
    if (!m_folder.isValid())
        throw std::runtime_error(
            QStringLiteral("make a private folder failed. %1").arg(m_folder.errorString()).toStdString());
    if (readableInPlace(file, size, log)) {
        m_db->openThrow(QStringLiteral(":memory:"), Sqlite3DB::ReadWrite);
        // Read-only: the engine never writes to the bytes it is handed.
        const int rc = sqlite3_deserialize(m_db->handle(), "main", const_cast<uchar *>(file), size, size,
                                           SQLITE_DESERIALIZE_READONLY);
        if (rc != SQLITE_OK)
            throw std::runtime_error(QStringLiteral("open a copy of the database in memory failed. %1")
                                         .arg(QString::fromUtf8(sqlite3_errstr(rc)))
                                         .toStdString());
        return;
    }
    const QString path = m_folder.filePath(QStringLiteral("sms.db"));
    writeFile(path, reinterpret_cast<const char *>(file), file ? size : 0);
    if (!log.isEmpty())
        writeFile(path + QStringLiteral("-wal"), log.constData(), log.size());
    m_db->openThrow(path, Sqlite3DB::ReadWrite);
    // The copy goes with its folder: the last connection's closing need not
    // write the log's pages back into it and wait for the disk (a failure
    // to say so only costs that time).
    sqlite3_db_config(m_db->handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
}

// The connection closes before the folder goes.
LiveCopy::~LiveCopy() = default;
