#include "BackupFolders.h"

QDir itunesBackupRoot()
{
    const QDir home(QDir::homePath());
    const QDir roaming(home.absoluteFilePath(QStringLiteral("AppData/Roaming")));
    const QDir base = roaming.exists() ? roaming : QDir(home.absoluteFilePath(QStringLiteral("Application Data")));
    return QDir(base.absoluteFilePath(QStringLiteral("Apple Computer/MobileSync/Backup")));
}
