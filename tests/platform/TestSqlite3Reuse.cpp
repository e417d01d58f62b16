#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "Sqlite3DB.h"

// What is kept from one call to the next (texts of statements, prepared
// statements, places of column names) must never stand in for something
// else that happens to lie in the same place.
namespace
{

class Sqlite3ReuseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        db.openThrow(dir.filePath(QStringLiteral("t.db")), Sqlite3DB::ReadWriteCreate);
        db.executeThrow("create table t(a INTEGER, b TEXT, c BLOB)");
        db.executeThrow(Sqlite3Sql("insert into t(a, b, c) values(?,?,?)")
                            .addInt64Param(7)
                            .addTextParam(QStringLiteral("seven"))
                            .addBlobParam(QByteArray("\x07\x00", 2)));
        db.executeThrow(Sqlite3Sql("insert into t(a, b, c) values(?,?,?)")
                            .addInt64Param(8)
                            .addTextParam(QString())
                            .addNullParam());
    }

    QTemporaryDir dir;
    Sqlite3DB db;
};

TEST_F(Sqlite3ReuseTest, ColumnsByPlaceReadAsByName)
{
    Sqlite3Cursor c = db.queryThrow("select a, b, c, null as n from t order by a");
    struct Row
    {
        qint64 a;
        QString b;
        QByteArray c;
        bool bNull;
    };
    const Row rows[] = {{7, QStringLiteral("seven"), QByteArray("\x07\x00", 2), false}, {8, QString(""), {}, false}};
    for (const Row &row : rows) {
        ASSERT_TRUE(c.moveNext());
        EXPECT_EQ(c.getInt64(0), row.a);
        EXPECT_EQ(c.getText(1), row.b);
        EXPECT_EQ(c.getText(1), c.getText(QStringLiteral("B")));
        EXPECT_EQ(c.getText(1).isNull(), c.getText(QStringLiteral("b")).isNull());
        EXPECT_EQ(c.getBlob(2), row.c);
        EXPECT_EQ(c.getBlob(2), c.getBlob(QStringLiteral("c")));
        EXPECT_EQ(QString::fromUtf8(c.getUtf8(1)), c.getText(1));
        // NULL: a null view and a null text, as by name.
        EXPECT_TRUE(c.getUtf8(3).isNull());
        EXPECT_TRUE(c.getText(3).isNull());
        // Places the result lacks read as nothing.
        for (int missing : {-1, 4, 1000}) {
            EXPECT_TRUE(c.getText(missing).isNull()) << missing;
            EXPECT_TRUE(c.getBlob(missing).isEmpty()) << missing;
            EXPECT_TRUE(c.getUtf8(missing).isNull()) << missing;
        }
        EXPECT_EQ(c.columnIndex(QStringLiteral("C")), 2);
        EXPECT_EQ(c.columnIndex(QStringLiteral("nothing")), -1);
    }
    EXPECT_FALSE(c.moveNext());
    // Past the last row nothing is current.
    EXPECT_TRUE(c.getText(1).isNull());
    EXPECT_EQ(c.columnIndex(QStringLiteral("a")), -1);
}

TEST_F(Sqlite3ReuseTest, NamesInTheSamePlaceAreComparedNotTrusted)
{
    Sqlite3Cursor c = db.queryThrow("select a, b from t order by a");
    ASSERT_TRUE(c.moveNext());
    // One buffer whose characters change between look-ups, so that every
    // name lies in exactly the same place.
    QChar buffer[] = {QLatin1Char('a')};
    const QString name = QString::fromRawData(buffer, 1);
    EXPECT_EQ(c.columnIndex(name), 0);
    EXPECT_EQ(c.getInt64(name), 7);
    buffer[0] = QLatin1Char('b');
    EXPECT_EQ(c.columnIndex(name), 1);
    EXPECT_EQ(c.getText(name), QStringLiteral("seven"));
    buffer[0] = QLatin1Char('z');
    EXPECT_EQ(c.columnIndex(name), -1);
    // Names made one after the other, freed in between.
    for (const char *text : {"a", "b", "A", "B", "x", "a"}) {
        const QString made = QString::fromLatin1(text);
        const int expected = made.compare(QLatin1String("a"), Qt::CaseInsensitive) == 0   ? 0
                             : made.compare(QLatin1String("b"), Qt::CaseInsensitive) == 0 ? 1
                                                                                          : -1;
        EXPECT_EQ(c.columnIndex(made), expected) << text;
    }
}

TEST_F(Sqlite3ReuseTest, StatementTextsInTheSamePlaceAreComparedNotTrusted)
{
    // A statement text built in one buffer that is rewritten between runs:
    // each run must run what the buffer holds then.
    char sql[64];
    std::strcpy(sql, "select a from t where a=7");
    {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(sql));
        ASSERT_TRUE(c.moveNext());
        EXPECT_EQ(c.getInt64(0), 7);
    }
    std::strcpy(sql, "select a from t where a=8");
    {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(sql));
        ASSERT_TRUE(c.moveNext());
        EXPECT_EQ(c.getInt64(0), 8);
    }
    std::strcpy(sql, "select b from t where a=7");
    {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(sql));
        ASSERT_TRUE(c.moveNext());
        EXPECT_EQ(c.getText(0), QStringLiteral("seven"));
    }
    // The same text while a cursor still reads it gets a statement of its
    // own; both read their own rows.
    Sqlite3Cursor first = db.queryThrow("select a from t order by a");
    Sqlite3Cursor second = db.queryThrow("select a from t order by a");
    ASSERT_TRUE(first.moveNext());
    ASSERT_TRUE(second.moveNext());
    ASSERT_TRUE(second.moveNext());
    EXPECT_EQ(first.getInt64(0), 7);
    EXPECT_EQ(second.getInt64(0), 8);
    // A statement run again after its cursor is gone starts from the top
    // with the new parameters.
    for (qint64 a : {7, 8, 7}) {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select a from t where a=?").addInt64Param(a));
        ASSERT_TRUE(c.moveNext());
        EXPECT_EQ(c.getInt64(0), a);
    }
    // After closing and opening again nothing kept is used.
    const QString path = db.dbPath();
    db.close();
    db.openThrow(path, Sqlite3DB::ReadWrite);
    Sqlite3Cursor c = db.queryThrow("select count(*) from t");
    ASSERT_TRUE(c.moveNext());
    EXPECT_EQ(c.getInt64(0), 2);
}

TEST_F(Sqlite3ReuseTest, BoundValuesOutliveTheirParameters)
{
    // The statement text and its parameters are temporaries gone before the
    // first row is read; what was bound must still be what the query sees.
    {
        Sqlite3Cursor c = db.queryThrow(
            Sqlite3Sql("select a from t where b=?").addTextParam(QStringLiteral("se") + QStringLiteral("ven")));
        ASSERT_TRUE(c.moveNext());
        EXPECT_EQ(c.getInt64(0), 7);
    }
    // Bytes the parameter does not own, changed after binding.
    char bytes[] = {'\x07', '\x00'};
    {
        Sqlite3Cursor c =
            db.queryThrow(Sqlite3Sql("select a from t where c=?").addBlobParam(QByteArray::fromRawData(bytes, 2)));
        bytes[0] = '\x09';
        ASSERT_TRUE(c.moveNext());
        EXPECT_EQ(c.getInt64(0), 7);
    }
    // Written values come back byte for byte, texts and blobs alike, also
    // when the same statement is run again with other values.
    const struct
    {
        qint64 a;
        QString b;
        QByteArray c;
    } rows[] = {{20, QStringLiteral("Zo\u00EB \U0001F382"), QByteArray("\x00\xff\x00", 3)},
                {21, QString(QLatin1String("")), QByteArray("")},
                {22, QString(1000, QLatin1Char('x')), QByteArray(100000, '\x5a')}};
    for (const auto &row : rows)
        db.executeThrow(Sqlite3Sql("insert into t(a, b, c) values(?,?,?)")
                            .addInt64Param(row.a)
                            .addTextParam(row.b)
                            .addBlobParam(row.c));
    for (const auto &row : rows) {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select b, c, typeof(c) from t where a=?").addInt64Param(row.a));
        ASSERT_TRUE(c.moveNext()) << row.a;
        EXPECT_EQ(c.getText(0), row.b) << row.a;
        EXPECT_EQ(c.getBlob(1), row.c) << row.a;
        EXPECT_EQ(c.getText(2), QStringLiteral("blob")) << row.a;
    }
}

} // namespace
