#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include "FileUtils.h"

namespace
{

void touch(const QString &path, const QByteArray &bytes = "x")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

TEST(SanitizeFileName, RemovesForbiddenCharactersAndTrimsTheEnds)
{
    struct Case {
        QString in;
        QString out;
    };
    const Case cases[] = {
        {" a/b:c*? ", "abc"},
        {"two words", "two words"},
        {"\\/:*?\"<>|", ""},
        {"  x  ", "x"},
        {"\tname\n", "name"},
        {QStringLiteral("Zoë: 1/2"), QStringLiteral("Zoë 12")},
        {"a < b > c", "a  b  c"},
        {"report.final.csv", "report.final.csv"},
        {"", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(sanitizeFileName(c.in), c.out) << c.in.toStdString();
}

TEST(Md5Hex, IsLowerCaseHexOfTheUtf8Bytes)
{
    struct Case {
        QString in;
        const char *out;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {QStringLiteral("é"), "66ddcd97cfdeabb2f6fb8a999b4bc76f"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(md5Hex(c.in), QString::fromLatin1(c.out)) << c.in.toStdString();
}

TEST(UniqueFilePath, NumbersTheNameUntilItIsFree)
{
    struct Case {
        const char *name;
        QStringList existing; // files, or folders when they end in "/"
        QString path;
        QString expected;
    };
    const Case cases[] = {
        {"free name", {}, "x.txt", "x.txt"},
        {"taken", {"x.txt"}, "x.txt", "x(1).txt"},
        {"first two taken", {"x.txt", "x(1).txt"}, "x.txt", "x(2).txt"},
        {"gap is used", {"x.txt", "x(2).txt"}, "x.txt", "x(1).txt"},
        {"every suffix kept", {"a.tar.gz"}, "a.tar.gz", "a(1).tar.gz"},
        {"no suffix", {"noext"}, "noext", "noext(1)"},
        {"a folder takes the name too", {"d/"}, "d", "d(1)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        for (const QString &e : c.existing) {
            if (e.endsWith('/'))
                QDir().mkpath(dir.filePath(e));
            else
                touch(dir.filePath(e));
        }
        EXPECT_EQ(uniqueFilePath(dir.filePath(c.path)), dir.filePath(c.expected));
    }
}

TEST(UniqueFilePath, ADanglingLinkTakesTheName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::link(dir.filePath("gone"), dir.filePath("x.txt")));
    EXPECT_EQ(uniqueFilePath(dir.filePath("x.txt")), dir.filePath("x(1).txt"));
}

class RemoveDirTest : public ::testing::Test
{
protected:
    QTemporaryDir tmp;
    QString path(const QString &rel) const { return tmp.filePath(rel); }
};

TEST_F(RemoveDirTest, RemovesHiddenEntriesAndNestedFolders)
{
    touch(path("t/a.txt"));
    touch(path("t/.hidden"));
    touch(path("t/.hiddendir/inner"));
    touch(path("t/sub/deeper/b.bin"));
    QDir().mkpath(path("t/empty"));
    ASSERT_TRUE(QFile::link(path("t/nowhere"), path("t/dangling")));
    ASSERT_EQ(mkfifo(QFile::encodeName(path("t/fifo")).constData(), 0600), 0);

    EXPECT_TRUE(removeDirRecursively(path("t")));
    EXPECT_FALSE(QFileInfo::exists(path("t")));
}

TEST_F(RemoveDirTest, MissingFolderCountsAsRemoved)
{
    EXPECT_TRUE(removeDirRecursively(path("never-made")));
}

TEST_F(RemoveDirTest, LinksAreRemovedNotFollowed)
{
    touch(path("outside/keep.txt"));
    touch(path("t/a.txt"));
    ASSERT_TRUE(QFile::link(path("outside"), path("t/link-to-outside")));
    ASSERT_TRUE(QFile::link(path("outside"), path("link-as-folder")));

    EXPECT_TRUE(removeDirRecursively(path("t")));
    EXPECT_FALSE(QFileInfo::exists(path("t")));
    EXPECT_TRUE(removeDirRecursively(path("link-as-folder")));
    EXPECT_FALSE(QFileInfo(path("link-as-folder")).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(path("outside/keep.txt")));
}

TEST_F(RemoveDirTest, APlainFileAtThePathIsLeftAndReported)
{
    touch(path("file"));
    EXPECT_FALSE(removeDirRecursively(path("file")));
    EXPECT_TRUE(QFileInfo::exists(path("file")));
}

TEST_F(RemoveDirTest, AFolderThatCannotBeEmptiedIsReported)
{
    // Nobody, root included, may delete the entries of this folder, so it is
    // a folder that stays whoever runs the test.
    const QString fdinfo = QStringLiteral("/proc/%1/fdinfo").arg(getpid());
    ASSERT_TRUE(QFileInfo(fdinfo).isDir());
    EXPECT_FALSE(removeDirRecursively(fdinfo));
    EXPECT_TRUE(QFileInfo(fdinfo).isDir());
}

TEST_F(RemoveDirTest, ALockedSubfolderStaysAndTheRestGoes)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "file modes do not stop root";
    touch(path("t/locked/inner"));
    touch(path("t/other"));
    ASSERT_TRUE(QFile::setPermissions(path("t/locked"), QFile::ReadOwner | QFile::ExeOwner));
    EXPECT_FALSE(removeDirRecursively(path("t")));
    EXPECT_TRUE(QFileInfo::exists(path("t/locked/inner")));
    // What could go, went.
    EXPECT_FALSE(QFileInfo::exists(path("t/other")));
    QFile::setPermissions(path("t/locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace
