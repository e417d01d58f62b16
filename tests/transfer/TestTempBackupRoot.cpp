#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "AppFolders.h"
#include "AppHomeFixture.h"
#include "TempBackupRoot.h"

namespace
{

QString pathFile()
{
    return appDataDir().absoluteFilePath(QLatin1String(kTempBackupPathFileName));
}

void writePathFile(const QByteArray &bytes)
{
    QFile f(pathFile());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

class TempBackupRootTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(volumes.isValid());
        for (const char *name : {"first", "second", "third"})
            ASSERT_TRUE(QDir(volumes.path()).mkdir(QLatin1String(name)));
        fallback = volumes.filePath(QStringLiteral("fallback"));
        ASSERT_TRUE(QDir().mkpath(fallback));
    }

    TempBackupVolume volume(const char *name, quint64 freeBytes) const
    {
        return TempBackupVolume{volumes.filePath(QLatin1String(name)), freeBytes};
    }
    QString backupRootIn(const char *name) const
    {
        return volumes.filePath(QLatin1String(name)) + QLatin1Char('/') + QLatin1String(kTempBackupFolderName);
    }
    QStringList leftovers() const
    {
        QStringList found;
        for (const char *name : {"first", "second", "third"})
            found += QDir(volumes.filePath(QLatin1String(name))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        return found;
    }

    QTemporaryDir volumes;
    QString fallback;
};

TEST_F(TempBackupRootTest, TheVolumeWithTheMostFreeSpaceIsChosen)
{
    const QString noSuchVolume = volumes.filePath(QStringLiteral("gone"));
    QFile plain(volumes.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();

    const struct
    {
        const char *name;
        QList<TempBackupVolume> volumes;
        QString chosen;
    } cases[] = {
        {"more free space wins", {volume("first", 10), volume("second", 20), volume("third", 15)}, volume("second", 0).rootPath},
        {"on equal space the earlier stays", {volume("first", 20), volume("second", 20)}, volume("first", 0).rootPath},
        {"a volume without space is never taken", {volume("first", 0)}, fallback},
        {"a volume that cannot be written is skipped",
         {TempBackupVolume{noSuchVolume, 99}, TempBackupVolume{plain.fileName(), 98}, volume("third", 1)},
         volume("third", 0).rootPath},
        {"no volume at all", {}, fallback},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(chooseTempBackupVolume(c.volumes, fallback).toStdString(), c.chosen.toStdString());
        // The test folders go again, and nothing is made where no volume is.
        EXPECT_EQ(leftovers(), QStringList());
        EXPECT_FALSE(QFileInfo::exists(noSuchVolume));
    }
}

TEST_F(TempBackupRootTest, TheChoiceIsRememberedUntilThePathFileGoes)
{
    const QString chosen = volumes.filePath(QStringLiteral("second"));
    EXPECT_EQ(tempBackupRoot({volume("first", 1), volume("second", 2)}, fallback).absolutePath().toStdString(), backupRootIn("second").toStdString());
    EXPECT_EQ(AppHomeFixture::readFile(pathFile()).toStdString(), chosen.toStdString());
    // Nothing is created beyond the path file.
    EXPECT_FALSE(QFileInfo::exists(backupRootIn("second")));

    // More space elsewhere does not move a remembered choice.
    EXPECT_EQ(tempBackupRoot({volume("first", 100), volume("third", 200)}, fallback).absolutePath().toStdString(),
              backupRootIn("second").toStdString());

    ASSERT_TRUE(QFile::remove(pathFile()));
    EXPECT_EQ(tempBackupRoot({volume("first", 100), volume("third", 200)}, fallback).absolutePath().toStdString(),
              backupRootIn("third").toStdString());
}

TEST_F(TempBackupRootTest, APathFileThatNamesNoFolderLeadsToANewChoice)
{
    const QString second = volumes.filePath(QStringLiteral("second"));
    const struct
    {
        const char *name;
        QByteArray content;
        const char *root; // volume taken
    } cases[] = {
        {"an absolute folder", second.toUtf8(), "second"},
        {"with a line end", second.toUtf8() + "\n", "second"},
        {"a drive letter", "d:/", "first"},
        {"a relative path", "second", "first"},
        {"a folder that is gone", volumes.filePath(QStringLiteral("gone")).toUtf8(), "first"},
        {"a file, not a folder", pathFile().toUtf8(), "first"},
        {"empty", QByteArray(), "first"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        writePathFile(c.content);
        EXPECT_EQ(tempBackupRoot({volume("first", 5)}, fallback).absolutePath().toStdString(), backupRootIn(c.root).toStdString());
        // A new choice replaces what the file held.
        if (QLatin1String(c.root) == QLatin1String("first")) {
            EXPECT_EQ(AppHomeFixture::readFile(pathFile()).toStdString(), volumes.filePath(QStringLiteral("first")).toStdString());
        }
    }
}

TEST_F(TempBackupRootTest, WithoutAUsableVolumeTheFallbackIsTakenAndRemembered)
{
    EXPECT_EQ(tempBackupRoot({}, fallback).absolutePath().toStdString(),
              (fallback + QLatin1Char('/') + QLatin1String(kTempBackupFolderName)).toStdString());
    EXPECT_EQ(AppHomeFixture::readFile(pathFile()).toStdString(), fallback.toStdString());
}

TEST_F(TempBackupRootTest, TheExistingRootIsOnlyOneRememberedAndThere)
{
    // Nothing remembered: nothing is chosen either.
    EXPECT_EQ(existingTempBackupRoot(), QString());
    EXPECT_FALSE(QFileInfo::exists(pathFile()));

    writePathFile(volumes.filePath(QStringLiteral("first")).toUtf8());
    EXPECT_EQ(existingTempBackupRoot(), QString()) << "remembered, but no backup was taken there";
    ASSERT_TRUE(QDir().mkpath(backupRootIn("first")));
    EXPECT_EQ(existingTempBackupRoot(), backupRootIn("first"));
    EXPECT_EQ(AppHomeFixture::readFile(pathFile()), volumes.filePath(QStringLiteral("first")).toUtf8());
}

TEST_F(TempBackupRootTest, ClearingRemovesTheRootAndThePathFile)
{
    writePathFile(volumes.filePath(QStringLiteral("first")).toUtf8());
    const QString root = backupRootIn("first");
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/phone/.hidden")));
    QFile stored(root + QStringLiteral("/phone/Manifest.plist"));
    ASSERT_TRUE(stored.open(QIODevice::WriteOnly));
    stored.close();
    // A link inside goes as a link; what it points to stays.
    QTemporaryDir outside;
    QFile kept(outside.filePath(QStringLiteral("kept")));
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
    kept.close();
    ASSERT_TRUE(QFile::link(outside.path(), root + QStringLiteral("/link")));

    QString failed = QStringLiteral("(unset)");
    EXPECT_TRUE(clearTempBackupRoot(&failed));
    EXPECT_EQ(failed, QStringLiteral("(unset)"));
    EXPECT_FALSE(QFileInfo::exists(root));
    EXPECT_FALSE(QFileInfo::exists(pathFile()));
    EXPECT_TRUE(QFileInfo::exists(outside.filePath(QStringLiteral("kept"))));
    EXPECT_TRUE(QFileInfo(volumes.filePath(QStringLiteral("first"))).isDir());
}

TEST_F(TempBackupRootTest, WhatCannotBeRemovedIsNamed)
{
    // A plain file where the root folder should be is not a folder to clear.
    writePathFile(volumes.filePath(QStringLiteral("first")).toUtf8());
    QFile blocker(backupRootIn("first"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    QString failed;
    EXPECT_FALSE(clearTempBackupRoot(&failed));
    EXPECT_EQ(failed.toStdString(), backupRootIn("first").toStdString());
    EXPECT_TRUE(QFileInfo::exists(pathFile()));
}

} // namespace
