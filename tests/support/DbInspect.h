#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Looks at a database file from outside, with a read-only connection of its
// own that is closed before returning.

// Every table of the file with its number of rows.
QMap<QString, qint64> tableRowCounts(const QString &path);
// The rows of one query, each as "value|value|..." in column order.
QStringList queryRows(const QString &path, const QString &sql);
// SHA-1 of the file's bytes; empty when it cannot be read.
QByteArray fileDigest(const QString &path);
