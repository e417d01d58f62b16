#include <gtest/gtest.h>

#include "ReleaseSmsDbWriter.h"
#include "TableSchema.h"

namespace
{

QStringList names(const QList<DeclaredColumn> &cols)
{
    QStringList out;
    for (const DeclaredColumn &c : cols)
        out.append(c.column.name);
    return out;
}

TEST(TableSchema, TheMessageTablesOfEachReleaseAreReadInTheirOrder)
{
    struct Case
    {
        ReleaseSmsDbWriter::Release release;
        int columns;
        const char *at24;
        const char *at25;
    } cases[] = {
        {ReleaseSmsDbWriter::IOS50, 32, "madrid_account", "madrid_flags"},
        {ReleaseSmsDbWriter::IOS51, 33, "madrid_account", "madrid_account_guid"},
        {ReleaseSmsDbWriter::IOS6, 38, nullptr, nullptr},
        {ReleaseSmsDbWriter::Later, 51, nullptr, nullptr},
    };
    for (const Case &c : cases) {
        const QList<DeclaredColumn> cols = declaredColumns(ReleaseSmsDbWriter::messageTable(c.release));
        ASSERT_EQ(cols.size(), c.columns) << c.columns;
        EXPECT_EQ(cols[0].column.name, QStringLiteral("ROWID"));
        EXPECT_TRUE(cols[0].column.primaryKey);
        EXPECT_EQ(cols[0].column.type, QStringLiteral("INTEGER"));
        if (c.columns < 38) {
            EXPECT_EQ(cols[24].column.name, QLatin1String(c.at24));
            EXPECT_EQ(cols[25].column.name, QLatin1String(c.at25));
        } else {
            EXPECT_EQ(cols[1].column.name, QStringLiteral("guid"));
            EXPECT_TRUE(cols[1].column.notNull);
            EXPECT_TRUE(cols[1].column.unique);
            EXPECT_TRUE(cols[3].hasDefault); // replace
            EXPECT_FALSE(cols[2].hasDefault); // text
            EXPECT_EQ(cols[37].column.name, QStringLiteral("was_deduplicated"));
        }
        // The carving list keeps them, with column 0 the rowid.
        EXPECT_EQ(carvingColumns(cols, true).size(), c.columns);
    }
}

TEST(TableSchema, StatementsOfOtherShapes)
{
    const QList<DeclaredColumn> odd = declaredColumns(QStringLiteral(
        "create table if not exists main.\"t\" ( -- the key\n \"ROWID\" integer primary key, [a b] varchar(20, 2) "
        "not null default 'x,y', `c` /* none */, d TEXT CHECK (d IN ('a', 'b')) unique, UNIQUE (a, c), "
        "FOREIGN KEY (d) REFERENCES x(y))"));
    ASSERT_EQ(names(odd), (QStringList{"ROWID", "a b", "c", "d"}));
    EXPECT_EQ(odd[1].column.type, QStringLiteral("varchar(20,2)"));
    EXPECT_TRUE(odd[1].column.notNull);
    EXPECT_TRUE(odd[1].hasDefault);
    EXPECT_TRUE(odd[2].column.type.isEmpty());
    EXPECT_TRUE(odd[3].column.unique);
    EXPECT_FALSE(odd[3].column.notNull);

    // A doubled quote inside a quoted name or a string stands for itself;
    // inside brackets a quote is just a character.
    const QList<DeclaredColumn> quoted = declaredColumns(QStringLiteral(
        "CREATE TABLE t (ROWID INTEGER PRIMARY KEY, \"say \"\"hi\"\"\" TEXT DEFAULT 'it''', "
        "`back``tick` INTEGER, [x\"\"y] BLOB)"));
    ASSERT_EQ(names(quoted), (QStringList{"ROWID", "say \"hi\"", "back`tick", "x\"\"y"}));
    EXPECT_TRUE(quoted[1].hasDefault);

    for (const char *bad : {"", "CREATE INDEX i ON t(a)", "CREATE TABLE t (a TEXT DEFAULT 'open)", "CREATE TABLE t ([a TEXT)", "CREATE TABLE t", "CREATE TABLE t (a TEXT",
                            "CREATE TABLE t (\"a TEXT)", "SELECT 1"})
        EXPECT_TRUE(declaredColumns(QLatin1String(bad)).isEmpty()) << bad;
    // Without an integer key first there is nothing to carve against.
    EXPECT_TRUE(carvingColumns(declaredColumns(QStringLiteral("CREATE TABLE t (a TEXT, b INTEGER)")), false).isEmpty());
    EXPECT_EQ(columnIndex(carvingColumns(odd, false), QStringLiteral("A B")), 1);
    EXPECT_EQ(columnIndex(carvingColumns(odd, false), QStringLiteral("e")), -1);
}

} // namespace
