#include "FileUtils.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <limits>

QString sanitizeFileName(const QString &name)
{
    static const QRegularExpression forbidden(QStringLiteral("[\\\\/:*\\?\"<>|]"));
    QString result = name;
    result.remove(forbidden);
    return result.trimmed();
}

QString md5Hex(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString uniqueFilePath(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return path;
    const QDir dir = info.dir();
    const QString base = info.baseName();
    // Everything after the first dot, so that "a.tar.gz" becomes "a(1).tar.gz"
    // and no part of the name is lost.
    const QString suffix = info.completeSuffix();
    for (int n = 1; n < std::numeric_limits<int>::max(); ++n) {
        QString name = QStringLiteral("%1(%2)").arg(base).arg(n);
        if (!suffix.isEmpty())
            name += QLatin1Char('.') + suffix;
        const QString candidate = dir.filePath(name);
        const QFileInfo candidateInfo(candidate);
        if (!candidateInfo.exists() && !candidateInfo.isSymLink())
            return candidate;
    }
    return {};
}

bool removeDirRecursively(const QString &path)
{
    const QFileInfo info(path);
    // A link standing for the folder goes as a link: what it points to is
    // somebody else's.
    if (info.isSymLink())
        return QFile::remove(path);
    if (!info.exists())
        return true;
    if (!info.isDir())
        return false;

    const QDir dir(path);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        // Keep going after a failure: everything that can go, goes.
        if (entry.isDir() && !entry.isSymLink())
            removeDirRecursively(entry.filePath());
        else
            QFile::remove(entry.filePath());
    }
    return QDir().rmdir(path) || !QFileInfo(path).exists();
}
