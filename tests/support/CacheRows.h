#pragma once

#include <QMap>
#include <QString>

// The rows of a cache database ("manifest" table: file id -> catalogue time)
// as another connection sees them, so only what was committed. Empty when the
// file is missing or has no such table.
QMap<QString, qint64> readCacheRows(const QString &dbPath);
