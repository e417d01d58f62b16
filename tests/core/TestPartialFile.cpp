#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

#include "PartialFile.h"

namespace
{

QStringList entriesOf(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(PartialFileTest, AnUncommittedFileGoesWithItsJournalsAndLeavesTheTargetAlone)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("target.db"));
    writeFile(target, "old");
    {
        PartialFile part(target);
        EXPECT_NE(part.path(), target);
        EXPECT_EQ(QFileInfo(part.path()).path(), QFileInfo(target).path());
        EXPECT_TRUE(QFile::exists(part.path()));
        for (const char *suffix : {"", "-journal", "-wal", "-shm"})
            writeFile(part.path() + QLatin1String(suffix), "new");
    }
    EXPECT_EQ(entriesOf(dir), QStringList{QStringLiteral("target.db")});
    EXPECT_EQ(readFile(target), QByteArray("old"));
}

TEST(PartialFileTest, CommitPutsTheFileInPlaceWithOrWithoutAnEarlierOne)
{
    for (const bool earlier : {false, true}) {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("target.db"));
        if (earlier)
            writeFile(target, "old");
        {
            PartialFile part(target);
            writeFile(part.path(), "new");
            part.commit();
        }
        EXPECT_EQ(entriesOf(dir), QStringList{QStringLiteral("target.db")}) << "earlier file: " << earlier;
        EXPECT_EQ(readFile(target), QByteArray("new")) << "earlier file: " << earlier;
    }
}

TEST(PartialFileTest, FailuresNameTheTarget)
{
    QTemporaryDir dir;
    // No folder to create the file in.
    const QString unreachable = dir.filePath(QStringLiteral("missing/target.db"));
    try {
        PartialFile part(unreachable);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(std::string(e.what()).rfind(QStringLiteral("can not create %1. ").arg(unreachable).toStdString(), 0), 0u)
            << e.what();
    }
    // A folder in the target's place cannot be replaced by a file.
    const QString folder = dir.filePath(QStringLiteral("target.db"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/inside")));
    {
        PartialFile part(folder);
        EXPECT_THROW(part.commit(), std::runtime_error);
    }
    EXPECT_EQ(entriesOf(dir), QStringList{QStringLiteral("target.db")});
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

} // namespace
