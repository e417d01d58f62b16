#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "AbsDb.h"

namespace
{

// A database class in its plainest form: opens (and creates) one file.
class FileDb : public AbsDb
{
public:
    explicit FileDb(const QString &path)
        : m_path(path)
    {
    }
    void ensureOpen() override
    {
        if (isOpen())
            return;
        ++opens;
        openThrow(m_path, ReadWriteCreate);
    }
    int opens = 0;

private:
    QString m_path;
};

class AbsDbTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("a.db")); }
};

TEST_F(AbsDbTest, EndTransactionWithoutBeginDoesNothingAndOpensNothing)
{
    FileDb db(path());
    db.endTransaction(true);
    db.endTransaction(false);
    EXPECT_EQ(db.opens, 0);
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(AbsDbTest, TransactionCommitsOrRollsBack)
{
    FileDb db(path());
    db.ensureOpen();
    db.executeThrow("create table t(a INTEGER)");
    db.beginTransaction();
    EXPECT_TRUE(db.inTransaction());
    db.executeThrow("insert into t values(1)");
    db.endTransaction(false);
    EXPECT_FALSE(db.inTransaction());
    db.beginTransaction();
    db.executeThrow("insert into t values(2)");
    db.endTransaction(true);
    const QList<Sqlite3Row> rows = db.selectAll("t");
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.first().value("a").toInt(), 2);
    EXPECT_EQ(db.opens, 1);
}

TEST_F(AbsDbTest, InsertRowLeavingOutRowidGetsANewRowid)
{
    FileDb db(path());
    db.ensureOpen();
    db.executeThrow("create table t(ROWID INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT)");
    Sqlite3Row row;
    row.set("ROWID", 77);
    row.set("name", QStringLiteral("x"));
    EXPECT_EQ(db.insertRow(row, "t", {"rowid"}), 1);
    EXPECT_EQ(db.insertRow(row, "t", {"rowid"}), 2);
    EXPECT_EQ(db.insertRow(row, "t"), 77);
}

TEST_F(AbsDbTest, SelectAllOfAnEmptyTableAndTheRowidAlias)
{
    FileDb db(path());
    db.ensureOpen();
    db.executeThrow("create table t(ROWID INTEGER PRIMARY KEY, name TEXT)");
    EXPECT_TRUE(db.selectAll("t").isEmpty());
    db.executeThrow("insert into t values(5, 'five')");
    const QList<Sqlite3Row> rows = db.selectAll("t");
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.first().value("rowid").toLongLong(), 5);
    EXPECT_THROW(db.selectAll("missing"), std::runtime_error);
}

TEST_F(AbsDbTest, FailedCommitKeepsTheFlagSoALaterEndTriesAgain)
{
    FileDb db(path());
    db.ensureOpen();
    db.executeThrow("create table p(id INTEGER PRIMARY KEY)");
    db.executeThrow("create table c(p INTEGER REFERENCES p(id) DEFERRABLE INITIALLY DEFERRED)");
    db.executeThrow("PRAGMA foreign_keys=ON");
    db.beginTransaction();
    db.executeThrow("insert into c values(9)");
    EXPECT_THROW(db.endTransaction(true), std::runtime_error);
    EXPECT_TRUE(db.inTransaction());
    db.endTransaction(false);
    EXPECT_FALSE(db.inTransaction());
    EXPECT_TRUE(db.selectAll("c").isEmpty());
}

} // namespace
