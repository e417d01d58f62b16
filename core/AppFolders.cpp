#include "AppFolders.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace
{

// A redirect file holds one folder path; anything longer is not a path this
// system could use, so it is not read in whole.
constexpr qint64 kMaxRedirectBytes = 4096;

QString cachedAppDataDir;
QBasicMutex cacheMutex;

} // namespace

QString roamingBaseDir()
{
    const QString home = QDir::homePath();
    const QString roaming = home + QStringLiteral("/AppData/Roaming");
    const QString base = QFileInfo(roaming).isDir() ? roaming : home + QStringLiteral("/Application Data");
    return base + QStringLiteral("/Quenmarvile");
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
    const QByteArray bytes = file.read(kMaxRedirectBytes + 1);
    if (bytes.isEmpty() || bytes.size() > kMaxRedirectBytes)
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
    QDir().mkpath(path);
    return QDir(path);
}

QDir localDatabasesDir()
{
    const QString path = appDataDir().filePath(QStringLiteral("local_databases"));
    QDir().mkpath(path);
    return QDir(path);
}
