#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "AppFolders.h"

namespace
{

const QString kId = QStringLiteral("7A31C09E55D24fb8B1E6D0934C2AF7B1");

// Points HOME at a fresh folder for the test and puts the old value back.
class AppFoldersTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        oldHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        homePath = QDir::homePath();
        ASSERT_EQ(homePath, QDir::cleanPath(home.path()));
    }
    void TearDown() override { qputenv("HOME", oldHome); }

    void writeFile(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    QTemporaryDir home;
    QByteArray oldHome;
    QString homePath;
};

TEST_F(AppFoldersTest, MakerFolderFollowsTheRoamingBase)
{
    struct Case {
        const char *name;
        const char *prepare; // "" nothing, "dir" AppData/Roaming as folder, "file" as a plain file
        const char *expected;
    };
    const Case cases[] = {
        {"no AppData", "", "/Application Data/Quenmarvile"},
        {"AppData/Roaming folder", "dir", "/AppData/Roaming/Quenmarvile"},
        {"AppData/Roaming is a file", "file", "/Application Data/Quenmarvile"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(homePath).removeRecursively();
        QDir().mkpath(homePath);
        if (QByteArray(c.prepare) == "dir")
            QDir().mkpath(homePath + "/AppData/Roaming");
        else if (QByteArray(c.prepare) == "file")
            writeFile(homePath + "/AppData/Roaming", "x");
        EXPECT_EQ(roamingBaseDir(), homePath + QString::fromUtf8(c.expected));
        EXPECT_EQ(resolveAppDataDir(), homePath + QString::fromUtf8(c.expected) + "/" + kId);
        // Asking creates nothing.
        EXPECT_FALSE(QFileInfo::exists(roamingBaseDir()));
    }
}

TEST_F(AppFoldersTest, RedirectFileMovesTheFolderOnlyToAnExistingPath)
{
    const QString maker = homePath + "/Application Data/Quenmarvile";
    const QString redirect = maker + "/" + kId + ".redirect";
    EXPECT_EQ(redirectFilePath(), redirect);

    const QString target = homePath + "/elsewhere";
    const QString unicodeTarget = homePath + QStringLiteral("/Zoë's data");
    const QString plainFile = homePath + "/a-file";
    QDir().mkpath(target);
    QDir().mkpath(unicodeTarget);
    writeFile(plainFile, "x");

    struct Case {
        const char *name;
        QByteArray content; // empty and absent differ: see 'present'
        bool present;
        QString expectedRedirect;
        QString expectedAppData;
    };
    const QString fallback = maker + "/" + kId;
    const Case cases[] = {
        {"no redirect file", {}, false, {}, fallback},
        {"empty file", "", true, {}, fallback},
        {"existing folder", target.toUtf8(), true, target, target + "/" + kId},
        {"trailing line end is part of the path", target.toUtf8() + "\n", true, {}, fallback},
        {"leading blank is part of the path", " " + target.toUtf8(), true, {}, fallback},
        {"trailing slash", target.toUtf8() + "/", true, target + "/", target + "/" + kId},
        {"UTF-8 path", unicodeTarget.toUtf8(), true, unicodeTarget, unicodeTarget + "/" + kId},
        {"missing folder", (homePath + "/nowhere").toUtf8(), true, {}, fallback},
        {"an existing plain file counts as a path", plainFile.toUtf8(), true, plainFile, plainFile + "/" + kId},
        {"far too long to be a path", QByteArray(5000, 'a'), true, {}, fallback},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(redirect);
        if (c.present)
            writeFile(redirect, c.content);
        EXPECT_EQ(readRedirectDir(), c.expectedRedirect);
        EXPECT_EQ(resolveAppDataDir(), c.expectedAppData);
    }
}

TEST_F(AppFoldersTest, WriteRedirectDirReplacesTheContentAndCreatesNoFolder)
{
    const QString maker = homePath + "/Application Data/Quenmarvile";
    const QString redirect = maker + "/" + kId + ".redirect";

    writeRedirectDir(homePath);
    EXPECT_FALSE(QFileInfo::exists(maker));

    QDir().mkpath(maker);
    writeFile(redirect, "a much longer old content than the new path");
    const QString target = homePath + QStringLiteral("/dé");
    QDir().mkpath(target);
    writeRedirectDir(target);
    QFile f(redirect);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), target.toUtf8());
    EXPECT_EQ(readRedirectDir(), target);
}

TEST_F(AppFoldersTest, AppDataDirIsResolvedOnceAndCreatedOnEveryCall)
{
    const QDir first = appDataDir();
    EXPECT_TRUE(first.isAbsolute());
    EXPECT_TRUE(first.exists());
    EXPECT_EQ(first.dirName(), kId);

    // A new home does not move the folder while the process runs.
    QTemporaryDir other;
    qputenv("HOME", QFile::encodeName(other.path()));
    EXPECT_EQ(appDataDir().path(), first.path());

    ASSERT_TRUE(QDir(first.path()).removeRecursively());
    EXPECT_TRUE(appDataDir().exists());

    const QDir local = localDatabasesDir();
    EXPECT_TRUE(local.exists());
    EXPECT_EQ(local.path(), first.path() + "/local_databases");
}

} // namespace
