#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "LogRecorder.h"
#include "PrivateFiles.h"

namespace
{

void writeFile(const QString &path, mode_t mode)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

void makeFolder(const QString &path, mode_t mode)
{
    ASSERT_TRUE(QDir().mkpath(path));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

class PrivateFilesTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString &relative) const { return dir.filePath(relative); }
    QTemporaryDir dir;
};

TEST_F(PrivateFilesTest, MakePrivateDirMakesTheMissingFoldersAndTheFolderItselfPrivate)
{
    // A wide umask must not leave anything wider than 0700.
    const mode_t before = ::umask(0);
    makeFolder(path("open"), 0755);
    EXPECT_TRUE(makePrivateDir(path("open/a/b/c")));
    EXPECT_TRUE(makePrivateDir(path("open")));
    ::umask(before);

    EXPECT_EQ(permissionBits(path("open")), 0700) << "the folder itself, although it was there";
    for (const char *made : {"open/a", "open/a/b", "open/a/b/c"})
        EXPECT_EQ(permissionBits(path(made)), 0700) << made;

    makeFolder(path("kept"), 0755);
    EXPECT_TRUE(makePrivateDir(path("kept/new")));
    EXPECT_EQ(permissionBits(path("kept")), 0755) << "an existing parent is not the folder";
    EXPECT_EQ(permissionBits(path("kept/new")), 0700);
}

TEST_F(PrivateFilesTest, MakePrivateDirRefusesWhatIsNoFolder)
{
    writeFile(path("file"), 0644);
    EXPECT_FALSE(makePrivateDir(path("file")));
    EXPECT_EQ(permissionBits(path("file")), 0644);
    EXPECT_FALSE(makePrivateDir(path("file/below")));
    EXPECT_FALSE(makePrivateDir(QString()));
    // A link to a folder is a folder put elsewhere.
    makeFolder(path("elsewhere"), 0755);
    ASSERT_TRUE(QFile::link(path("elsewhere"), path("link")));
    EXPECT_TRUE(makePrivateDir(path("link")));
    EXPECT_EQ(permissionBits(path("elsewhere")), 0700);
}

TEST_F(PrivateFilesTest, MakeTreePrivateNarrowsEveryFolderAndFileButNoLink)
{
    makeFolder(path("tree/sub/deeper"), 0755);
    writeFile(path("tree/top.db"), 0644);
    writeFile(path("tree/sub/sms.db"), 0666);
    writeFile(path("tree/sub/deeper/photo.jpg"), 0444);
    ::chmod(QFile::encodeName(path("tree/sub")).constData(), 0775);
    writeFile(path("outside/target"), 0644);
    ASSERT_TRUE(QFile::link(path("outside/target"), path("tree/sub/link")));
    ASSERT_TRUE(QFile::link(path("outside"), path("tree/folderlink")));

    EXPECT_TRUE(makeTreePrivate(path("tree")));

    for (const char *folder : {"tree", "tree/sub", "tree/sub/deeper"})
        EXPECT_EQ(permissionBits(path(folder)), 0700) << folder;
    for (const char *file : {"tree/top.db", "tree/sub/sms.db", "tree/sub/deeper/photo.jpg"})
        EXPECT_EQ(permissionBits(path(file)), 0600) << file;
    // What the links lead to is outside: untouched.
    EXPECT_EQ(permissionBits(path("outside/target")), 0644);
    EXPECT_NE(permissionBits(path("outside")), 0700);

    EXPECT_FALSE(makeTreePrivate(path("missing")));
    EXPECT_FALSE(makeTreePrivate(path("tree/top.db")));
}

TEST_F(PrivateFilesTest, TighteningNarrowsAnOpenFolderAndSaysSo)
{
    makeFolder(path("open"), 0755);
    makeFolder(path("private"), 0700);
    LogRecorder log(QtInfoMsg);

    EXPECT_TRUE(tightenToPrivate(path("open")));
    EXPECT_TRUE(tightenToPrivate(path("private")));
    EXPECT_TRUE(tightenToPrivate(path("missing")));

    EXPECT_EQ(permissionBits(path("open")), 0700);
    EXPECT_EQ(permissionBits(path("private")), 0700);
    EXPECT_FALSE(QFileInfo::exists(path("missing")));
    // One line, for the one folder that changed.
    ASSERT_EQ(log.lines().size(), 1) << log.lines().join('\n').toStdString();
    EXPECT_EQ(log.lines().first(),
              QStringLiteral("The folder %1 was open to other users (mode 755); it is now private (mode 700).")
                  .arg(path("open")));
}

} // namespace
