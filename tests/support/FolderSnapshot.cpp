#include "FolderSnapshot.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

QMap<QString, QByteArray> folderSnapshot(const QString &folder)
{
    QMap<QString, QByteArray> entries;
    const QDir root(folder);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        const QString rel = root.relativeFilePath(path);
        if (info.isSymLink()) {
            entries.insert(rel, "-> " + QFile::encodeName(info.symLinkTarget()));
        } else if (info.isDir()) {
            entries.insert(rel + QLatin1Char('/'), QByteArray());
        } else {
            QFile f(path);
            entries.insert(rel, f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>"));
        }
    }
    return entries;
}

QString snapshotDifference(const QMap<QString, QByteArray> &before, const QMap<QString, QByteArray> &after)
{
    QStringList lines;
    QSet<QString> names;
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        names.insert(it.key());
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        names.insert(it.key());
    QStringList sorted(names.cbegin(), names.cend());
    sorted.sort();
    for (const QString &name : std::as_const(sorted)) {
        if (!before.contains(name))
            lines.append(QStringLiteral("added ") + name);
        else if (!after.contains(name))
            lines.append(QStringLiteral("removed ") + name);
        else if (before.value(name) != after.value(name))
            lines.append(QStringLiteral("changed ") + name);
    }
    return lines.join(QLatin1Char('\n'));
}
