#include "BackupFolders.h"

#include "AppFolders.h"

QDir itunesBackupRoot()
{
    return QDir(QDir(dataHomeDir()).absoluteFilePath(QStringLiteral("Apple Computer/MobileSync/Backup")));
}
