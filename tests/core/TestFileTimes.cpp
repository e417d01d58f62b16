#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "FileTimes.h"

namespace
{

TEST(FileTimesTest, ModifiedTimeOfWhatCannotBeQueriedIsZero)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing"));
    EXPECT_EQ(fileModifiedTime(missing), 0);
    EXPECT_EQ(fileModifiedTime(QString()), 0);
    EXPECT_EQ(fileModifiedTime(dir.filePath(QStringLiteral("missing/below"))), 0);
    EXPECT_FALSE(setFileTimes(missing, 1000));
    EXPECT_FALSE(setFileTimes(QString(), 1000));
    EXPECT_FALSE(QFile::exists(missing));
}

TEST(FileTimesTest, SetTimesAreReadBackToTheSecond)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a file"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    // Past 2038 as well: the times are 64-bit.
    for (const qint64 t : {qint64(0) + 1, qint64(1000000000), qint64(1700000000), qint64(4102444800)}) {
        ASSERT_TRUE(setFileTimes(path, t)) << t;
        EXPECT_EQ(fileModifiedTime(path), t);
        EXPECT_EQ(QFileInfo(path).lastRead().toSecsSinceEpoch(), t);
    }
}

} // namespace
