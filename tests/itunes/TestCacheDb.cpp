#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include <sqlite3.h>

#include "CacheDb.h"
#include "CacheRows.h"
#include "CaseName.h"

namespace
{

const QString kIdA = QStringLiteral("3d0d7e5fb2ce288813306e4d4636395e047a3d28");
const QString kIdB = QStringLiteral("31bb7ba8914766d4ba40d6dfb6113c8b614be442");

QMap<QString, qint64> committedRows(const QString &path)
{
    return readCacheRows(path);
}

// "name type notnull pk" of each column of the manifest table.
QStringList manifestColumns(const QString &path)
{
    QStringList columns;
    sqlite3 *raw = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &raw, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(raw,
                               "select name, type, \"notnull\", pk from pragma_table_info('manifest') order by cid",
                               -1, &stmt, nullptr)
            == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW)
                columns << QStringLiteral("%1 %2 %3 %4")
                               .arg(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0))),
                                    QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1))))
                               .arg(sqlite3_column_int(stmt, 2))
                               .arg(sqlite3_column_int(stmt, 3));
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(raw);
    return columns;
}

const QStringList kColumns = {"file_name VARCHAR 0 1", "last_date INTEGER 1 0", "record_size INTEGER 0 0",
                              "copy_size INTEGER 0 0"};

std::string describe(const CacheDb::Entry &e)
{
    auto size = [](const std::optional<qint64> &s) { return s ? std::to_string(*s) : std::string("none"); };
    return std::to_string(e.lastDate) + " " + size(e.recordSize) + " " + size(e.copySize);
}

class CacheDbTest : public ::testing::Test
{
protected:
    QString dbPath() const { return m_dir.filePath(QStringLiteral("manifest.db")); }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(CacheDbTest, NothingIsCreatedBeforeTheFirstQuery)
{
    {
        CacheDb db(dbPath());
        EXPECT_FALSE(db.isOpen());
    }
    EXPECT_FALSE(QFile::exists(dbPath()));
}

// The script's table, and the sizes of the copies, which came after it.
TEST_F(CacheDbTest, NewFileGetsTheTableOfTheScript)
{
    {
        CacheDb db(dbPath());
        EXPECT_EQ(db.lastDate(kIdA), 0);
        EXPECT_TRUE(db.isOpen());
    }
    EXPECT_EQ(manifestColumns(dbPath()), kColumns);
}

TEST_F(CacheDbTest, DatesAreKeptPerFileAndReachTheFileWhenDestroyed)
{
    {
        CacheDb db(dbPath());
        db.setLastDate(kIdA, 1357000000);
        db.setLastDate(kIdB, 4294967295LL); // the largest catalogue time
        EXPECT_EQ(db.lastDate(kIdA), 1357000000);
        EXPECT_EQ(db.lastDate(kIdB), 4294967295LL);
        EXPECT_EQ(db.lastDate(QStringLiteral("0000000000000000000000000000000000000000")), 0);
        // One transaction for the run: nothing is visible outside yet.
        EXPECT_TRUE(committedRows(dbPath()).isEmpty());
    }
    const QMap<QString, qint64> expected{{kIdA, 1357000000}, {kIdB, 4294967295LL}};
    EXPECT_EQ(committedRows(dbPath()), expected);

    // A later run reads them back and replaces a changed one.
    {
        CacheDb db(dbPath());
        EXPECT_EQ(db.lastDate(kIdA), 1357000000);
        db.setLastDate(kIdA, 1400000000);
        db.setLastDate(kIdB, 4294967295LL);
        EXPECT_EQ(db.lastDate(kIdA), 1400000000);
    }
    const QMap<QString, qint64> updated{{kIdA, 1400000000}, {kIdB, 4294967295LL}};
    EXPECT_EQ(committedRows(dbPath()), updated);
}

TEST_F(CacheDbTest, SizesAreKeptWithTheDatesAndWhatWasNotRecordedStaysNone)
{
    CacheDb::Entry whole;
    whole.lastDate = 1357000000;
    whole.recordSize = 118784;
    whole.copySize = 176128;
    CacheDb::Entry bare;
    bare.lastDate = 1357000001;
    {
        CacheDb db(dbPath());
        db.setEntry(kIdA, whole);
        db.setEntry(kIdB, bare);
        EXPECT_EQ(describe(db.entry(kIdA)), "1357000000 118784 176128");
        EXPECT_EQ(describe(db.entry(kIdB)), "1357000001 none none");
        EXPECT_EQ(describe(db.entry(QStringLiteral("0000000000000000000000000000000000000000"))), "0 none none");
    }
    {
        CacheDb db(dbPath());
        EXPECT_EQ(describe(db.entry(kIdA)), "1357000000 118784 176128");
        // A date alone says nothing of the sizes: it does not keep the old ones.
        db.setLastDate(kIdA, 1400000000);
        EXPECT_EQ(describe(db.entry(kIdA)), "1400000000 none none");
        whole.copySize = 0;
        db.setEntry(kIdB, whole);
        EXPECT_EQ(describe(db.entry(kIdB)), "1357000000 118784 0");
    }
    const QMap<QString, qint64> expected{{kIdA, 1400000000}, {kIdB, 1357000000}};
    EXPECT_EQ(committedRows(dbPath()), expected);
}

// A cache of an earlier version keeps its rows, which say nothing of sizes,
// and gains the columns for them.
TEST_F(CacheDbTest, ADatabaseOfAnEarlierVersionGainsTheSizes)
{
    writeEarlierCacheDb(dbPath(), {{kIdA, 1357000000}, {kIdB, 1357000002}});
    {
        CacheDb db(dbPath());
        EXPECT_EQ(describe(db.entry(kIdA)), "1357000000 none none");
        CacheDb::Entry e;
        e.lastDate = 1357000002;
        e.recordSize = 307200;
        e.copySize = 307200;
        db.setEntry(kIdB, e);
    }
    EXPECT_EQ(manifestColumns(dbPath()), kColumns);
    CacheDb db(dbPath());
    EXPECT_EQ(describe(db.entry(kIdA)), "1357000000 none none");
    EXPECT_EQ(describe(db.entry(kIdB)), "1357000002 307200 307200");
}

TEST_F(CacheDbTest, DiscardDropsOnlyTheRowsOfThisRun)
{
    {
        CacheDb db(dbPath());
        db.setLastDate(kIdA, 100);
    }
    {
        CacheDb db(dbPath());
        db.setLastDate(kIdA, 200);
        db.setLastDate(kIdB, 300);
        db.discard();
        EXPECT_FALSE(db.isOpen());
    }
    const QMap<QString, qint64> expected{{kIdA, 100}};
    EXPECT_EQ(committedRows(dbPath()), expected);
}

namespace
{

struct UnusableCase
{
    std::string name;
    // Puts something at the database path (or leaves its folder missing).
    std::function<void(const QString &path)> prepare;
    bool fileRemains;
};

void PrintTo(const UnusableCase &c, std::ostream *os)
{
    *os << c.name;
}

class CacheDbUnusableTest : public ::testing::TestWithParam<UnusableCase>
{
};

} // namespace

// However the database fails, every file counts as not cached and nothing
// throws: the copy goes on without the record.
TEST_P(CacheDbUnusableTest, EveryFileCountsAsNotCached)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cache/manifest.db"));
    QDir(dir.path()).mkpath(QStringLiteral("cache"));
    GetParam().prepare(path);
    {
        CacheDb db(path);
        EXPECT_NO_THROW(db.setLastDate(kIdA, 1357000000));
        EXPECT_EQ(db.lastDate(kIdA), 0);
    }
    EXPECT_EQ(QFile::exists(path), GetParam().fileRemains);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CacheDbUnusableTest,
    ::testing::Values(
        UnusableCase{"FolderMissing", [](const QString &path) { QDir(QFileInfo(path).path()).removeRecursively(); },
                     false},
        UnusableCase{"NotADatabase",
                     [](const QString &path) {
                         QFile f(path);
                         ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                         f.write(QByteArray(4096, 'x'));
                     },
                     true},
        UnusableCase{"DatabaseWithoutTheTable",
                     [](const QString &path) {
                         sqlite3 *raw = nullptr;
                         ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &raw), SQLITE_OK);
                         sqlite3_exec(raw, "create table other(x)", nullptr, nullptr, nullptr);
                         sqlite3_close(raw);
                     },
                     true},
        UnusableCase{"FolderInPlaceOfTheFile", [](const QString &path) { QDir().mkpath(path); }, true}),
    CaseName());

TEST_F(CacheDbTest, OpeningIsRetriedOnceTheFolderExists)
{
    const QString path = m_dir.filePath(QStringLiteral("later/manifest.db"));
    {
        CacheDb db(path);
        EXPECT_EQ(db.lastDate(kIdA), 0);
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("later")));
        db.setLastDate(kIdA, 5);
        EXPECT_EQ(db.lastDate(kIdA), 5);
    }
    const QMap<QString, qint64> expected{{kIdA, 5}};
    EXPECT_EQ(committedRows(path), expected);
}
