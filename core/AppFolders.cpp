#include "AppFolders.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QStandardPaths>

#include "BoundedRead.h"
#include "PrivateFiles.h"

namespace
{

// A redirect file holds one folder path; anything longer is not a path this
// system could use, so it is not read in whole.
constexpr qint64 kMaxRedirectBytes = 4096;

QString cachedAppDataDir;
QBasicMutex cacheMutex;

} // namespace

QString dataHomeDir()
{
    // A relative data home would put the folder wherever the program happens
    // to be started from.
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base);
}

QString roamingBaseDir()
{
    return dataHomeDir() + QStringLiteral("/Quenmarvile");
}

QString redirectFilePath()
{
    return roamingBaseDir() + QLatin1Char('/') + QLatin1String(kProductId) + QStringLiteral(".redirect");
}

QString readRedirectDir()
{
    QFile file(redirectFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes;
    if (readWithin(file, kMaxRedirectBytes, bytes) != BoundedRead::Whole || bytes.isEmpty())
        return {};
    const QString path = QString::fromUtf8(bytes);
    if (!QFileInfo::exists(path))
        return {};
    return path;
}

void writeRedirectDir(const QString &path)
{
    QFile file(redirectFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    file.write(path.toUtf8());
    file.flush();
}

QString resolveAppDataDir()
{
    QString base = readRedirectDir();
    if (base.isEmpty())
        base = roamingBaseDir();
    return QDir::cleanPath(QDir(base).absoluteFilePath(QLatin1String(kProductId)));
}

QDir appDataDir()
{
    QString path;
    {
        QMutexLocker lock(&cacheMutex);
        if (cachedAppDataDir.isEmpty())
            cachedAppDataDir = resolveAppDataDir();
        path = cachedAppDataDir;
    }
    // It holds copies of a person's messages: made for the user alone. One
    // that is there keeps its mode here; start-up narrows it, and says so.
    if (!QFileInfo(path).isDir())
        makePrivateDir(path);
    return QDir(path);
}

QDir localDatabasesDir()
{
    const QString path = appDataDir().filePath(QStringLiteral("local_databases"));
    QDir().mkpath(path);
    return QDir(path);
}

QString appDataDirFault()
{
    const QString path = appDataDir().path();
    const QFileInfo folder(path);
    if (folder.isDir())
        return {};
    // The folder's parent is the redirect target, or the maker folder when
    // there is no usable redirect.
    const QFileInfo parent(folder.path());
    if (parent.exists() && !parent.isDir() && parent.absoluteFilePath() != QFileInfo(roamingBaseDir()).absoluteFilePath())
        return QObject::tr("The data folder cannot be used: the redirect file %1 names %2, which is not a folder. "
                           "Write the path of a folder into that file, or delete the file to use the usual place.")
            .arg(QDir::toNativeSeparators(redirectFilePath()), QDir::toNativeSeparators(parent.filePath()));
    return QObject::tr("The data folder %1 cannot be created.").arg(QDir::toNativeSeparators(path));
}
