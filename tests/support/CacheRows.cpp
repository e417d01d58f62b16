#include "CacheRows.h"

#include <QFileInfo>

#include <sqlite3.h>

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
