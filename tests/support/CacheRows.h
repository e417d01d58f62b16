#pragma once

#include <QMap>
#include <QString>

// The rows of a cache database ("manifest" table: file id -> catalogue time)
// as another connection sees them, so only what was committed. Empty when the
// file is missing or has no such table.
QMap<QString, qint64> readCacheRows(const QString &dbPath);

// Writes a cache database as versions before the sizes were kept left it:
// the manifest table of file id and catalogue time alone, with these rows.
// Throws std::runtime_error when it cannot be written.
void writeEarlierCacheDb(const QString &dbPath, const QMap<QString, qint64> &rows);
