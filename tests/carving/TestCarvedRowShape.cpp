#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "Sqlite3File.h"
#include "SqliteImage.h"

namespace
{

using Row = Sqlite3File::_Row;

QList<_SqliteCol> columns()
{
    return {_SqliteCol(QStringLiteral("ROWID"), QStringLiteral("INTEGER"), false, false, true),
            _SqliteCol(QStringLiteral("text"), QStringLiteral("TEXT"), true),
            _SqliteCol(QStringLiteral("n"), QStringLiteral("INTEGER"), true)};
}

QList<SqliteField> fields(const QByteArray &text, qint64 n)
{
    return {SqliteField::null(), SqliteField::text(text), SqliteField::integer(n)};
}

struct ShapeCase
{
    const char *name;
    QByteArray bytes;  // written at offset 100 of a page that is no b-tree page
    int rangeEnd;      // carving stops here (page offset)
    bool complete;
    bool headerSeen;
};

// What the scans need to know of a carved row besides its values: whether
// it is all there, and whether its record header stood in front of it.
TEST(CarvedRowShape, CompleteAndHeaderSeenTellCutAndOverwrittenRecordsApart)
{
    const QByteArray whole = sqliteLeafCell(7, sqliteRecord(fields("hello there", 300)));
    const QByteArray typesOnly = sqliteSerialTypes(fields("hello there", 300)) + sqliteBody(fields("hello there", 300));
    QByteArray overwritten = whole;
    // A later freeblock's link and size written over the text's middle.
    overwritten.replace(whole.indexOf("there"), 4, QByteArray::fromHex("00000050"));
    QByteArray notUtf8 = whole;
    notUtf8.replace(whole.indexOf("there"), 2, QByteArray("\xC3\x28"));
    QByteArray control = whole;
    control.replace(whole.indexOf("there"), 1, QByteArray("\x0E"));
    QByteArray lineBreak = whole;
    lineBreak.replace(whole.indexOf("there"), 1, QByteArray("\n"));
    const ShapeCase cases[] = {
        {"whole_cell", whole, 4096, true, true},
        {"header_gone", QByteArray(3, '\xff') + typesOnly, 4096, true, false},
        {"body_cut_by_the_range", whole, 100 + int(whole.size()) - 3, false, true},
        {"text_overwritten", overwritten, 4096, false, true},
        {"text_of_no_utf8", notUtf8, 4096, false, true},
        {"text_with_a_control_byte", control, 4096, false, true},
        {"text_with_a_line_break", lineBreak, 4096, true, true},
    };
    for (const ShapeCase &c : cases) {
        QTemporaryDir dir;
        SqliteImage image(4096, 2);
        image.put(2, 0, QByteArray(4096, '\xff'));
        image.put(2, 100, c.bytes);
        const QString path = dir.filePath(QStringLiteral("f.db"));
        image.write(path);
        Sqlite3File file(path);
        file.open();
        const uchar *page = file.data() + 4096;
        const QList<Row> rows = file.scanRows(columns(), 0, file.usableSize(), page + 90, page + c.rangeEnd, nullptr);
        const Row *found = nullptr;
        for (const Row &r : rows) {
            if (r.values.size() == 3 && r.values[1].toString().startsWith(QStringLiteral("hello")))
                found = &r;
        }
        ASSERT_NE(found, nullptr) << c.name;
        EXPECT_EQ(found->complete, c.complete) << c.name;
        EXPECT_EQ(found->headerSeen, c.headerSeen) << c.name;
        if (c.bytes == whole) {
            EXPECT_EQ(found->rowid, 7) << c.name;
        }
        if (!c.headerSeen) {
            EXPECT_EQ(found->rowid, 0) << c.name;
        }
        // Where column 1's serial type stands (after column 0's).
        EXPECT_EQ(found->start - page, 100 + (c.bytes.size() - typesOnly.size()) + 1) << c.name;
    }
}

// Rows written before a column was added have one value less: carved with
// the shorter length where the longer one does not fit, and only there.
TEST(CarvedRowShape, ShorterLengthsTakeRowsTheFullListDoesNot)
{
    const QList<_SqliteCol> cols = columns() + QList<_SqliteCol>{_SqliteCol(QStringLiteral("added"), QStringLiteral("BLOB"))};
    QList<SqliteField> old = fields("written before", 5);
    QList<SqliteField> later = fields("written after", 6);
    later.append(SqliteField::blob("b"));
    QTemporaryDir dir;
    SqliteImage image(4096, 2);
    image.put(2, 0, QByteArray(4096, '\xff'));
    image.put(2, 100, sqliteLeafCell(3, sqliteRecord(old)));
    image.put(2, 300, sqliteLeafCell(4, sqliteRecord(later)));
    const QString path = dir.filePath(QStringLiteral("f.db"));
    image.write(path);
    Sqlite3File file(path);
    file.open();
    const uchar *page = file.data() + 4096;
    for (const bool withShorter : {false, true}) {
        const QList<Row> rows = file.scanRows(cols, 0, file.usableSize(), page, page + 4096, nullptr,
                                              withShorter ? QList<int>{3} : QList<int>{});
        QStringList found;
        for (const Row &r : rows) {
            if (r.complete)
                found.append(QStringLiteral("%1:%2:%3").arg(r.values[1].toString()).arg(r.values.size()).arg(r.rowid));
        }
        if (withShorter)
            EXPECT_EQ(found, (QStringList{"written before:3:3", "written after:4:4"}));
        else
            EXPECT_EQ(found, QStringList{"written after:4:4"});
    }
}

} // namespace
