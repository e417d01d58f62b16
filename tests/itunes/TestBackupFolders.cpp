#include <QDir>

#include <gtest/gtest.h>

#include "BackupFolders.h"

TEST(BackupFolders, RootFollowsTheRoamingFolderWhenItExists)
{
    // Every test has a fresh home of its own.
    const QDir home(QDir::homePath());
    ASSERT_FALSE(home.exists("AppData/Roaming"));
    EXPECT_EQ(itunesBackupRoot().absolutePath(),
              home.absoluteFilePath("Application Data/Apple Computer/MobileSync/Backup"));

    ASSERT_TRUE(home.mkpath("AppData/Roaming"));
    EXPECT_EQ(itunesBackupRoot().absolutePath(),
              home.absoluteFilePath("AppData/Roaming/Apple Computer/MobileSync/Backup"));
    EXPECT_FALSE(itunesBackupRoot().exists()); // only named, never created
}
