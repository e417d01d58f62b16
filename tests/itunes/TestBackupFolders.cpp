#include <QDir>

#include <gtest/gtest.h>

#include "BackupFolders.h"

TEST(BackupFolders, RootLiesInTheDataHomeAndIsNeverCreated)
{
    // Every test has a fresh home and data home of its own; a Windows-style
    // roaming folder in the home is not where the backups are.
    const QDir home(QDir::homePath());
    ASSERT_TRUE(home.mkpath("AppData/Roaming"));
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    ASSERT_FALSE(dataHome.isEmpty());
    EXPECT_EQ(itunesBackupRoot().absolutePath(),
              QDir(dataHome).absoluteFilePath("Apple Computer/MobileSync/Backup"));
    EXPECT_FALSE(itunesBackupRoot().exists());
}

TEST(BackupFolders, WithoutADataHomeTheRootIsUnderDotLocalShare)
{
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qunsetenv("XDG_DATA_HOME");
    const QString root = itunesBackupRoot().absolutePath();
    qputenv("XDG_DATA_HOME", saved);
    EXPECT_EQ(root, QDir::home().absoluteFilePath(".local/share/Apple Computer/MobileSync/Backup"));
}
