#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "CursorAhead.h"
#include "Sqlite3DB.h"

// The rows a cursor hands over from a thread of its own are those the cursor
// gives when stepped in place, value for value, null for null, and its
// failure comes where the cursor's would.
namespace
{

using Kind = CursorAhead::Kind;
using Stepping = CursorAhead::Stepping;

const Stepping kSteppings[] = {Stepping::OwnThread, Stepping::CallingThread};

class CursorAheadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        db.openThrow(dir.filePath(QStringLiteral("t.db")), Sqlite3DB::ReadWriteCreate);
        db.executeThrow("create table t(n INTEGER, s TEXT, b BLOB, u TEXT)");
    }

    // count rows whose texts and arrays are NULL, empty and not, in turn,
    // with a text of several bytes a character among them.
    void fill(int count)
    {
        db.beginTran();
        for (int i = 0; i < count; ++i) {
            Sqlite3Sql sql("insert into t(n, s, b, u) values(?,?,?,?)");
            sql.addInt64Param(i % 7 == 0 ? -(qint64(1) << 40) - i : i);
            switch (i % 3) {
            case 0:
                sql.addNullParam().addNullParam().addNullParam();
                break;
            case 1:
                sql.addTextParam(QString("")).addBlobParam(QByteArray("")).addTextParam(QString(""));
                break;
            default:
                sql.addTextParam(QStringLiteral("r\u00e9ponse \u4e2d %1").arg(i))
                    .addBlobParam(QByteArray(i % 50 + 1, char(i)))
                    .addTextParam(QStringLiteral("SMS"));
            }
            db.executeThrow(sql);
        }
        db.commitTran();
    }

    // The fields the tests ask for: each column by its kind, a place the
    // result lacks of each kind, and a place found by name.
    static std::vector<CursorAhead::Field> fields(const Sqlite3Cursor &first)
    {
        return {{0, Kind::Int64}, {1, Kind::Text}, {2, Kind::Blob}, {3, Kind::Utf8},
                {-1, Kind::Int64}, {99, Kind::Text}, {-1, Kind::Blob}, {42, Kind::Utf8},
                {first.columnIndex(QStringLiteral("U")), Kind::Text}};
    }

    QTemporaryDir dir;
    Sqlite3DB db;
};

TEST_F(CursorAheadTest, RowsAcrossBatchEdgesReadAsTheCursorReadsThem)
{
    const int counts[] = {0, 1, CursorAhead::kBatchRows - 1, CursorAhead::kBatchRows, CursorAhead::kBatchRows + 1,
                          CursorAhead::kBatchRows * CursorAhead::kBatches * 3 + 17};
    int filled = 0;
    for (const int count : counts) {
        fill(count - filled);
        filled = count;
        const Sqlite3Sql sql("select n, s, b, u from t order by rowid");
        for (const Stepping stepping : kSteppings) {
            // From a connection of its own: the other is the stepping
            // thread's while it steps.
            Sqlite3DB other;
            other.openThrow(db.dbPath(), Sqlite3DB::ReadOnly);
            Sqlite3Cursor expected = other.queryThrow(sql);
            int rows = 0;
            {
                CursorAhead ahead(db, sql, &CursorAheadTest::fields, 0, stepping);
                while (ahead.next()) {
                    ASSERT_TRUE(expected.moveNext()) << count << " row " << rows;
                    EXPECT_EQ(ahead.int64(0), expected.getInt64(0));
                    const QString text = ahead.takeText(1);
                    EXPECT_EQ(text, expected.getText(1));
                    EXPECT_EQ(text.isNull(), expected.getText(1).isNull()) << count << " row " << rows;
                    const QByteArray blob = ahead.takeBlob(2);
                    EXPECT_EQ(blob, expected.getBlob(2));
                    EXPECT_EQ(blob.isNull(), expected.getBlob(2).isNull());
                    const QByteArrayView utf8 = ahead.utf8(3);
                    EXPECT_EQ(utf8, expected.getUtf8(3));
                    EXPECT_EQ(utf8.isNull(), expected.getUtf8(3).isNull()) << count << " row " << rows;
                    // Places the result lacks.
                    EXPECT_EQ(ahead.int64(4), 0);
                    EXPECT_TRUE(ahead.takeText(5).isNull());
                    EXPECT_TRUE(ahead.takeBlob(6).isNull());
                    EXPECT_TRUE(ahead.utf8(7).isNull());
                    EXPECT_EQ(ahead.takeText(8), expected.getText(3));
                    ++rows;
                }
                EXPECT_FALSE(ahead.next());
            }
            EXPECT_FALSE(expected.moveNext());
            EXPECT_EQ(rows, count);
        }
    }
}

TEST_F(CursorAheadTest, FieldsOfAnotherKindOrNoneReadAsNothing)
{
    fill(3);
    for (const Stepping stepping : kSteppings) {
        CursorAhead ahead(db, Sqlite3Sql("select n, s, b, u from t order by rowid"), &CursorAheadTest::fields, 0,
                          stepping);
        // Before the first row nothing is current.
        EXPECT_EQ(ahead.int64(0), 0);
        ASSERT_TRUE(ahead.next());
        ASSERT_TRUE(ahead.next());
        ASSERT_TRUE(ahead.next());
        EXPECT_EQ(ahead.int64(0), 2);
        EXPECT_TRUE(ahead.utf8(1).isNull());
        EXPECT_TRUE(ahead.takeText(0).isNull());
        EXPECT_TRUE(ahead.takeBlob(3).isNull());
        EXPECT_EQ(ahead.int64(3), 0);
        for (const int none : {-1, 9, 1000}) {
            EXPECT_EQ(ahead.int64(none), 0);
            EXPECT_TRUE(ahead.utf8(none).isNull());
        }
        // Handed over once.
        EXPECT_FALSE(ahead.takeText(1).isEmpty());
        EXPECT_TRUE(ahead.takeText(1).isNull());
        EXPECT_FALSE(ahead.takeBlob(2).isEmpty());
        EXPECT_TRUE(ahead.takeBlob(2).isNull());
        EXPECT_FALSE(ahead.next());
        EXPECT_EQ(ahead.int64(0), 0);
    }
}

// A failure while stepping (here the integer overflow of abs() at one row)
// comes after every row before it, once, and leaves the connection free.
TEST_F(CursorAheadTest, FailureComesAfterTheRowsBeforeIt)
{
    fill(CursorAhead::kBatchRows * 3);
    const int failAt[] = {0, 1, CursorAhead::kBatchRows - 1, CursorAhead::kBatchRows, CursorAhead::kBatchRows * 2 + 5};
    for (const int at : failAt) {
        const Sqlite3Sql sql(QStringLiteral("select case when rowid = %1 then abs(-9223372036854775807 - 1) else "
                                            "rowid end from t order by rowid")
                                 .arg(at + 1));
        std::string expectedError;
        try {
            Sqlite3Cursor c = db.queryThrow(sql);
            while (c.moveNext()) {
            }
        } catch (const std::exception &e) {
            expectedError = e.what();
        }
        ASSERT_FALSE(expectedError.empty()) << at;
        for (const Stepping stepping : kSteppings) {
            CursorAhead ahead(
                db, sql, [](const Sqlite3Cursor &) { return std::vector<CursorAhead::Field>{{0, Kind::Int64}}; }, 0,
                stepping);
            int rows = 0;
            std::string error;
            try {
                while (ahead.next()) {
                    ++rows;
                    ASSERT_EQ(ahead.int64(0), rows);
                }
            } catch (const std::exception &e) {
                error = e.what();
            }
            EXPECT_EQ(rows, at);
            EXPECT_EQ(error, expectedError) << at;
            EXPECT_FALSE(ahead.next());
            // The connection is free as soon as the failure is known.
            Sqlite3Cursor count = db.queryThrow(Sqlite3Sql("select count(*) from t"));
            ASSERT_TRUE(count.moveNext());
            EXPECT_EQ(count.getInt64(0), CursorAhead::kBatchRows * 3);
        }
    }
}

// Left early, the stepping stops, and the statement and the connection can
// be used again at once.
TEST_F(CursorAheadTest, LeftEarlyFreesTheStatement)
{
    fill(CursorAhead::kBatchRows * CursorAhead::kBatches * 4);
    const Sqlite3Sql sql("select n from t order by rowid");
    for (const Stepping stepping : kSteppings) {
        for (const int read : {0, 1, CursorAhead::kBatchRows + 3}) {
            {
                CursorAhead ahead(
                    db, sql, [](const Sqlite3Cursor &) { return std::vector<CursorAhead::Field>{{0, Kind::Int64}}; },
                    0, stepping);
                for (int i = 0; i < read; ++i)
                    ASSERT_TRUE(ahead.next());
            }
            db.beginTran();
            db.executeThrow(Sqlite3Sql("update t set n = n where rowid = 1"));
            db.commitTran();
            Sqlite3Cursor again = db.queryThrow(sql);
            ASSERT_TRUE(again.moveNext());
        }
    }
}

TEST_F(CursorAheadTest, FieldsAreAskedOnceWithTheFirstRow)
{
    for (const int count : {0, CursorAhead::kBatchRows * 2}) {
        fill(count);
        for (const Stepping stepping : kSteppings) {
            int asked = 0;
            QStringList names;
            CursorAhead ahead(
                db, Sqlite3Sql("select n as first, s from t"),
                [&](const Sqlite3Cursor &first) {
                    ++asked;
                    names = first.getRow().columns();
                    return std::vector<CursorAhead::Field>{{first.columnIndex(QStringLiteral("FIRST")), Kind::Int64}};
                },
                0, stepping);
            int rows = 0;
            while (ahead.next())
                ++rows;
            EXPECT_EQ(rows, count);
            EXPECT_EQ(asked, count > 0 ? 1 : 0);
            if (count > 0) {
                EXPECT_EQ(names, QStringList({QStringLiteral("first"), QStringLiteral("s")}));
            }
        }
    }
}

qint64 cacheSize(Sqlite3DB &db)
{
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("PRAGMA cache_size"));
    return c.moveNext() ? c.getInt64(0) : 0;
}

// The page cache is small while the rows are stepped and as it was once the
// stepping has gone, however it ended; a query that fails lends nothing.
TEST_F(CursorAheadTest, APassOfItsOwnPageCache)
{
    fill(CursorAhead::kBatchRows * 3);
    db.executeThrow(Sqlite3Sql("PRAGMA cache_size=-65536"));
    for (const Stepping stepping : kSteppings) {
        for (const int read : {0, 2, CursorAhead::kBatchRows * 3 + 1}) {
            qint64 whileStepping = 0;
            {
                CursorAhead ahead(
                    db, Sqlite3Sql("select n from t"),
                    [&](const Sqlite3Cursor &) {
                        // On the thread that holds the connection now.
                        whileStepping = cacheSize(db);
                        return std::vector<CursorAhead::Field>{{0, Kind::Int64}};
                    },
                    4096, stepping);
                for (int i = 0; i < read && ahead.next(); ++i) {
                }
            }
            // Rows not asked for may have been stepped all the same.
            if (read > 0)
                EXPECT_EQ(whileStepping, -4096) << read;
            EXPECT_EQ(cacheSize(db), -65536) << read;
        }
        EXPECT_THROW(CursorAhead(db, Sqlite3Sql("select nothing from nowhere"),
                                 [](const Sqlite3Cursor &) { return std::vector<CursorAhead::Field>{}; }, 4096, stepping),
                     std::runtime_error);
        EXPECT_EQ(cacheSize(db), -65536);
    }
}

// While the rows are stepped on a thread of their own, the connection is
// that thread's: the caller's own use of it is a fault the checks catch.
TEST_F(CursorAheadTest, TheCallerMayNotUseTheConnectionWhileItIsLent)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    fill(CursorAhead::kBatchRows * CursorAhead::kBatches * 4);
    EXPECT_DEATH(
        {
            CursorAhead ahead(
                db, Sqlite3Sql("select n from t"),
                [](const Sqlite3Cursor &) { return std::vector<CursorAhead::Field>{{0, Kind::Int64}}; });
            ahead.next();
            db.queryThrow(Sqlite3Sql("select count(*) from t"));
        },
        "SQLite connection used from the wrong thread: Sqlite3DB::queryThrow");
    // Stepped in place, the rows leave the connection with the caller.
    CursorAhead ahead(
        db, Sqlite3Sql("select n from t"),
        [](const Sqlite3Cursor &) { return std::vector<CursorAhead::Field>{{0, Kind::Int64}}; }, 0,
        Stepping::CallingThread);
    ASSERT_TRUE(ahead.next());
    Sqlite3Cursor count = db.queryThrow(Sqlite3Sql("select count(*) from t"));
    ASSERT_TRUE(count.moveNext());
    EXPECT_EQ(count.getInt64(0), CursorAhead::kBatchRows * CursorAhead::kBatches * 4);
}

} // namespace
