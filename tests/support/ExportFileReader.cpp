#include "ExportFileReader.h"

#include <QDir>
#include <QFile>

QByteArray readExportedFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QString unwritableExportPath(const QString &fileName)
{
    return QDir::temp().filePath(QStringLiteral("no-such-folder-for-exports/") + fileName);
}
