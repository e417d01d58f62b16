#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// Everything below a folder, hidden entries included, by path relative to
// it: a file with its bytes, a folder with a trailing "/" and no bytes, a
// link as "-> target". Two snapshots compare equal exactly when nothing was
// added, removed or changed.
QMap<QString, QByteArray> folderSnapshot(const QString &folder);

// The entries that differ between two snapshots (added, removed or changed),
// for failure messages.
QString snapshotDifference(const QMap<QString, QByteArray> &before, const QMap<QString, QByteArray> &after);
