#include "CacheRows.h"

#include <QFileInfo>

#include <sqlite3.h>

#include <stdexcept>

QMap<QString, qint64> readCacheRows(const QString &dbPath)
{
    QMap<QString, qint64> rows;
    if (!QFileInfo(dbPath).isFile())
        return rows;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(dbPath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, "select file_name, last_date from manifest", -1, &stmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW)
                rows.insert(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0))),
                            sqlite3_column_int64(stmt, 1));
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return rows;
}

void writeEarlierCacheDb(const QString &dbPath, const QMap<QString, qint64> &rows)
{
    static const char schema[] = "CREATE TABLE manifest(\n    file_name VARCHAR PRIMARY KEY,\n"
                                 "    last_date INTEGER NOT NULL\n);";
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open(dbPath.toUtf8().constData(), &db) == SQLITE_OK
        && sqlite3_exec(db, schema, nullptr, nullptr, nullptr) == SQLITE_OK;
    for (auto it = rows.cbegin(); ok && it != rows.cend(); ++it) {
        sqlite3_stmt *stmt = nullptr;
        ok = sqlite3_prepare_v2(db, "insert into manifest(file_name,last_date) values(?,?)", -1, &stmt, nullptr)
            == SQLITE_OK;
        if (ok) {
            const QByteArray id = it.key().toUtf8();
            sqlite3_bind_text(stmt, 1, id.constData(), int(id.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(stmt, 2, it.value());
            ok = sqlite3_step(stmt) == SQLITE_DONE;
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    if (!ok)
        throw std::runtime_error("cannot write the cache database " + dbPath.toStdString());
}
