#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "DeletedRecordPasses.h"
#include "RecordingProgress.h"
#include "Sqlite3DB.h"
#include "Sqlite3File.h"
#include "SqliteImage.h"

namespace
{

TEST(DeletedRecordPasses, ProgressIsTheTruncatedPercentageOfTheStep)
{
    RecordingProgress progress;
    for (int i = 1; i <= 3; ++i)
        postScanProgress(&progress, i, 3);
    postScanProgress(&progress, 1, 0);   // no steps: nothing
    postScanProgress(nullptr, 1, 2);     // no form: nothing
    EXPECT_EQ(progress.progressValues(), (QList<int>{33, 66, 100}));
    EXPECT_FALSE(scanCancelled(nullptr));
    progress.setCancelled(true);
    EXPECT_TRUE(scanCancelled(&progress));
}

TEST(DeletedRecordPasses, RepeatedPagesAreCarvedOnceInTheOrderFound)
{
    EXPECT_EQ(withoutRepeats({5, 3, 5, 9, 3, 1}), (QList<quint32>{5, 3, 9, 1}));
    EXPECT_TRUE(withoutRepeats({}).isEmpty());
}

class FreelistPass : public ::testing::Test
{
protected:
    QString write(const SqliteImage &image)
    {
        const QString path = m_dir.filePath(QStringLiteral("f%1.db").arg(m_count++));
        image.write(path);
        return path;
    }
    QTemporaryDir m_dir;
    int m_count = 0;
};

// Trunks 2 -> 3 -> 2 (a loop); 2 lists a freed leaf (4), a freed interior
// page (5) and numbers outside the file; 5 points at the freed leaf 6 and
// at page 7, which the freelist does not name: it is in use.
SqliteImage hostileFreelist()
{
    SqliteImage image(512, 7);
    const QByteArray cell = sqliteLeafCell(11, sqliteRecord({SqliteField::null(), SqliteField::text("freed")}));
    const QByteArray live = sqliteLeafCell(12, sqliteRecord({SqliteField::null(), SqliteField::text("live")}));
    image.setTrunkPage(2, 3, {4, 5, 0, 99999});
    image.setTrunkPage(3, 2, {6});
    image.setLeafPage(4, {cell});
    image.setInteriorPage(5, {{6, 20}, {5, 30}}, 7);
    image.setLeafPage(6, {cell});
    image.setLeafPage(7, {live});
    image.setFreelist(2, 6);
    return image;
}

TEST_F(FreelistPass, FollowsTheChainOnceAndHandsOutOnlyCellsOfFreePages)
{
    Sqlite3File file(write(hostileFreelist()));
    file.open();
    QList<quint32> pages;
    QList<qint64> rowids;
    freelistPass(file, nullptr, pages, [&](const Sqlite3File::_Page &page, const Sqlite3File::_Cell &cell) {
        EXPECT_NE(page.pageNo, 7u);
        rowids.append(cell.rowid);
    });
    // Trunk 2, leaf 4, the leaves below 5 (6 and the live 7), trunk 3; 6 is
    // not walked twice.
    EXPECT_EQ(pages, (QList<quint32>{2, 4, 6, 7, 3}));
    EXPECT_EQ(rowids, (QList<qint64>{11, 11}));
}

TEST_F(FreelistPass, ACancelStopsAtTheNextCheck)
{
    Sqlite3File file(write(hostileFreelist()));
    file.open();
    for (int checks = 0; checks <= 6; ++checks) {
        RecordingProgress progress;
        progress.cancelAfterChecks(checks);
        QList<quint32> pages;
        int cells = 0;
        freelistPass(file, &progress, pages, [&](const Sqlite3File::_Page &, const Sqlite3File::_Cell &) { ++cells; });
        // Before the first trunk nothing is read at all.
        if (checks == 0) {
            EXPECT_TRUE(pages.isEmpty());
            EXPECT_EQ(cells, 0);
        }
        EXPECT_LE(pages.size(), 5) << checks;
    }
}

// Damage to a real file with a freelist: the pass ends and stays inside the
// mapping (the sanitizers watch).
TEST_F(FreelistPass, RandomDamageEndsEveryWalk)
{
    const QString path = m_dir.filePath(QStringLiteral("real.db"));
    {
        Sqlite3DB db;
        db.openThrow(path, Sqlite3DB::ReadWriteCreate);
        keepDeletedBytes(db, 512);
        db.executeThrow("CREATE TABLE t(id INTEGER PRIMARY KEY, x TEXT)");
        db.beginTran();
        for (int i = 1; i <= 300; ++i)
            db.executeThrow(Sqlite3Sql("INSERT INTO t(x) VALUES(?)").addTextParam(QString(40, QChar(u'a' + i % 26))));
        db.commitTran();
        db.executeThrow("DELETE FROM t WHERE id > 60");
    }
    const QByteArray original = readWholeFile(path);
    std::mt19937 random(77);
    const int pages = original.size() / 512;
    for (int round = 0; round < 300; ++round) {
        QByteArray bytes = original;
        for (int i = 0, n = 1 + static_cast<int>(random() % 16); i < n; ++i) {
            // Mostly the header's freelist fields and the first bytes of
            // pages, where trunk links, counts and child pointers lie.
            const int page = static_cast<int>(random() % pages);
            const int at = random() % 3 == 0 ? 32 + static_cast<int>(random() % 8)
                                             : page * 512 + static_cast<int>(random() % 24);
            bytes[at] = random() % 2 ? static_cast<char>(random() % (pages + 2)) : static_cast<char>(random());
        }
        const QString damaged = m_dir.filePath(QStringLiteral("damaged.db"));
        writeWholeFile(damaged, bytes);
        Sqlite3File file(damaged);
        try {
            file.open();
        } catch (const std::runtime_error &) {
            continue;
        }
        QList<quint32> found;
        freelistPass(file, nullptr, found, [&](const Sqlite3File::_Page &, const Sqlite3File::_Cell &cell) {
            (void)file.rowData(cell);
        });
        // Each trunk at most once and each page below one at most once.
        EXPECT_LE(found.size(), 2 * pages * (512 / 4)) << round;
    }
}

} // namespace

namespace
{

QByteArray recordOf(int values)
{
    QList<SqliteField> fields{SqliteField::null()};
    for (int i = 1; i < values; ++i)
        fields.append(SqliteField::integer(i));
    return sqliteLeafCell(values, sqliteRecord(fields));
}

// Which images of the log the scans search for rows of a table whose
// records have 3 or 4 values.
TEST(DeletedRecordPasses, ImagesOfOtherTablesAndIndexesAreLeftOut)
{
    QTemporaryDir dir;
    SqliteImage image(512, 7);
    image.setLeafPage(2, {recordOf(3), recordOf(9)});       // one row of the table
    image.setLeafPage(3, {recordOf(5), recordOf(9)});       // rows of another table
    image.setLeafPage(4, {recordOf(3)}, 10);                // an index
    image.setLeafPage(5, {});                               // an empty leaf
    image.put(6, 0, QByteArray(512, '\x07'));               // no b-tree page
    // A cell whose record header claims more bytes than the cell has.
    image.setLeafPage(7, {sqliteLeafCell(1, QByteArray::fromHex("7f01020304"))});
    const QString path = dir.filePath(QStringLiteral("f.db"));
    image.write(path);
    Sqlite3File file(path);
    file.open();
    const auto may = [&](int n) { return imageMayHoldRows(file, file.readPage(n), 3, 4); };
    EXPECT_TRUE(may(2));
    EXPECT_FALSE(may(3));
    EXPECT_FALSE(may(4));
    EXPECT_TRUE(may(5));
    EXPECT_TRUE(may(6));
    const Sqlite3File::_Page page = file.readPage(2);
    EXPECT_EQ(recordValueCount(file, page, file.readCell(page, page.cells[0])), 3);
    EXPECT_EQ(recordValueCount(file, page, file.readCell(page, page.cells[1])), 9);
    EXPECT_EQ(recordValueCount(file, page, Sqlite3File::_Cell()), -1);
    const Sqlite3File::_Page damaged = file.readPage(7);
    ASSERT_EQ(damaged.cells.size(), 1);
    EXPECT_EQ(recordValueCount(file, damaged, file.readCell(damaged, damaged.cells[0])), -1);
}

} // namespace

namespace
{

// Where rows of two lengths begin at one place, a byte in front that only
// looks like the shorter one's header length (a stale freeblock header left
// inside a merged block) does not make the shorter, cut reading the record.
TEST(DeletedRecordPasses, AStrayHeaderByteDoesNotOutweighAWholeLongerRow)
{
    const QList<_SqliteCol> three{_SqliteCol(QStringLiteral("ROWID"), QStringLiteral("INTEGER"), false, false, true),
                                  _SqliteCol(QStringLiteral("text"), QStringLiteral("TEXT"), true),
                                  _SqliteCol(QStringLiteral("n"), QStringLiteral("INTEGER"), true)};
    const QList<SqliteField> fields{SqliteField::null(), SqliteField::text("a whole text"), SqliteField::integerAs(1, 7)};
    QTemporaryDir dir;
    SqliteImage image(512, 2);
    image.put(2, 0, QByteArray(512, '\xff'));
    // 0x03 would be the header length of a record of two values.
    image.put(2, 100, QByteArray("\x03", 1) + sqliteSerialTypes(fields) + sqliteBody(fields));
    const QString path = dir.filePath(QStringLiteral("f.db"));
    image.write(path);
    Sqlite3File file(path);
    file.open();
    const QList<CarvedRow> rows =
        carveBest(file, file.readPage(2), {three, three.mid(0, 2)}, [](const Sqlite3File::_Row &, int) { return 0; });
    const CarvedRow *found = nullptr;
    for (const CarvedRow &r : rows) {
        if (r.row.values.value(1).toString().contains(QStringLiteral("whole")))
            found = &r;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->list, 0);
    EXPECT_EQ(found->row.values.size(), 3);
    EXPECT_EQ(found->row.values[1].toString(), QStringLiteral("a whole text"));
    EXPECT_EQ(found->row.values[2].toInt(), 7);
}

} // namespace
