#include "PrivateModes.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStringList>

#include "PrivateFiles.h"

std::string notPrivateEntries(const QString &root)
{
    QStringList out;
    const auto check = [&](const QString &path, const QString &name) {
        const QFileInfo info(path);
        if (info.isSymLink())
            return;
        const int want = info.isDir() ? 0700 : 0600;
        const int mode = permissionBits(path);
        if (mode != want)
            out << QString::number(mode, 8) + QLatin1Char(' ') + name;
    };
    check(root, QStringLiteral("."));
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        check(path, QDir(root).relativeFilePath(path));
    }
    out.sort();
    return out.join(QLatin1Char('\n')).toStdString();
}
