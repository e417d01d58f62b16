#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <stdexcept>

#include "DeletedRecordPasses.h"
#include "MessageRecycleDb.h"
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
    // Trunk 2, leaf 4, the freed interior page 5 (its unallocated area can
    // hold the cells of the leaf it was) and the leaves below it (6 and the
    // live 7), trunk 3; 6 is not walked twice.
    EXPECT_EQ(pages, (QList<quint32>{2, 4, 5, 6, 7, 3}));
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

namespace
{

QByteArray rowCell(qint64 rowid, int values)
{
    QList<SqliteField> fields{SqliteField::null()};
    for (int i = 1; i < values; ++i)
        fields.append(SqliteField::text("value " + QByteArray::number(i)));
    return sqliteLeafCell(rowid, sqliteRecord(fields));
}

QList<_SqliteCol> textColumns(int count)
{
    QList<_SqliteCol> cols{_SqliteCol(QStringLiteral("ROWID"), QStringLiteral("INTEGER"), false, false, true)};
    for (int i = 1; i < count; ++i)
        cols.append(_SqliteCol(QStringLiteral("c%1").arg(i), QStringLiteral("TEXT")));
    return cols;
}

// A file of six pages and a log of three images (of pages 2, 4 and 5): a
// leaf of the table's rows (4 or 3 values) and of another table's, an
// index leaf, and a leaf of rows of another table only.
class CarvingPass : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SqliteImage image(512, 6);
        for (int n = 2; n <= 6; ++n)
            image.setLeafPage(n, {rowCell(n, 4)});
        const QString path = m_dir.filePath(QStringLiteral("f.db"));
        image.write(path);
        SqliteImage log(512, 4);
        log.setLeafPage(2, {rowCell(21, 4), rowCell(22, 9), rowCell(23, 3)});
        log.setLeafPage(3, {rowCell(31, 4)}, 10);
        log.setLeafPage(4, {rowCell(41, 6)});
        m_file = std::make_unique<Sqlite3File>(path);
        m_file->open();
        ASSERT_TRUE(m_file->setPageImages(log.bytes().mid(512, 3 * 512), {2, 4, 5}));
    }

    // What one pass went through: "p<n>" for a page of the file, "i<n>"
    // for an image, "c<rowid>" for a live cell of an image.
    bool run(QObject *form, QStringList &seen)
    {
        const QList<QList<_SqliteCol>> lists{textColumns(4), textColumns(3)};
        const Sqlite3File &file = *m_file;
        return carvingPass(
            file, form, {3, 2, 3, 6, 2}, lists,
            [&](const Sqlite3File::_Cell &cell, int) { seen.append(QStringLiteral("c%1").arg(cell.rowid)); },
            [&](const Sqlite3File::_Page &page, int) {
                const bool inFile = page.page >= file.data() && page.page < file.dataEnd();
                seen.append((inFile ? QStringLiteral("p%1") : QStringLiteral("i%1")).arg(page.pageNo));
            });
    }

    QTemporaryDir m_dir;
    std::unique_ptr<Sqlite3File> m_file;
};

TEST_F(CarvingPass, TakesEachPageOnceThenTheImagesThatMayHoldRows)
{
    RecordingProgress progress;
    QStringList seen;
    EXPECT_TRUE(run(&progress, seen));
    // The rows of 4 and 3 values of the first image, not the one of 9; the
    // index and the other table's leaf are passed over.
    EXPECT_EQ(seen, (QStringList{"p3", "p2", "p6", "c21", "c23", "i2"}));
    // One step for every page and image, those passed over included.
    EXPECT_EQ(progress.progressValues(), (QList<int>{16, 33, 50, 66, 83, 100}));
    seen.clear();
    EXPECT_TRUE(run(nullptr, seen));
    EXPECT_EQ(seen.size(), 6);
}

TEST_F(CarvingPass, ACancelStopsBeforeTheNextPage)
{
    const struct
    {
        int checks;
        QStringList seen;
    } cases[] = {
        {0, {}},
        {1, {"p3"}},
        {3, {"p3", "p2", "p6"}},
        {5, {"p3", "p2", "p6", "c21", "c23", "i2"}},
    };
    for (const auto &c : cases) {
        RecordingProgress progress;
        progress.cancelAfterChecks(c.checks);
        QStringList seen;
        EXPECT_FALSE(run(&progress, seen)) << c.checks;
        EXPECT_EQ(seen, c.seen) << c.checks;
        EXPECT_EQ(progress.progressValues().size(), c.checks) << c.checks;
    }
    // A cancel after the last page is no cancel of the pass.
    RecordingProgress late;
    late.cancelAfterChecks(6);
    QStringList seen;
    EXPECT_TRUE(run(&late, seen));
}

void setHandle(_MsgHandle &h, const char *id)
{
    h.id = QString::fromLatin1(id);
    h.service = QStringLiteral("SMS");
}

TEST(ScanTransaction, KeepsWhatAScanWroteOnlyWhenItEndsWithoutAnError)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("recycle.db"));
    _MsgHandle kept, lost, after;
    setHandle(kept, "+15550100001");
    setHandle(lost, "+15550100002");
    setHandle(after, "+15550100003");
    {
        MessageRecycleDb recycle(path);
        inScanTransaction(recycle, [&] { recycle.insertHandle(kept, 7); });
        try {
            inScanTransaction(recycle, [&] {
                recycle.insertHandle(lost, 8);
                throw std::runtime_error("read page failed");
            });
            ADD_FAILURE() << "the error of the scan was swallowed";
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), "read page failed");
        }
        // The failed scan's transaction is over: the next one commits.
        inScanTransaction(recycle, [&] { recycle.insertHandle(after, 9); });
    }
    MessageRecycleDb reread(path);
    reread.ensureOpen();
    EXPECT_NE(reread.handleRowid(kept), 0);
    EXPECT_EQ(reread.handleRowid(lost), 0);
    EXPECT_NE(reread.handleRowid(after), 0);
}

} // namespace
