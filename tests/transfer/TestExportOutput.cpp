#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

#include "ExportFileReader.h"
#include "ExportOutput.h"

namespace
{

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

TEST(ExportOutputTest, FreePathsWithinOneRun)
{
    QTemporaryDir dir;
    const QDir folder(dir.path());
    ExportOutput output;
    struct Case
    {
        const char *base;
        const char *expected;
    };
    // Each name is staged once given; letter case does not make a name new.
    const QList<Case> cases = {
        {"Ann", "Ann.html"},   {"Ann", "Ann(1).html"}, {"ANN", "ANN(2).html"},
        {"Ann", "Ann(3).html"}, {"J. Smith", "J. Smith.html"}, {"J. Smith", "J. Smith(1).html"},
    };
    for (const Case &c : cases) {
        const QString path = output.freePath(folder, QString::fromUtf8(c.base), QStringLiteral(".html"));
        EXPECT_EQ(QFileInfo(path).fileName(), QString::fromUtf8(c.expected)) << c.base;
        output.stage(path);
    }
    // A file that was there before the run is no reason for another name: it is replaced.
    writeFile(folder.filePath("Bob.html"), "old");
    EXPECT_EQ(QFileInfo(output.freePath(folder, "Bob", ".html")).fileName(), QStringLiteral("Bob.html"));
}

TEST(ExportOutputTest, StagedFilesReplaceOnlyOnCommit)
{
    QTemporaryDir dir;
    const QString final = dir.filePath("out.csv");
    writeFile(final, "old");
    // Someone's own file of the staging name is never touched.
    writeFile(final + ".part", "theirs");
    ExportOutput output;
    const QString part = output.stage(final);
    EXPECT_EQ(part, final + ".part2");
    writeFile(part, "new");
    EXPECT_EQ(readExportedFile(final), QByteArray("old"));
    output.commit();
    EXPECT_EQ(readExportedFile(final), QByteArray("new"));
    EXPECT_FALSE(QFile::exists(part));
    EXPECT_EQ(readExportedFile(final + ".part"), QByteArray("theirs"));
    // Nothing left to discard after a commit of files that replaced older ones.
    EXPECT_TRUE(output.discard());
    EXPECT_EQ(readExportedFile(final), QByteArray("new"));
}

TEST(ExportOutputTest, DiscardRemovesWhatTheRunMadeOnly)
{
    QTemporaryDir dir;
    const QString existing = dir.filePath("existing");
    ASSERT_TRUE(QDir().mkpath(existing));
    writeFile(existing + "/mine.txt", "mine");
    writeFile(dir.filePath("picture.png"), "picture");

    ExportOutput output;
    output.makeFolder(existing); // there already: not the run's
    output.makeFolder(existing + "/made/deeper");
    writeFile(output.stage(existing + "/a.html"), "a");
    EXPECT_TRUE(output.copyNew(dir.filePath("picture.png"), existing + "/picture.png"));
    EXPECT_FALSE(output.copyNew(dir.filePath("picture.png"), existing + "/mine.txt"));
    EXPECT_EQ(readExportedFile(existing + "/mine.txt"), QByteArray("mine"));

    EXPECT_TRUE(output.discard());
    EXPECT_EQ(QDir(existing).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"mine.txt"});
}

TEST(ExportOutputTest, FolderErrors)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("file"), "x");
    ExportOutput output;
    EXPECT_THROW(output.makeFolder(dir.filePath("file")), std::runtime_error);
    EXPECT_THROW(output.makeFolder(dir.filePath("file/below")), std::runtime_error);
    EXPECT_TRUE(output.discard());
    EXPECT_EQ(readExportedFile(dir.filePath("file")), QByteArray("x"));
}

TEST(ExportOutputTest, FailedCommitIsAnErrorAndDiscardTakesBackTheNewFiles)
{
    QTemporaryDir dir;
    ExportOutput output;
    const QString first = dir.filePath("first.pdf");
    const QString blocked = dir.filePath("blocked.pdf");
    ASSERT_TRUE(QDir().mkpath(blocked)); // a folder stands where the file should go
    writeFile(output.stage(first), "1");
    writeFile(output.stage(blocked), "2");
    EXPECT_THROW(output.commit(), std::runtime_error);
    EXPECT_TRUE(QFile::exists(first));
    EXPECT_TRUE(output.discard());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"blocked.pdf"});
}

} // namespace
