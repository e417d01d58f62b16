#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "CaseName.h"
#include "LogRecorder.h"
#include "Sqlite3DB.h"
#include "Sqlite3File.h"
#include "SqliteImage.h"

namespace
{

using Row = Sqlite3File::_Row;
using Page = Sqlite3File::_Page;

const uchar *bytesOf(const QByteArray &a)
{
    return reinterpret_cast<const uchar *>(a.constData());
}

std::string errorOf(Sqlite3File &file)
{
    try {
        file.open();
    } catch (const std::runtime_error &e) {
        return e.what();
    }
    return std::string();
}

// The columns of the test table t(id INTEGER PRIMARY KEY, name TEXT,
// n INTEGER, data BLOB) as a carving scan describes them.
QList<_SqliteCol> tableColumns()
{
    return {_SqliteCol(QStringLiteral("id"), QStringLiteral("INTEGER"), false, false, true),
            _SqliteCol(QStringLiteral("name"), QStringLiteral("TEXT")),
            _SqliteCol(QStringLiteral("n"), QStringLiteral("INTEGER")),
            _SqliteCol(QStringLiteral("data"), QStringLiteral("BLOB"))};
}

// Real files written by the engine, with deleted bytes kept.
class Sqlite3FileRealFile : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path() const { return m_dir.filePath(QStringLiteral("t.db")); }

    // A fresh file with the table t.
    void create(Sqlite3DB &db, int pageSize)
    {
        QFile::remove(path());
        db.openThrow(path(), Sqlite3DB::ReadWriteCreate);
        keepDeletedBytes(db, pageSize);
        db.executeThrow("CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, n INTEGER, data BLOB)");
    }

    static void insert(Sqlite3DB &db, qint64 id, const QString &name, qint64 n, const QByteArray &data = QByteArray())
    {
        Sqlite3Sql sql("INSERT INTO t(id, name, n, data) VALUES(?, ?, ?, ?)");
        sql.addInt64Param(id).addTextParam(name).addInt64Param(n);
        if (data.isNull())
            sql.addNullParam();
        else
            sql.addBlobParam(data);
        db.executeThrow(sql);
    }

    static QString nameOf(qint64 id) { return QStringLiteral("name %1").arg(id); }

    // Page numbers of a table's b-tree by kind, as the engine reports them.
    static QList<quint32> pagesOf(Sqlite3DB &db, const QString &table, const QString &kind)
    {
        QList<quint32> pages;
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("SELECT pageno FROM dbstat WHERE name=? AND pagetype=? ORDER BY pageno")
                                            .addTextParam(table)
                                            .addTextParam(kind));
        while (c.moveNext())
            pages.append(static_cast<quint32>(c.getInt64(QStringLiteral("pageno"))));
        return pages;
    }

    static quint32 rootPage(Sqlite3DB &db, const QString &table)
    {
        Sqlite3Cursor c = db.queryThrow(
            Sqlite3Sql("SELECT rootpage FROM sqlite_master WHERE name=?").addTextParam(table));
        return c.moveNext() ? static_cast<quint32>(c.getInt64(QStringLiteral("rootpage"))) : 0;
    }

    QTemporaryDir m_dir;
};

// --- bounded readers ---------------------------------------------------------

TEST(Sqlite3FileReaders, NumbersAreReadOnlyWhenAllTheirBytesLieBeforeTheEnd)
{
    const QByteArray buf = QByteArray::fromHex("123456789abcdef0");
    const uchar *p = bytesOf(buf);
    const uchar *end = p + buf.size();

    EXPECT_EQ(Sqlite3File::readU8(p + 7, end), 0xF0);
    EXPECT_EQ(Sqlite3File::readU8(end, end), 0);
    // A 2-byte value whose last byte is the last byte is read; one further, 0.
    EXPECT_EQ(Sqlite3File::readBE16(p + 6, end), static_cast<qint16>(0xDEF0));
    EXPECT_EQ(Sqlite3File::readBE16(p + 7, end), 0);
    EXPECT_EQ(Sqlite3File::readBE32(p + 4, end), 0x9ABCDEF0u);
    EXPECT_EQ(Sqlite3File::readBE32(p + 5, end), 0u);
    EXPECT_EQ(Sqlite3File::readBE64(p, end), 0x123456789ABCDEF0ull);
    EXPECT_EQ(Sqlite3File::readBE64(p + 1, end), 0u);
    EXPECT_EQ(Sqlite3File::readBE32(p, nullptr), 0u);
    EXPECT_EQ(Sqlite3File::readBE32(nullptr, end), 0u);
    // An end before the position reads nothing either.
    EXPECT_EQ(Sqlite3File::readU8(p + 3, p + 2), 0);

    uchar dst[16] = {};
    EXPECT_EQ(Sqlite3File::copyBytes(dst, 10, p + 5, end), 3);
    EXPECT_EQ(dst[0], 0xBC);
    EXPECT_EQ(Sqlite3File::copyBytes(dst, 10, end, end), 0);
    EXPECT_EQ(Sqlite3File::copyBytes(dst, -1, p, end), 0);

    EXPECT_EQ(Sqlite3File::bytesAt(3, p + 6, end), QByteArray::fromHex("def0"));
    EXPECT_TRUE(Sqlite3File::bytesAt(3, end, end).isNull());
    EXPECT_TRUE(Sqlite3File::bytesAt(0, p, end).isNull());
}

struct VarintCase
{
    std::string name;
    QByteArray bytes;
    quint64 value;
    int length; // 0: cannot be read
};

class Sqlite3FileVarints : public ::testing::TestWithParam<VarintCase>
{
};

TEST_P(Sqlite3FileVarints, DecodeAsTheFormatDefinesThem)
{
    const VarintCase &c = GetParam();
    quint64 out = 0xDEAD;
    const uchar *p = bytesOf(c.bytes);
    EXPECT_EQ(Sqlite3File::readVarint(out, c.bytes.isEmpty() ? nullptr : p, p + c.bytes.size()), c.length);
    EXPECT_EQ(out, c.length ? c.value : 0xDEADu);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Sqlite3FileVarints,
    ::testing::Values(VarintCase{"one_byte", QByteArray::fromHex("05"), 5, 1},
                      VarintCase{"largest_one_byte", QByteArray::fromHex("7f"), 127, 1},
                      VarintCase{"two_bytes", QByteArray::fromHex("8100"), 128, 2},
                      VarintCase{"three_bytes", QByteArray::fromHex("818000"), 16384, 3},
                      VarintCase{"stops_at_the_first_clear_bit", QByteArray::fromHex("8100ff"), 128, 2},
                      VarintCase{"nine_bytes", QByteArray::fromHex("ffffffffffffffffff"), ~0ull, 9},
                      VarintCase{"ninth_byte_takes_all_eight_bits", QByteArray::fromHex("8080808080808080ff"), 0xFF, 9},
                      VarintCase{"continuation_runs_out", QByteArray::fromHex("81"), 0, 0},
                      VarintCase{"ninth_byte_missing", QByteArray::fromHex("ffffffffffffffff"), 0, 0},
                      VarintCase{"nothing", QByteArray(), 0, 0}),
    CaseName());

TEST(Sqlite3FileReaders, VarintLengthsAndRoundTrips)
{
    const std::vector<std::pair<quint64, int>> cases = {
        {0, 1}, {127, 1}, {128, 2}, {(1ull << 14) - 1, 2}, {1ull << 14, 3}, {1ull << 21, 4}, {1ull << 28, 5},
        {1ull << 35, 6}, {1ull << 42, 7}, {1ull << 49, 8}, {(1ull << 56) - 1, 8}, {1ull << 56, 9}, {~0ull, 9}};
    for (const auto &[value, length] : cases) {
        EXPECT_EQ(Sqlite3File::varintLength(value), length) << value;
        const QByteArray encoded = sqliteVarint(value);
        ASSERT_EQ(encoded.size(), length) << value;
        quint64 out = 0;
        EXPECT_EQ(Sqlite3File::readVarint(out, bytesOf(encoded), bytesOf(encoded) + encoded.size()), length);
        EXPECT_EQ(out, value);
    }
}

// --- opening -----------------------------------------------------------------

struct OpenCase
{
    std::string name;
    QByteArray file; // the whole file
    std::string error; // empty: opens
    int pageSize;
    int usableSize;
};

QByteArray imageWithPageSize(quint16 stored, int pageSize = 512, quint8 reserved = 0)
{
    SqliteImage image(pageSize, 2);
    image.setStoredPageSize(stored);
    image.setReservedBytes(reserved);
    return image.bytes();
}

class Sqlite3FileOpening : public ::testing::TestWithParam<OpenCase>
{
};

TEST_P(Sqlite3FileOpening, AcceptsThePageSizesTheFormatAllows)
{
    const OpenCase &c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.db"));
    writeWholeFile(path, c.file);
    Sqlite3File file(path);
    EXPECT_EQ(errorOf(file), c.error);
    EXPECT_EQ(file.pageSize(), c.pageSize);
    EXPECT_EQ(file.usableSize(), c.usableSize);
    if (c.error.empty()) {
        EXPECT_EQ(file.pageCount(), static_cast<quint32>(c.file.size() / c.pageSize));
    } else {
        // A refused file reads as an empty one.
        EXPECT_EQ(file.pageCount(), 0u);
        EXPECT_EQ(file.readPage(1).page, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Sqlite3FileOpening,
    ::testing::Values(OpenCase{"empty_file", QByteArray(), "invalid page size.", 0, 0},
                      OpenCase{"seventeen_bytes", imageWithPageSize(512).left(17), "invalid page size.", 0, 0},
                      OpenCase{"stored_0", imageWithPageSize(0), "invalid page size.", 0, 0},
                      OpenCase{"stored_256", imageWithPageSize(256), "invalid page size.", 0, 0},
                      OpenCase{"stored_1000", imageWithPageSize(1000), "invalid page size.", 0, 0},
                      OpenCase{"stored_65535", imageWithPageSize(65535), "invalid page size.", 0, 0},
                      OpenCase{"stored_512", imageWithPageSize(512), "", 512, 512},
                      OpenCase{"stored_4096", imageWithPageSize(4096, 4096), "", 4096, 4096},
                      OpenCase{"stored_32768", imageWithPageSize(32768, 32768), "", 32768, 32768},
                      OpenCase{"stored_1_means_65536", imageWithPageSize(1, 65536), "", 65536, 65536},
                      OpenCase{"eighteen_bytes", imageWithPageSize(512).left(18), "", 512, 512},
                      OpenCase{"reserved_leaves_480", imageWithPageSize(512, 512, 32), "", 512, 480},
                      OpenCase{"reserved_leaves_479", imageWithPageSize(512, 512, 33), "invalid page size.", 0, 0}),
    CaseName());

TEST(Sqlite3FileOpen, MissingFilesAndFoldersFailToOpenWithTheirName)
{
    QTemporaryDir dir;
    for (const QString &path : {dir.filePath(QStringLiteral("missing.db")), dir.path()}) {
        Sqlite3File file(path);
        const QString error = QString::fromStdString(errorOf(file));
        EXPECT_TRUE(error.startsWith(QStringLiteral("open %1 failed. ").arg(path))) << error.toStdString();
        EXPECT_EQ(file.pageCount(), 0u);
    }
}

TEST(Sqlite3FileOpen, ClosedReaderSeesAnEmptyFile)
{
    Sqlite3File file(QStringLiteral("never-opened"));
    EXPECT_EQ(file.pageCount(), 0u);
    EXPECT_EQ(file.freelistTrunkPage(), 0u);
    EXPECT_EQ(file.readPage(1).page, nullptr);
    EXPECT_TRUE(file.readFreelistTrunk(1).leaves.isEmpty());
    EXPECT_TRUE(file.scanFreePage(tableColumns(), 0, 1, 0, nullptr).isEmpty());
}

// --- pages, cells and records of real files -------------------------------------

TEST_F(Sqlite3FileRealFile, PageOneHasItsTreeHeaderAfterTheDatabaseHeader)
{
    Sqlite3DB db;
    create(db, 1024);
    db.close();
    Sqlite3File file(path());
    file.open();

    const Page zero = file.readPage(0);
    EXPECT_EQ(zero.pageNo, 0u);
    EXPECT_EQ(zero.page, nullptr);
    EXPECT_EQ(zero.type, 0);
    EXPECT_TRUE(zero.cells.isEmpty());

    const Page first = file.readPage(1);
    EXPECT_EQ(first.page, file.data());
    EXPECT_EQ(first.header, file.data() + 100);
    EXPECT_EQ(first.type, 13);
    ASSERT_EQ(first.cells.size(), 1); // the schema row of t
    const Row schema = file.rowData(file.readCell(first, first.cells[0]));
    ASSERT_EQ(schema.values.size(), 5);
    EXPECT_EQ(schema.values[0].toString(), QStringLiteral("table"));
    EXPECT_EQ(schema.values[1].toString(), QStringLiteral("t"));
    EXPECT_EQ(schema.values[3].toInt(), 2);

    // Beyond the file: the number, nothing else.
    const Page beyond = file.readPage(file.pageCount() + 5);
    EXPECT_EQ(beyond.pageNo, file.pageCount() + 5);
    EXPECT_EQ(beyond.page, nullptr);
    EXPECT_FALSE(beyond.isTreePage());
}

TEST_F(Sqlite3FileRealFile, TreeWalksReachEveryRowInOrderThroughSeveralLevels)
{
    Sqlite3DB db;
    create(db, 1024);
    db.beginTran();
    const int rows = 4000;
    for (int id = 1; id <= rows; ++id)
        insert(db, id, nameOf(id), id * 7 - 3000, QByteArray(20, char('a' + id % 26)));
    db.commitTran();
    const quint32 root = rootPage(db, QStringLiteral("t"));
    const QList<quint32> leaves = pagesOf(db, QStringLiteral("t"), QStringLiteral("leaf"));
    const QList<quint32> interior = pagesOf(db, QStringLiteral("t"), QStringLiteral("internal"));
    ASSERT_GT(interior.size(), 1); // more than one level above the leaves

    Sqlite3File file(path());
    file.open();
    const Page rootRecord = file.readPage(root);
    EXPECT_EQ(rootRecord.type, 5);
    EXPECT_NE(rootRecord.rightChild, 0u);

    const QList<Page> leafRecords = file.leafPages(rootRecord);
    QList<quint32> leafNumbers;
    qint64 expected = 1;
    for (const Page &leaf : leafRecords) {
        leafNumbers.append(leaf.pageNo);
        for (const uchar *cell : leaf.cells) {
            const Row row = file.rowData(file.readCell(leaf, cell));
            ASSERT_EQ(row.rowid, expected);
            ASSERT_EQ(row.values.size(), 4);
            EXPECT_TRUE(row.values[0].isNull()); // the rowid alias
            EXPECT_EQ(row.values[1].toString(), nameOf(expected));
            EXPECT_EQ(row.values[2].toLongLong(), expected * 7 - 3000);
            EXPECT_EQ(row.values[3].toByteArray(), QByteArray(20, char('a' + expected % 26)));
            ++expected;
        }
    }
    EXPECT_EQ(expected, rows + 1); // the right-most subtrees included
    std::sort(leafNumbers.begin(), leafNumbers.end());
    EXPECT_EQ(leafNumbers, leaves);

    const QList<Page> all = file.treePages(rootRecord);
    ASSERT_FALSE(all.isEmpty());
    EXPECT_EQ(all.first().pageNo, root);
    EXPECT_EQ(all.size(), leaves.size() + interior.size());

    // A leaf yields itself.
    const Page leaf = file.readPage(leaves.first());
    ASSERT_EQ(file.leafPages(leaf).size(), 1);
    EXPECT_EQ(file.treePages(leaf).size(), 1);
}

TEST_F(Sqlite3FileRealFile, PayloadsFollowTheirOverflowChain)
{
    Sqlite3DB db;
    create(db, 1024);
    QByteArray big(5000, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 31 + 7);
    insert(db, 1, nameOf(1), 1, big);
    insert(db, 2, nameOf(2), 2);
    const quint32 root = rootPage(db, QStringLiteral("t"));
    db.close();

    Sqlite3File file(path());
    file.open();
    const Page page = file.readPage(root);
    ASSERT_EQ(page.cells.size(), 2);
    const Sqlite3File::_Cell cell = file.readCell(page, page.cells[0]);
    EXPECT_EQ(cell.rowid, 1);
    EXPECT_GT(cell.payloadSize, file.usableSize() - 35);
    EXPECT_NE(cell.overflowPage, 0u);
    EXPECT_EQ(cell.cellSize, static_cast<quint32>(Sqlite3File::varintLength(cell.payloadSize) + 1) + cell.localSize + 4);
    EXPECT_EQ(file.cellPayload(cell).size(), cell.payloadSize);
    EXPECT_EQ(file.rowData(cell).values.value(3).toByteArray(), big);

    const Sqlite3File::_Cell small = file.readCell(page, page.cells[1]);
    EXPECT_EQ(small.overflowPage, 0u);
    EXPECT_EQ(small.localSize, static_cast<quint32>(small.payloadSize));
}

TEST_F(Sqlite3FileRealFile, FreedPagesAreListedOnTrunkPages)
{
    Sqlite3DB db;
    create(db, 1024);
    db.beginTran();
    for (int id = 1; id <= 600; ++id)
        insert(db, id, nameOf(id), id, QByteArray(40, 'x'));
    db.commitTran();
    db.executeThrow("DROP TABLE t");
    db.close();

    Sqlite3File file(path());
    file.open();
    ASSERT_GT(file.freelistTrunkPage(), 0u);
    quint32 listed = 0;
    QSet<quint32> pages;
    for (quint32 trunk = file.freelistTrunkPage(); trunk > 0;) {
        const Sqlite3File::_Trunk t = file.readFreelistTrunk(trunk);
        EXPECT_EQ(t.pageNo, trunk);
        listed += 1 + t.leaves.size();
        pages.insert(trunk);
        for (quint32 leaf : t.leaves)
            pages.insert(leaf);
        trunk = t.nextTrunk;
    }
    EXPECT_EQ(listed, file.freelistPageCount());
    EXPECT_EQ(pages.size(), static_cast<int>(listed));
    EXPECT_TRUE(file.readFreelistTrunk(0).leaves.isEmpty());
    EXPECT_EQ(file.readFreelistTrunk(0).page, nullptr);
}

// --- records of chosen bytes ---------------------------------------------------

TEST(Sqlite3FileRecords, SerialTypesDecodeToTheirValues)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.db"));
    const QList<SqliteField> fields = {
        SqliteField::null(),
        SqliteField::integerAs(1, -1),
        SqliteField::integerAs(2, -300),
        {3, QByteArray::fromHex("fffffe")},
        SqliteField::integerAs(4, 2147483647),
        {5, QByteArray::fromHex("000001000000")},
        SqliteField::integerAs(6, std::numeric_limits<qint64>::min()),
        {7, QByteArray::fromHex("3ff0000000000000")},
        {8, {}},
        {9, {}},
        {10, {}},
        {11, {}},
        SqliteField::blob(QByteArray::fromHex("00ff10")),
        SqliteField::blob(QByteArray()),
        SqliteField::text(QByteArray("ab\0cd", 5)),
        SqliteField::text(QStringLiteral("gr\u00fc\u00dfe").toUtf8()),
    };
    SqliteImage image(512, 2);
    image.setLeafPage(2, {sqliteLeafCell(77, sqliteRecord(fields))});
    image.write(path);

    Sqlite3File file(path);
    file.open();
    const Page page = file.readPage(2);
    ASSERT_EQ(page.cells.size(), 1);
    const Row row = file.rowData(file.readCell(page, page.cells[0]));
    EXPECT_EQ(row.rowid, 77);
    ASSERT_EQ(row.values.size(), fields.size());
    const QList<QVariant> expected = {QVariant(),
                                      QVariant(-1),
                                      QVariant(-300),
                                      QVariant(-2),
                                      QVariant(2147483647),
                                      QVariant(qlonglong(16777216)),
                                      QVariant(qlonglong(std::numeric_limits<qint64>::min())),
                                      QVariant(1.0),
                                      QVariant(0),
                                      QVariant(1),
                                      QVariant(),
                                      QVariant(),
                                      QVariant(QByteArray::fromHex("00ff10")),
                                      QVariant(QByteArray()),
                                      QVariant(QStringLiteral("ab")),
                                      QVariant(QStringLiteral("gr\u00fc\u00dfe"))};
    for (int i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(row.values[i].metaType(), expected[i].metaType()) << i;
        EXPECT_EQ(row.values[i], expected[i]) << i;
    }
}

struct DamagedRecordCase
{
    std::string name;
    QByteArray payload;       // stored as the cell's whole payload
    int values;               // values decoded
    QString warning;          // logged once; empty: none
    QVariant last;            // the last value, when values > 0
};

class Sqlite3FileDamagedRecords : public ::testing::TestWithParam<DamagedRecordCase>
{
};

TEST_P(Sqlite3FileDamagedRecords, GiveShortValuesOrNoneNeverMore)
{
    const DamagedRecordCase &c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.db"));
    SqliteImage image(512, 2);
    image.setLeafPage(2, {sqliteLeafCell(5, c.payload)});
    image.write(path);

    LogRecorder log(QtWarningMsg);
    Sqlite3File file(path);
    file.open();
    const Page page = file.readPage(2);
    ASSERT_EQ(page.cells.size(), 1);
    const Row row = file.rowData(file.readCell(page, page.cells[0]));
    EXPECT_EQ(row.rowid, 5);
    ASSERT_EQ(row.values.size(), c.values);
    if (c.values > 0) {
        EXPECT_EQ(row.values.last(), c.last);
    }
    EXPECT_EQ(log.lines().size(), c.warning.isEmpty() ? 0 : 1);
    if (!c.warning.isEmpty()) {
        EXPECT_EQ(log.count(c.warning), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Sqlite3FileDamagedRecords,
    ::testing::Values(
        DamagedRecordCase{"header_length_runs_out", QByteArray::fromHex("81"), 0,
                          QStringLiteral("Sqlite3File::rowData, read header length failed."), {}},
        DamagedRecordCase{"header_longer_than_payload", QByteArray::fromHex("7f0101"), 0,
                          QStringLiteral("Sqlite3File::rowData, read column type failed."), {}},
        DamagedRecordCase{"type_runs_out", QByteArray::fromHex("030181"), 0,
                          QStringLiteral("Sqlite3File::rowData, read column type failed."), {}},
        DamagedRecordCase{"text_cut_at_payload_end", QByteArray::fromHex("021b") + "abc", 1, QString(),
                          QVariant(QStringLiteral("abc"))},
        DamagedRecordCase{"number_past_end_reads_0", QByteArray::fromHex("0206") + QByteArray(3, '\x01'), 1,
                          QString(), QVariant(qlonglong(0))},
        DamagedRecordCase{"absurd_blob_length_is_cut", QByteArray::fromHex("0affffffffffffffff7e") + "xy", 1,
                          QString(), QVariant(QByteArray("xy"))}),
    CaseName());

TEST(Sqlite3FileRecords, TableLeafCellsOfIndexAndInteriorPages)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.db"));
    SqliteImage image(512, 4);
    const QByteArray record = sqliteRecord({SqliteField::text("key"), SqliteField::integer(9)});
    // An index leaf cell has no rowid.
    image.setLeafPage(2, {sqliteVarint(record.size()) + record}, 10);
    image.setInteriorPage(3, {{2, 1000}}, 4);
    image.setLeafPage(4, {});
    image.write(path);

    Sqlite3File file(path);
    file.open();
    const Page index = file.readPage(2);
    ASSERT_TRUE(index.isIndex());
    ASSERT_EQ(index.cells.size(), 1);
    const Sqlite3File::_Cell ic = file.readCell(index, index.cells[0]);
    EXPECT_EQ(ic.rowid, 0);
    EXPECT_EQ(ic.payloadSize, record.size());
    EXPECT_EQ(file.rowData(ic).values.value(0).toString(), QStringLiteral("key"));

    const Page interior = file.readPage(3);
    ASSERT_EQ(interior.cells.size(), 1);
    const Sqlite3File::_Cell cc = file.readCell(interior, interior.cells[0]);
    EXPECT_EQ(cc.leftChild, 2u);
    EXPECT_EQ(cc.rowid, 1000);
    EXPECT_EQ(cc.payloadSize, 0);
    EXPECT_EQ(cc.cellSize, 6u);
    EXPECT_EQ(interior.rightChild, 4u);

    // A cell pointer of another page is no cell of this one.
    EXPECT_EQ(file.readCell(interior, index.cells[0]).payloadSize, 0);
    EXPECT_EQ(file.readCell(interior, nullptr).cellSize, 0u);
}

// --- hostile pages -------------------------------------------------------------

class Sqlite3FileHostileImage : public ::testing::Test
{
protected:
    QString write(const SqliteImage &image)
    {
        const QString path = m_dir.filePath(QStringLiteral("h%1.db").arg(m_count++));
        image.write(path);
        return path;
    }
    QTemporaryDir m_dir;
    int m_count = 0;
};

TEST_F(Sqlite3FileHostileImage, FreeblockChainsEndOnARepeatOrWhenTheyLeaveThePage)
{
    struct Case
    {
        const char *name;
        QList<QPair<int, int>> blocks; // offset -> next
        int first;
        QList<int> expected;
    };
    const QList<Case> cases = {
        {"ordered", {{200, 300}, {300, 0}}, 200, {200, 300}},
        {"self_loop", {{200, 200}}, 200, {200}},
        {"back_loop", {{200, 300}, {300, 200}}, 200, {200, 300}},
        {"overlapping_next", {{200, 202}}, 200, {200}},
        {"past_the_page", {{200, 600}}, 200, {200}},
        {"last_bytes_of_the_page", {}, 510, {}},
        {"inside_the_header", {}, 4, {}},
    };
    for (const Case &c : cases) {
        SqliteImage image(512, 2);
        image.setLeafPage(2, {});
        image.putBE16(2, 1, static_cast<quint16>(c.first));
        for (const auto &[at, next] : c.blocks) {
            image.putBE16(2, at, static_cast<quint16>(next));
            image.putBE16(2, at + 2, 0xFFFF); // an absurd size as well
        }
        Sqlite3File file(write(image));
        file.open();
        const Page page = file.readPage(2);
        QList<int> offsets;
        for (const uchar *b : page.freeblocks)
            offsets.append(static_cast<int>(b - page.page));
        EXPECT_EQ(offsets, c.expected) << c.name;
        // The absurd sizes are cut at the page's end.
        EXPECT_NO_FATAL_FAILURE(file.scanPageFreeSpace(tableColumns(), 0, page, nullptr)) << c.name;
    }
}

TEST_F(Sqlite3FileHostileImage, CellCountsAndPointersStayOnTheirPage)
{
    SqliteImage image(512, 3);
    const QByteArray cell = sqliteLeafCell(1, sqliteRecord({SqliteField::null(), SqliteField::text("x")}));
    image.setLeafPage(2, {cell, cell});
    image.putBE16(2, 3, 0xFFFF);        // far more cells than fit
    image.putBE16(2, 8 + 2 * 2, 0xFFFF); // a pointer past the page
    image.putBE16(2, 8 + 2 * 3, 3);      // a pointer into the header
    Sqlite3File file(write(image));
    file.open();
    const Page page = file.readPage(2);
    EXPECT_LE(page.cells.size(), (512 - 8) / 2);
    for (const uchar *c : page.cells) {
        EXPECT_GE(c, page.page + 8);
        EXPECT_LT(c, page.page + 512);
        const Sqlite3File::_Cell cc = file.readCell(page, c);
        (void)file.rowData(cc);
    }
}

TEST_F(Sqlite3FileHostileImage, ChildPointersThatLoopOrLeaveTheFileAreNotFollowedTwice)
{
    SqliteImage image(512, 6);
    // 2 -> (3, 99999, 0), right 2 (itself); 3 -> (2, ancestor), right 4; 5 is
    // reached twice, through 3 and through 2's cell.
    image.setInteriorPage(2, {{3, 10}, {99999, 20}, {0, 30}, {5, 35}}, 2);
    image.setInteriorPage(3, {{2, 5}, {5, 6}}, 4);
    image.setLeafPage(4, {});
    image.setLeafPage(5, {});
    Sqlite3File file(write(image));
    file.open();
    const Page top = file.readPage(2);
    QList<quint32> leaves;
    for (const Page &p : file.leafPages(top))
        leaves.append(p.pageNo);
    EXPECT_EQ(leaves, (QList<quint32>{5, 4}));
    QList<quint32> tree;
    for (const Page &p : file.treePages(top))
        tree.append(p.pageNo);
    EXPECT_EQ(tree, (QList<quint32>{2, 3, 5, 4}));

    // No tree page: no leaves, itself only.
    const Page blank = file.readPage(6);
    EXPECT_TRUE(file.leafPages(blank).isEmpty());
    EXPECT_EQ(file.treePages(blank).size(), 1);
}

TEST_F(Sqlite3FileHostileImage, ALongChainOfInteriorPagesIsWalkedWithoutRecursion)
{
    const int depth = 20000;
    SqliteImage image(512, depth + 2);
    for (int n = 2; n <= depth; ++n)
        image.setInteriorPage(n, {}, static_cast<quint32>(n + 1));
    image.setLeafPage(depth + 1, {});
    Sqlite3File file(write(image));
    file.open();
    const QList<Page> leaves = file.leafPages(file.readPage(2));
    ASSERT_EQ(leaves.size(), 1);
    EXPECT_EQ(leaves[0].pageNo, static_cast<quint32>(depth + 1));
    EXPECT_EQ(file.treePages(file.readPage(2)).size(), depth);
}

TEST_F(Sqlite3FileHostileImage, TrunkLeafCountsAreCappedAtWhatAPageHolds)
{
    SqliteImage image(512, 3);
    image.setTrunkPage(2, 2, {3, 4, 5}, 0xFFFFFFFF);
    Sqlite3File file(write(image));
    file.open();
    const Sqlite3File::_Trunk t = file.readFreelistTrunk(2);
    EXPECT_EQ(t.nextTrunk, 2u);
    EXPECT_EQ(t.leaves.size(), 512 / 4 - 2);
    EXPECT_EQ(t.leaves.mid(0, 3), (QList<quint32>{3, 4, 5}));
    EXPECT_TRUE(file.readFreelistTrunk(4).leaves.isEmpty()); // past the file
}

TEST_F(Sqlite3FileHostileImage, OverflowChainsEndOnARepeatOrPastThePageCount)
{
    struct Case
    {
        const char *name;
        quint32 first;
        quint32 next; // page 3's link
        int pagesTaken;
    };
    const QList<Case> cases = {
        {"cycle_to_itself", 3, 3, 1},
        {"past_the_file", 99, 0, 0},
        {"to_page_one", 1, 0, 0},
        {"chain_into_the_void", 3, 12345, 1},
    };
    for (const Case &c : cases) {
        SqliteImage image(512, 3);
        // A cell claiming a 2^40-byte payload.
        const quint64 claimed = 1ull << 40;
        QByteArray cell = sqliteVarint(claimed) + sqliteVarint(1);
        const int local = (512 - 12) * 32 / 255 - 23 + static_cast<int>((claimed - 39) % 508);
        const int localSize = local <= 512 - 35 ? local : 39;
        cell += QByteArray(localSize, 'l');
        cell += QByteArray::fromHex("00000000");
        image.setLeafPage(2, {cell});
        const int at = 512 - cell.size() + (cell.size() - 4);
        image.putBE32(2, at, c.first);
        image.putBE32(3, 0, c.next);
        Sqlite3File file(write(image));
        file.open();
        const Page page = file.readPage(2);
        ASSERT_EQ(page.cells.size(), 1) << c.name;
        const Sqlite3File::_Cell cc = file.readCell(page, page.cells[0]);
        EXPECT_EQ(cc.localSize, static_cast<quint32>(localSize)) << c.name;
        EXPECT_EQ(cc.overflowPage, c.first) << c.name;
        EXPECT_EQ(file.cellPayload(cc).size(), localSize + c.pagesTaken * (512 - 4)) << c.name;
        (void)file.rowData(cc);
    }
}

// --- carving -------------------------------------------------------------------

TEST(Sqlite3FileCarving, OneColumnDescribesNoRecord)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.db"));
    SqliteImage(512, 2).write(path);
    Sqlite3File file(path);
    file.open();
    LogRecorder log(QtWarningMsg);
    const QList<_SqliteCol> one = {_SqliteCol(QStringLiteral("id"), QStringLiteral("INTEGER"))};
    EXPECT_TRUE(file.scanFreePage(one, 0, 2, 0, nullptr).isEmpty());
    // Once per call: a line per byte would bury the log.
    EXPECT_EQ(log.count(QStringLiteral("tbCols size < 2.")), 1);
}

struct AcceptCase
{
    std::string name;
    QString declared;
    bool notNull;
    SqliteField field;
    QVariant value; // as carved, when accepted
    bool accepted;
};

class Sqlite3FileCarvedTypes : public ::testing::TestWithParam<AcceptCase>
{
};

// A record of a table (id, x, y INTEGER) with y = 7, among 0xFF bytes, which
// no column accepts as a serial type (they make a nine-byte varint of a
// length no file holds).
TEST_P(Sqlite3FileCarvedTypes, FollowTheColumnsAffinity)
{
    const AcceptCase &c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.db"));
    SqliteImage image(512, 2);
    image.put(2, 0, QByteArray(512, '\xff'));
    const QList<SqliteField> record = {c.field, SqliteField::integerAs(1, 7)};
    const QByteArray bytes = sqliteSerialTypes(record) + sqliteBody(record);
    image.put(2, 100, bytes);
    image.write(path);

    Sqlite3File file(path);
    file.open();
    const QList<_SqliteCol> cols = {_SqliteCol(QStringLiteral("id"), QStringLiteral("INTEGER"), false, false, true),
                                    _SqliteCol(QStringLiteral("x"), c.declared, c.notNull),
                                    _SqliteCol(QStringLiteral("y"), QStringLiteral("INTEGER"))};
    const QList<Row> rows = file.scanFreePage(cols, 0, 2, 0, nullptr);
    bool found = false;
    for (const Row &row : rows) {
        if (row.values.size() == 3 && row.values[1].metaType() == c.value.metaType() && row.values[1] == c.value
            && row.values[2] == QVariant(7))
            found = true;
    }
    EXPECT_EQ(found, c.accepted);
    if (c.accepted) {
        ASSERT_FALSE(rows.isEmpty());
        EXPECT_TRUE(rows[0].values[0].isNull());
        EXPECT_EQ(rows[0].rowid, 0); // nothing in front of it tells the rowid
    }
}

TEST(Sqlite3FileCarving, ACandidateOfNothingButNullsIsNoRow)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.db"));
    SqliteImage(512, 2).write(path); // page 2 is all zeros
    Sqlite3File file(path);
    file.open();
    const QList<_SqliteCol> cols = {_SqliteCol(QStringLiteral("id"), QStringLiteral("INTEGER"), false, false, true),
                                    _SqliteCol(QStringLiteral("x"), QStringLiteral("TEXT")),
                                    _SqliteCol(QStringLiteral("y"), QStringLiteral("INTEGER"))};
    EXPECT_TRUE(file.scanFreePage(cols, 0, 2, 0, nullptr).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Sqlite3FileCarvedTypes,
    ::testing::Values(
        AcceptCase{"integer_takes_integers", "INTEGER", false, SqliteField::integerAs(2, 300), QVariant(300), true},
        AcceptCase{"integer_takes_0_and_1", "INTEGER", false, {9, {}}, QVariant(1), true},
        AcceptCase{"integer_takes_null", "INTEGER", false, SqliteField::null(), QVariant(), true},
        AcceptCase{"not_null_refuses_null", "INTEGER", true, SqliteField::null(), QVariant(), false},
        AcceptCase{"integer_refuses_text", "INTEGER", false, SqliteField::text("abc"), QVariant(QStringLiteral("abc")), false},
        AcceptCase{"integer_refuses_real", "INTEGER", false, SqliteField::real(2.5), QVariant(2.5), false},
        AcceptCase{"text_takes_text", "TEXT", false, SqliteField::text("abc"), QVariant(QStringLiteral("abc")), true},
        AcceptCase{"varchar_takes_text", "VARCHAR(20)", false, SqliteField::text("abc"), QVariant(QStringLiteral("abc")), true},
        AcceptCase{"text_refuses_blob", "TEXT", false, SqliteField::blob("abc"), QVariant(QByteArray("abc")), false},
        AcceptCase{"text_refuses_integer", "TEXT", false, SqliteField::integerAs(1, 5), QVariant(5), false},
        AcceptCase{"blob_takes_blob", "BLOB", false, SqliteField::blob("abc"), QVariant(QByteArray("abc")), true},
        AcceptCase{"untyped_takes_blob", "", false, SqliteField::blob("abc"), QVariant(QByteArray("abc")), true},
        AcceptCase{"blob_refuses_text", "BLOB", false, SqliteField::text("abc"), QVariant(QStringLiteral("abc")), false},
        AcceptCase{"real_takes_real", "REAL", false, SqliteField::real(2.5), QVariant(2.5), true},
        AcceptCase{"real_refuses_integer", "REAL", false, SqliteField::integerAs(1, 5), QVariant(5), false},
        AcceptCase{"numeric_takes_integer", "NUMERIC", false, SqliteField::integerAs(1, 5), QVariant(5), true},
        AcceptCase{"numeric_takes_real", "DECIMAL(5,2)", false, SqliteField::real(2.5), QVariant(2.5), true},
        AcceptCase{"numeric_refuses_text", "NUMERIC", false, SqliteField::text("5"), QVariant(QStringLiteral("5")), false},
        AcceptCase{"reserved_types_fit_anything", "TEXT", true, {10, {}}, QVariant(), true}),
    CaseName());


// --- carving real deletions ------------------------------------------------------

const Row *rowNamed(const QList<Row> &rows, const QString &name)
{
    for (const Row &row : rows) {
        if (row.values.size() == 4 && row.values[1].toString() == name)
            return &row;
    }
    return nullptr;
}

TEST_F(Sqlite3FileRealFile, DeletedRowsAreCarvedFromTheUnallocatedAreaAndFreeblocks)
{
    Sqlite3DB db;
    create(db, 1024);
    for (qint64 id = 300; id <= 305; ++id)
        insert(db, id, nameOf(id), id * 1000, QByteArray(3, char(id)));
    const quint32 root = rootPage(db, QStringLiteral("t"));
    // 305 lies at the start of the cell content, 302 and 301 next to each
    // other: their freeblocks merge, and the second keeps its cell's prefix.
    db.executeThrow("DELETE FROM t WHERE id IN (305)");
    db.executeThrow("DELETE FROM t WHERE id IN (302)");
    db.executeThrow("DELETE FROM t WHERE id IN (301)");
    db.close();

    Sqlite3File file(path());
    file.open();
    const Page page = file.readPage(root);
    ASSERT_EQ(page.cells.size(), 3);
    ASSERT_EQ(page.freeblocks.size(), 1);
    const QList<Row> rows = file.scanPageFreeSpace(tableColumns(), 0, page, nullptr);
    struct Expect
    {
        qint64 id;
        qint64 rowid; // 0: the freeblock's own header overwrote the prefix
    };
    for (const Expect &e : {Expect{305, 0}, Expect{302, 0}, Expect{301, 301}}) {
        const Row *row = rowNamed(rows, nameOf(e.id));
        ASSERT_NE(row, nullptr) << e.id;
        EXPECT_EQ(row->rowid, e.rowid) << e.id;
        EXPECT_EQ(row->values[2].toLongLong(), e.id * 1000);
        EXPECT_EQ(row->values[3].toByteArray(), QByteArray(3, char(e.id)));
    }
    for (qint64 live : {300, 303, 304})
        EXPECT_EQ(rowNamed(rows, nameOf(live)), nullptr) << live;
}

TEST_F(Sqlite3FileRealFile, EmptiedTablesLeaveWholeCellsOnFreedLeafPages)
{
    Sqlite3DB db;
    create(db, 1024);
    db.beginTran();
    const int rows = 2000;
    for (int id = 1; id <= rows; ++id)
        insert(db, id, nameOf(id), id);
    db.commitTran();
    db.executeThrow("DELETE FROM t");
    db.close();

    Sqlite3File file(path());
    file.open();
    QSet<qint64> found;
    QSet<quint32> seen;
    for (quint32 trunk = file.freelistTrunkPage(); trunk > 0 && !seen.contains(trunk);) {
        seen.insert(trunk);
        const Sqlite3File::_Trunk t = file.readFreelistTrunk(trunk);
        for (quint32 n : t.leaves) {
            const Page page = file.readPage(n);
            if (page.type != 13)
                continue;
            for (const uchar *cell : page.cells) {
                const Row row = file.rowData(file.readCell(page, cell));
                ASSERT_EQ(row.values.value(1).toString(), nameOf(row.rowid));
                found.insert(row.rowid);
            }
        }
        trunk = t.nextTrunk;
    }
    // All but the rows of the page that became the trunk.
    EXPECT_GT(found.size(), rows * 9 / 10);
}

TEST_F(Sqlite3FileRealFile, SpilledRecordsAreCarvedWithTheirOverflowPages)
{
    Sqlite3DB db;
    create(db, 4096);
    // Freed pages join an existing trunk as leaves and keep their bytes.
    db.executeThrow("CREATE TABLE junk(x)");
    for (int i = 0; i < 8; ++i)
        db.executeThrow("INSERT INTO junk VALUES(zeroblob(3000))");
    db.executeThrow("DROP TABLE junk");
    QString longName;
    for (int i = 0; i < 9000; ++i)
        longName.append(QChar(u'a' + i % 26));
    insert(db, 1, nameOf(1), 1);
    insert(db, 2, longName, 2, QByteArray("tail"));
    insert(db, 3, nameOf(3), 3);
    const quint32 root = rootPage(db, QStringLiteral("t"));
    db.executeThrow("DELETE FROM t WHERE id=2");
    db.close();

    Sqlite3File file(path());
    file.open();
    const QList<Row> rows = file.scanPageFreeSpace(tableColumns(), 0, file.readPage(root), nullptr);
    const Row *row = rowNamed(rows, longName);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->values[2].toInt(), 2);
    EXPECT_EQ(row->values[3].toByteArray(), QByteArray("tail"));
}

// --- carving chosen bytes ----------------------------------------------------------

class Sqlite3FileCarvedBytes : public ::testing::Test
{
protected:
    // Page 2 of 0xFF filler with bytes at an offset.
    QList<Row> carve(const QByteArray &bytes, int at, int from = 0, int to = 512,
                     Sqlite3File::RowFilter filter = nullptr)
    {
        SqliteImage image(512, 3);
        image.put(2, 0, QByteArray(512, '\xff'));
        image.put(3, 0, QByteArray(512, 'X'));
        image.put(2, at, bytes);
        const QString path = m_dir.filePath(QStringLiteral("c%1.db").arg(m_count++));
        image.write(path);
        Sqlite3File file(path);
        file.open();
        const uchar *page = file.readPage(2).page;
        return file.scanRows(tableColumns(), 0, file.usableSize(), page + from, page + to, filter);
    }

    static QList<SqliteField> fields(const QByteArray &name, qint64 n)
    {
        return {SqliteField::null(), SqliteField::text(name), SqliteField::integer(n), SqliteField::blob("b")};
    }
    static QByteArray cellOf(qint64 rowid, const QList<SqliteField> &f) { return sqliteLeafCell(rowid, sqliteRecord(f)); }
    // Where column 1's serial type lies in cellOf(rowid, f).
    static int typesAt(qint64 rowid, const QList<SqliteField> &f)
    {
        const QByteArray record = sqliteRecord(f);
        return sqliteVarint(record.size()).size() + sqliteVarint(rowid).size() + 2;
    }

    QTemporaryDir m_dir;
    int m_count = 0;
};

TEST_F(Sqlite3FileCarvedBytes, TheRowidComesFromAWholeCellPrefixOnly)
{
    const QList<SqliteField> f = fields("prefix", 77);
    const QByteArray cell = cellOf(300, f);
    struct Case
    {
        const char *name;
        QByteArray bytes;
        int from; // range start within page 2
        qint64 rowid;
    };
    QByteArray badSize = cell;
    badSize[0] = static_cast<char>(badSize[0] + 1);
    QByteArray badHeader = cell;
    badHeader[3] = static_cast<char>(badHeader[3] + 1);
    QByteArray col0NotNull = cell;
    col0NotNull[4] = 9;
    const QList<Case> cases = {
        {"whole_prefix", cell, 0, 300},
        {"payload_size_disagrees", badSize, 0, 0},
        {"header_length_disagrees", badHeader, 0, 0},
        {"column_0_holds_a_value", col0NotNull, 0, 0},
        {"prefix_cut_by_the_range", cell, 100 + 2, 0},
    };
    for (const Case &c : cases) {
        const QList<Row> rows = carve(c.bytes, 100, c.from);
        const Row *row = rowNamed(rows, QStringLiteral("prefix"));
        ASSERT_NE(row, nullptr) << c.name;
        EXPECT_EQ(row->rowid, c.rowid) << c.name;
        EXPECT_EQ(row->values[2].toInt(), 77) << c.name;
    }
}

// One reader carves with many column lists in turn: each scan follows the
// list it is given, also after other lists and after a change to the list.
TEST_F(Sqlite3FileCarvedBytes, EveryScanFollowsTheColumnsItIsGiven)
{
    SqliteImage image(512, 3);
    image.put(2, 0, QByteArray(512, '\xff'));
    image.put(3, 0, QByteArray(512, 'X'));
    image.put(2, 100, cellOf(300, fields("prefix", 77)));
    const QString path = m_dir.filePath(QStringLiteral("lists.db"));
    image.write(path);
    Sqlite3File file(path);
    file.open();
    const uchar *page = file.readPage(2).page;
    const auto found = [&](const QList<_SqliteCol> &columns) {
        return rowNamed(file.scanRows(columns, 0, file.usableSize(), page, page + 512, nullptr),
                        QStringLiteral("prefix"))
               != nullptr;
    };
    // The same shape with the name column declared as a number takes no
    // text there, so the row is not found.
    const auto withNameType = [](const char *type) {
        QList<_SqliteCol> columns = tableColumns();
        columns[1] = _SqliteCol(QStringLiteral("name"), QLatin1String(type));
        return columns;
    };

    QList<_SqliteCol> columns = tableColumns();
    EXPECT_TRUE(found(columns));
    const char *const others[] = {"INTEGER", "REAL", "INT", "NUMERIC", "BIGINT", "VARCHAR(20)"};
    for (const char *type : others) {
        SCOPED_TRACE(type);
        EXPECT_EQ(found(withNameType(type)), QByteArray(type).startsWith("VARCHAR"));
    }
    EXPECT_TRUE(found(columns));
    // Changed in place after a scan, the list carves by its new columns.
    columns[1] = _SqliteCol(QStringLiteral("name"), QStringLiteral("INTEGER"));
    EXPECT_FALSE(found(columns));
    columns[1] = _SqliteCol(QStringLiteral("name"), QStringLiteral("TEXT"));
    EXPECT_TRUE(found(columns));
}

TEST_F(Sqlite3FileCarvedBytes, TypesPastTheRangeAreRefusedAndBodiesPastItAreCut)
{
    const QList<SqliteField> f = fields("abcdefghij", 77);
    const QByteArray cell = cellOf(5, f);
    const int types = 100 + typesAt(5, f);
    // The range ends inside the serial types: nothing.
    EXPECT_EQ(rowNamed(carve(cell, 100, 0, types + 2), QStringLiteral("abcdefghij")), nullptr);
    // It ends inside the name: the name is cut, the rest reads as 0 or empty.
    const QList<Row> cut = carve(cell, 100, 0, types + 3 + 4);
    ASSERT_FALSE(cut.isEmpty());
    bool found = false;
    for (const Row &row : cut) {
        if (row.values.value(1).toString() == QStringLiteral("abcd")) {
            found = true;
            EXPECT_EQ(row.values[2].toInt(), 0);
            EXPECT_EQ(row.values[3].toByteArray(), QByteArray());
        }
    }
    EXPECT_TRUE(found);
}

bool onlyWanted(const Row &row)
{
    return row.values.value(1).toString() == QStringLiteral("wanted");
}

TEST_F(Sqlite3FileCarvedBytes, AFilterDecidesWhichRowsAreKept)
{
    const QByteArray both = cellOf(1, fields("other", 1)) + cellOf(2, fields("wanted", 2));
    const QList<Row> all = carve(both, 40);
    EXPECT_NE(rowNamed(all, QStringLiteral("other")), nullptr);
    EXPECT_NE(rowNamed(all, QStringLiteral("wanted")), nullptr);

    const QList<Row> kept = carve(both, 40, 0, 512, &onlyWanted);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].rowid, 2);
    EXPECT_EQ(kept[0].values[2].toInt(), 2);
}

TEST_F(Sqlite3FileCarvedBytes, ZerosAreNoRowAndDoNotCarryTheScanPastTheNextRecord)
{
    // Zeros are NULL types, which these columns take, so every 3 zero bytes
    // would make a row of nothing. The record's types begin 5 bytes after
    // the start of the last such row, inside the 4 bytes a jump past that
    // row would skip.
    const QList<SqliteField> f = fields("after the nulls", 12);
    const QByteArray record = sqliteSerialTypes(f.mid(1)) + sqliteBody(f.mid(1));
    for (int rowsBefore : {1, 5, 20}) {
        SqliteImage image(512, 2);
        const int at = 8 + 3 * rowsBefore + 5;
        image.put(2, at, record);
        const QString path = m_dir.filePath(QStringLiteral("z%1.db").arg(rowsBefore));
        image.write(path);
        Sqlite3File file(path);
        file.open();
        const QList<Row> rows = file.scanFreePage(tableColumns(), 0, 2, 8, nullptr);
        const Row *row = rowNamed(rows, QStringLiteral("after the nulls"));
        ASSERT_NE(row, nullptr) << rowsBefore;
        EXPECT_EQ(row->values[2].toInt(), 12);
        for (const Row &r : rows) {
            bool anyValue = false;
            for (const QVariant &v : r.values)
                anyValue = anyValue || v.isValid();
            EXPECT_TRUE(anyValue) << rowsBefore;
        }
    }
}

TEST_F(Sqlite3FileCarvedBytes, ACandidateRunningIntoARecordDoesNotHideIt)
{
    // NULL, NULL and a 5-byte blob: a row whose content is the first five
    // bytes of the record behind it.
    const QList<SqliteField> f = fields("hidden", 4);
    const QByteArray record = sqliteSerialTypes(f.mid(1)) + sqliteBody(f.mid(1));
    const QList<Row> rows = carve(QByteArray::fromHex("000016") + record, 100);
    ASSERT_FALSE(rows.isEmpty());
    EXPECT_EQ(rows[0].values[3].toByteArray(), record.left(5));
    const Row *row = rowNamed(rows, QStringLiteral("hidden"));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->values[2].toInt(), 4);
}

TEST_F(Sqlite3FileCarvedBytes, AFreePageIsCarvedUpToItsOwnEnd)
{
    const QList<SqliteField> f = {SqliteField::null(), SqliteField::text(QByteArray(20, 'n')), {9, {}},
                                  SqliteField::null()};
    const QByteArray types = sqliteSerialTypes(f.mid(1));
    SqliteImage image(512, 3);
    image.put(2, 0, QByteArray(512, '\xff'));
    image.put(2, 500, types + QByteArray(512 - 500 - types.size(), 'n'));
    image.put(3, 0, QByteArray(512, 'X'));
    const QString path = m_dir.filePath(QStringLiteral("edge.db"));
    image.write(path);
    Sqlite3File file(path);
    file.open();
    for (int offset : {0, 8}) {
        const QList<Row> rows = file.scanFreePage(tableColumns(), 0, 2, offset, nullptr);
        ASSERT_FALSE(rows.isEmpty());
        EXPECT_EQ(rows[0].values[1].toString(), QString(512 - 503, u'n')) << offset;
    }
    EXPECT_TRUE(file.scanFreePage(tableColumns(), 0, 0, 0, nullptr).isEmpty());
    EXPECT_TRUE(file.scanFreePage(tableColumns(), 0, 4, 0, nullptr).isEmpty());
}

TEST_F(Sqlite3FileCarvedBytes, InteriorAndOtherPagesAreCarvedFromOffsetEight)
{
    SqliteImage image(512, 3);
    image.put(2, 0, QByteArray(512, '\xff'));
    image.put(2, 2, cellOf(8, fields("early", 3))); // column 1's type lies before offset 8
    image.put(2, 300, cellOf(9, fields("inside", 3)));
    const QString path = m_dir.filePath(QStringLiteral("other.db"));
    image.write(path);
    Sqlite3File file(path);
    file.open();
    const Page page = file.readPage(2);
    ASSERT_FALSE(page.isTreePage());
    const QList<Row> rows = file.scanPageFreeSpace(tableColumns(), 0, page, nullptr);
    EXPECT_EQ(rowNamed(rows, QStringLiteral("early")), nullptr);
    const Row *inside = rowNamed(rows, QStringLiteral("inside"));
    ASSERT_NE(inside, nullptr);
    EXPECT_EQ(inside->rowid, 9);
}

// --- damaged whole files --------------------------------------------------------

// Reads everything a scan could read, and carves every page both ways.
void readEverything(const Sqlite3File &file)
{
    const quint32 pages = std::min<quint32>(file.pageCount() + 2, 4000);
    for (quint32 n = 0; n <= pages; ++n) {
        const Page page = file.readPage(n);
        for (const uchar *cell : page.cells)
            (void)file.rowData(file.readCell(page, cell));
        // Leaves walk nowhere; walking from every page would only repeat the
        // walks from the interior pages.
        if (page.isTreePage() && !page.isLeaf()) {
            (void)file.leafPages(page);
            (void)file.treePages(page);
        }
        (void)file.scanPageFreeSpace(tableColumns(), 0, page, nullptr);
        (void)file.scanFreePage(tableColumns(), 0, n, 0, nullptr);
    }
    QSet<quint32> seen;
    for (quint32 trunk = file.freelistTrunkPage(); trunk > 0 && !seen.contains(trunk);) {
        seen.insert(trunk);
        const Sqlite3File::_Trunk t = file.readFreelistTrunk(trunk);
        for (quint32 leaf : t.leaves)
            (void)file.readPage(leaf);
        trunk = t.nextTrunk;
    }
}

// A small file with every structure: several levels, overflow chains,
// freeblocks, freed pages on trunks.
void buildSample(Sqlite3DB &db)
{
    db.beginTran();
    for (int id = 1; id <= 160; ++id)
        db.executeThrow(Sqlite3Sql("INSERT INTO t(id, name, n, data) VALUES(?, ?, ?, ?)")
                            .addIntParam(id)
                            .addTextParam(QStringLiteral("row %1").arg(id))
                            .addIntParam(id * 3)
                            .addBlobParam(QByteArray(id % 7 == 0 ? 1500 : 10, char(id))));
    db.commitTran();
    db.executeThrow("DELETE FROM t WHERE id % 3 = 0 OR id BETWEEN 60 AND 110");
}

TEST_F(Sqlite3FileRealFile, TruncatedFilesAreReadWithinWhatIsLeft)
{
    Sqlite3DB db;
    create(db, 512);
    buildSample(db);
    db.close();
    const QByteArray whole = readWholeFile(path());
    ASSERT_GT(whole.size(), 512 * 10);
    const int wholeSize = static_cast<int>(whole.size());
    for (int size : {18, 100, 511, 512, 1000, 512 * 5 + 17, wholeSize / 2 + 3, wholeSize - 1}) {
        writeWholeFile(path(), whole.left(size));
        Sqlite3File file(path());
        ASSERT_EQ(errorOf(file), "") << size;
        EXPECT_EQ(file.pageCount(), static_cast<quint32>(size / 512)) << size;
        readEverything(file);
    }
}

// Random damage to a real file: every read stays inside the mapping (the
// sanitizers watch) and every walk ends.
TEST_F(Sqlite3FileRealFile, RandomDamageNeverLeadsOutOfTheFile)
{
    Sqlite3DB db;
    create(db, 512);
    buildSample(db);
    db.close();
    const QByteArray original = readWholeFile(path());
    std::mt19937 random(20240601);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const char interesting[] = {'\0', '\x01', '\x02', '\x05', '\x0d', '\x0a', '\x7f', '\x80', '\xff'};
    const int pages = original.size() / 512;
    int opened = 0;
    for (int round = 0; round < 250; ++round) {
        QByteArray bytes = original;
        const int changes = 1 + pick(24);
        for (int i = 0; i < changes; ++i) {
            // Mostly page headers, cell pointers and the file header, where
            // damage steers the walks; sometimes anywhere.
            int at = 0;
            switch (pick(4)) {
            case 0:
                at = pick(100);
                break;
            case 1:
                at = pick(pages) * 512 + pick(24);
                break;
            default:
                at = pick(bytes.size());
                break;
            }
            bytes[at] = pick(3) == 0 ? static_cast<char>(pick(256)) : interesting[pick(sizeof interesting)];
            if (pick(2) == 0 && at + 1 < bytes.size())
                bytes[at + 1] = static_cast<char>(pick(pages + 3)); // a plausible page number
        }
        if (pick(10) == 0)
            bytes.truncate(pick(bytes.size()));
        writeWholeFile(path(), bytes);
        Sqlite3File file(path());
        if (!errorOf(file).empty())
            continue;
        ++opened;
        readEverything(file);
    }
    EXPECT_GT(opened, 150);
}

} // namespace
