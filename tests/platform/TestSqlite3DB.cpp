#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

#include "Sqlite3DB.h"
#include "SqliteQtVersion.h"

namespace
{

class Sqlite3DBTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("t.db"));
    }

    void createSample()
    {
        Sqlite3DB db;
        db.openThrow(path, Sqlite3DB::ReadWriteCreate);
        db.executeThrow("create table t(ROWID INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT, big INTEGER, data BLOB)");
        db.executeThrow(Sqlite3Sql("insert into t(Name, big, data) values(?,?,?)")
                            .addTextParam(QStringLiteral("Zoë"))
                            .addInt64Param(Q_INT64_C(0x7FFFFFFF) + 10)
                            .addBlobParam(QByteArray("\x00\x01\xff", 3)));
    }

    QTemporaryDir dir;
    QString path;
};

TEST(SqliteQtVersion, IsFive)
{
    EXPECT_EQ(sqlite_qt_version(), 5);
}

TEST_F(Sqlite3DBTest, OpenFlags)
{
    // 2 (read-write) refuses a missing file and creates nothing.
    {
        Sqlite3DB db;
        EXPECT_THROW(db.openThrow(path, Sqlite3DB::ReadWrite), std::runtime_error);
        EXPECT_FALSE(db.isOpen());
        EXPECT_FALSE(QFile::exists(path));
    }
    // 6 creates.
    createSample();
    ASSERT_TRUE(QFile::exists(path));
    // 1 reads but refuses writes.
    Sqlite3DB ro;
    ro.openThrow(path, Sqlite3DB::ReadOnly);
    Sqlite3Cursor c = ro.queryThrow("select count(*) as n from t");
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(c.getInt("n"), 1);
    EXPECT_THROW(ro.executeThrow("insert into t(Name) values('x')"), std::runtime_error);
}

TEST_F(Sqlite3DBTest, GettersByNameInAnyCaseAndMissingColumns)
{
    createSample();
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWrite);
    Sqlite3Cursor c = db.queryThrow("select * from t");
    EXPECT_EQ(c.count(), 4);
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(c.getInt64("rowid"), 1);
    EXPECT_EQ(c.getInt64("ROWID"), 1);
    EXPECT_EQ(c.getText("name"), QStringLiteral("Zoë"));
    EXPECT_EQ(c.getText("NAME"), QStringLiteral("Zoë"));
    EXPECT_EQ(c.getInt64("BIG"), Q_INT64_C(0x7FFFFFFF) + 10);
    EXPECT_EQ(c.getBlob("data"), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(c.getInt64(0), 1);
    // Columns the result lacks.
    EXPECT_EQ(c.getInt("nosuch"), 0);
    EXPECT_EQ(c.getInt64("nosuch"), 0);
    EXPECT_TRUE(c.getText("nosuch").isEmpty());
    EXPECT_TRUE(c.getBlob("nosuch").isEmpty());
    EXPECT_TRUE(c.isNull("nosuch"));
    EXPECT_FALSE(c.isNull("name"));
    EXPECT_EQ(c.getInt64(99), 0);
    EXPECT_FALSE(c.moveNext());
}

TEST_F(Sqlite3DBTest, ParametersBindInOrder)
{
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWriteCreate);
    db.executeThrow("create table p(a INTEGER, b INTEGER, c TEXT, d BLOB, e TEXT)");
    db.executeThrow(Sqlite3Sql("insert into p values(?,?,?,?,?)")
                        .addIntParam(-7)
                        .addInt64Param(Q_INT64_C(-5000000000))
                        .addTextParam(QString())
                        .addBlobParam(QByteArray())
                        .addNullParam());
    Sqlite3Cursor c = db.queryThrow("select a, b, c, typeof(c) as tc, typeof(d) as td, e from p");
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(c.getInt("a"), -7);
    EXPECT_EQ(c.getInt64("b"), Q_INT64_C(-5000000000));
    // An empty text is stored as '' so equality comparisons find it.
    EXPECT_EQ(c.getText("tc"), QStringLiteral("text"));
    EXPECT_EQ(c.getText("td"), QStringLiteral("blob"));
    EXPECT_TRUE(c.isNull("e"));

    Sqlite3Cursor f = db.queryThrow(Sqlite3Sql("select count(*) as n from p where c=?").addTextParam(QString()));
    ASSERT_TRUE(f.moveNext());
    EXPECT_EQ(f.getInt("n"), 1);
}

// Values given as variants (a row copied column by column) bind by their
// type; a null text or byte array still binds as an empty one of its kind.
TEST_F(Sqlite3DBTest, VariantParametersBindByTheirType)
{
    struct Case
    {
        const char *name;
        QVariant value;
        const char *type;
        QString shown; // the value cast to text
    };
    const Case cases[] = {
        {"invalid", QVariant(), "null", QString()},
        {"null int", QVariant(QMetaType::fromType<int>()), "null", QString()},
        {"null text", QVariant(QString()), "text", QString()},
        {"empty text", QVariant(QStringLiteral("")), "text", QString()},
        {"null bytes", QVariant(QByteArray()), "blob", QString()},
        {"bytes", QVariant(QByteArray("a\0b", 3)), "blob", QString::fromLatin1("a\0b", 3)},
        {"bool", QVariant(true), "integer", QStringLiteral("1")},
        {"unsigned", QVariant(4294967295u), "integer", QStringLiteral("4294967295")},
        {"int64", QVariant(Q_INT64_C(-9223372036854775807)), "integer", QStringLiteral("-9223372036854775807")},
        {"short", QVariant::fromValue<short>(-3), "integer", QStringLiteral("-3")},
        {"double", QVariant(2.5), "real", QStringLiteral("2.5")},
        {"float", QVariant(0.5f), "real", QStringLiteral("0.5")},
        {"text", QVariant(QStringLiteral("gr\u00fc\u00dfe")), "text", QStringLiteral("gr\u00fc\u00dfe")},
        {"char", QVariant(QChar(u'x')), "text", QStringLiteral("x")},
    };
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWriteCreate);
    for (const Case &c : cases) {
        Sqlite3Cursor r =
            db.queryThrow(Sqlite3Sql("select typeof(?1) as t, cast(?1 as text) as v").addParam(c.value));
        ASSERT_TRUE(r.moveNext()) << c.name;
        EXPECT_EQ(r.getText("t"), QLatin1String(c.type)) << c.name;
        EXPECT_EQ(r.getText("v"), c.shown) << c.name;
    }
    // A zero-length blob, not NULL, for a null byte array.
    Sqlite3Cursor n = db.queryThrow(Sqlite3Sql("select length(?) as n").addParam(QVariant(QByteArray())));
    ASSERT_TRUE(n.moveNext());
    EXPECT_FALSE(n.isNull("n"));
    EXPECT_EQ(n.getInt("n"), 0);
}

TEST_F(Sqlite3DBTest, ErrorsAreRuntimeErrorsAndExecNeverThrows)
{
    Sqlite3DB db;
    EXPECT_THROW(db.queryThrow("select 1"), std::runtime_error);
    QString error;
    EXPECT_NE(db.exec("select 1", error), 0);
    EXPECT_FALSE(error.isEmpty());

    db.openThrow(path, Sqlite3DB::ReadWriteCreate);
    try {
        db.queryThrow("select * from missing_table");
        FAIL() << "no exception";
    } catch (const std::runtime_error &e) {
        EXPECT_NE(QString::fromUtf8(e.what()).indexOf(QStringLiteral("missing_table")), -1);
    }
    EXPECT_NE(db.exec("create table x(a); create table x(a);", error), 0);
    EXPECT_NE(error.indexOf(QStringLiteral("already exists")), -1);
    EXPECT_EQ(db.exec("create table y(a); insert into y values(1);", error), 0);
    EXPECT_TRUE(error.isEmpty());
}

TEST_F(Sqlite3DBTest, CloseInsideTransactionDiscardsIt)
{
    createSample();
    {
        Sqlite3DB db;
        db.openThrow(path, Sqlite3DB::ReadWrite);
        db.beginTran();
        db.executeThrow("insert into t(Name) values('lost')");
        db.close();
    }
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadOnly);
    Sqlite3Cursor c = db.queryThrow("select count(*) as n from t");
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(c.getInt("n"), 1);
}

TEST_F(Sqlite3DBTest, TransactionsCommitAndRollBack)
{
    createSample();
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWrite);
    db.beginTran();
    db.executeThrow("insert into t(Name) values('a')");
    db.rollbackTran();
    db.beginTran();
    db.executeThrow("insert into t(Name) values('b')");
    db.commitTran();
    EXPECT_EQ(db.lastInsertId(), 2);
    Sqlite3Cursor c = db.queryThrow("select group_concat(Name) as names from t");
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(c.getText("names"), QStringLiteral("Zoë,b"));
    EXPECT_THROW(db.commitTran(), std::runtime_error);
}

TEST_F(Sqlite3DBTest, RowInsertSqlLeavesOutExcludedColumns)
{
    createSample();
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWrite);
    Sqlite3Cursor c = db.queryThrow("select * from t");
    ASSERT_TRUE(c.moveNext());
    Sqlite3Row row = c.getRow();
    EXPECT_EQ(row.columns(), QStringList({"ROWID", "Name", "big", "data"}));
    row.set("name", QStringLiteral("copy"));
    c = Sqlite3Cursor();

    const Sqlite3Sql sql = row.insertSql("t", {"rowid"});
    EXPECT_EQ(sql.params().size(), 3);
    EXPECT_EQ(sql.sql().indexOf(QStringLiteral("ROWID")), -1);
    db.executeThrow(sql);
    EXPECT_EQ(db.lastInsertId(), 2);
    Sqlite3Cursor d = db.queryThrow("select * from t where rowid=2");
    ASSERT_TRUE(d.moveNext());
    EXPECT_EQ(d.getText("name"), QStringLiteral("copy"));
    EXPECT_EQ(d.getInt64("big"), Q_INT64_C(0x7FFFFFFF) + 10);
    EXPECT_EQ(d.getBlob("data"), QByteArray("\x00\x01\xff", 3));
}

TEST_F(Sqlite3DBTest, RepeatedStatementsAreReusedAndOverlappingUsesStayApart)
{
    createSample();
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWrite);
    for (int i = 0; i < 1000; ++i)
        db.executeThrow(Sqlite3Sql("insert into t(Name, big) values(?,?)").addTextParam("n").addIntParam(i));

    // The same text used by two live cursors at once: each gets its own rows.
    const Sqlite3Sql q = Sqlite3Sql("select big from t where big between ? and ? order by big").addIntParam(10).addIntParam(12);
    Sqlite3Cursor outer = db.queryThrow(q);
    ASSERT_TRUE(outer.moveNext());
    EXPECT_EQ(outer.getInt("big"), 10);
    Sqlite3Cursor inner = db.queryThrow(q);
    ASSERT_TRUE(inner.moveNext());
    EXPECT_EQ(inner.getInt("big"), 10);
    ASSERT_TRUE(outer.moveNext());
    EXPECT_EQ(outer.getInt("big"), 11);
    // A copy shares its statement.
    Sqlite3Cursor copy = inner;
    ASSERT_TRUE(copy.moveNext());
    EXPECT_EQ(inner.getInt("big"), 11);
}

TEST_F(Sqlite3DBTest, CursorOutlivingItsConnectionIsSafe)
{
    createSample();
    Sqlite3Cursor c;
    {
        Sqlite3DB db;
        db.openThrow(path, Sqlite3DB::ReadWrite);
        c = db.queryThrow("select * from t");
    }
    // The connection is gone; the cursor must neither crash nor leak.
    SUCCEED();
}

TEST_F(Sqlite3DBTest, TableInfo)
{
    createSample();
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWrite);
    const auto cols = db.tbInfo("t");
    ASSERT_EQ(cols.size(), 4);
    EXPECT_TRUE(cols.value("ROWID").isInteger());
    EXPECT_TRUE(cols.value("ROWID").primaryKey);
    EXPECT_TRUE(cols.value("Name").isText());
    EXPECT_TRUE(cols.value("data").isBlob());
    EXPECT_TRUE(db.tbInfo("none").isEmpty());
}

TEST(SqliteColTest, AffinityOfDeclaredTypes)
{
    struct Case {
        const char *type;
        bool integer, text, blob, real, numeric;
    };
    const Case cases[] = {
        {"INTEGER", true, false, false, false, false},
        {"BIGINT", true, false, false, false, false},
        {"TEXT", false, true, false, false, false},
        {"VARCHAR(10)", false, true, false, false, false},
        {"BLOB", false, false, true, false, false},
        {"", false, false, true, false, false},
        {"REAL", false, false, false, true, false},
        {"DOUBLE", false, false, false, true, false},
        {"NUMERIC", false, false, false, false, true},
        {"BOOLEAN", false, false, false, false, true},
    };
    for (const Case &c : cases) {
        const _SqliteCol col("c", QString::fromLatin1(c.type));
        EXPECT_EQ(col.isInteger(), c.integer) << c.type;
        EXPECT_EQ(col.isText(), c.text) << c.type;
        EXPECT_EQ(col.isBlob(), c.blob) << c.type;
        EXPECT_EQ(col.isReal(), c.real) << c.type;
        EXPECT_EQ(col.isNumeric(), c.numeric) << c.type;
    }
}

} // namespace
