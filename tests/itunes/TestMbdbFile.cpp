#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>

#include "BackupGenerator.h"
#include "MbdbFile.h"

namespace
{

using Entry = BackupGenerator::MbdbEntry;

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

Entry fileEntry(const QByteArray &domain, const QByteArray &path, quint32 inode = 1)
{
    Entry e;
    e.domain = domain;
    e.path = path;
    e.dataHash = QByteArray(20, '\x11');
    e.mode = 0x81A4;
    e.inode = inode;
    e.userId = e.groupId = 501;
    e.mtime = e.atime = e.ctime = 1357000000;
    e.size = 10;
    e.protectionClass = 4;
    return e;
}

MbdbString mbdbString(const QByteArray &bytes)
{
    MbdbString s;
    s.setData(bytes);
    return s;
}

MbdbRecord record(const QString &domain, const QString &path, quint32 inodeLow = 0)
{
    MbdbRecord r;
    r.domain = mbdbString(domain.toUtf8());
    r.path = mbdbString(path.toUtf8());
    r.inode[1] = inodeLow;
    return r;
}

class MbdbFileTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path(const char *name = "Manifest.mbdb") const { return dir.filePath(QString::fromLatin1(name)); }
};

} // namespace

TEST(MbdbFileId, IsTheHexSha1OfDomainDashPath)
{
    struct Case
    {
        QString domain;
        QString path;
        QString expected;
    };
    const auto sha1 = [](const QByteArray &text) {
        return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha1).toHex());
    };
    const Case cases[] = {
        {"HomeDomain", "Library/SMS/sms.db", "3d0d7e5fb2ce288813306e4d4636395e047a3d28"},
        {"HomeDomain", "", sha1("HomeDomain-")},
        {"", "", sha1("-")},
        {"MediaDomain", QString::fromUtf8("Library/SMS/Attachments/\xc3\xa9.jpg"),
         sha1("MediaDomain-Library/SMS/Attachments/\xc3\xa9.jpg")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE((c.domain + "-" + c.path).toStdString());
        EXPECT_EQ(mbdbFileId(c.domain, c.path), c.expected);
        EXPECT_EQ(record(c.domain, c.path).fileId(), c.expected);
    }
}

TEST(MbdbRecordLess, OrdersByDecodedDomainThenPathAsCodeUnits)
{
    struct Case
    {
        MbdbRecord a;
        MbdbRecord b;
        bool less;
    };
    MbdbRecord cutAtZero = record("HomeDomain", "Library");
    cutAtZero.domain.setData(QByteArray("HomeDomain\0zzz", 14));
    const Case cases[] = {
        {record("HomeDomain", "z"), record("MediaDomain", "a"), true},
        {record("MediaDomain", "a"), record("HomeDomain", "z"), false},
        {record("HomeDomain", "Library"), record("HomeDomain", "Library/SMS"), true},
        {record("HomeDomain", "Zebra"), record("HomeDomain", "apple"), true},
        {record("HomeDomain", "a"), record("HomeDomain", "a"), false},
        {MbdbRecord(), record("", "a"), true},
        {cutAtZero, record("HomeDomain", "Library"), false},
        {record("HomeDomain", "Library"), cutAtZero, false},
        {record("D", QString::fromUtf8("\xef\xbd\x81")), record("D", QString::fromUtf8("\xf0\x9f\x98\x80")), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE((c.a.domain.toString() + "/" + c.a.path.toString() + " < " + c.b.domain.toString() + "/"
                      + c.b.path.toString())
                         .toStdString());
        EXPECT_EQ(mbdbRecordLess(c.a, c.b), c.less);
        EXPECT_EQ(mbdbKeyLess(c.a.domain.toString(), c.a.path.toString(), c.b.domain.toString(), c.b.path.toString()),
                  c.less);
    }
}

TEST_F(MbdbFileTest, EmptyCatalogueIsExactlyTheHeader)
{
    QList<MbdbRecord> none;
    writeMbdb(none, path());
    EXPECT_EQ(readAll(path()), QByteArray("mbdb\x05\x00", 6));
    EXPECT_TRUE(readMbdb(path()).isEmpty());
}

TEST_F(MbdbFileTest, ReadsEveryField)
{
    Entry e = fileEntry("HomeDomain", "Library/SMS/sms.db");
    e.linkTarget = QByteArray();
    e.encryptionKey = QByteArray(44, '\x22');
    e.mode = 0x8180;
    e.inode = 0x0000000700000009ull;
    e.userId = 0x01020304;
    e.groupId = 0xFFFFFFFF;
    e.mtime = 1;
    e.atime = 2;
    e.ctime = 3;
    e.size = 0x123456789Aull;
    e.protectionClass = 0xFE;
    e.properties = {{QByteArray("name"), QByteArray("\x00\x01", 2)}, {QByteArray(), std::nullopt}};
    writeAll(path(), BackupGenerator::mbdbHeader() + BackupGenerator::mbdbRecord(e));

    const QHash<QString, MbdbRecord> table = readMbdb(path());
    ASSERT_EQ(table.size(), 1);
    const MbdbRecord r = table.value("3d0d7e5fb2ce288813306e4d4636395e047a3d28");
    EXPECT_EQ(r.domain.toString(), "HomeDomain");
    EXPECT_EQ(r.path.toString(), "Library/SMS/sms.db");
    EXPECT_EQ(r.linkTarget.length, 0);
    EXPECT_EQ(r.dataHash.data, QByteArray(20, '\x11'));
    EXPECT_EQ(r.encryptionKey.length, 44);
    EXPECT_EQ(r.mode, 0x8180);
    EXPECT_EQ(r.inode[0], 7u);
    EXPECT_EQ(r.inode[1], 9u);
    EXPECT_EQ(r.userId, 0x01020304u);
    EXPECT_EQ(r.groupId, 0xFFFFFFFFu);
    EXPECT_EQ(r.mtime, 1u);
    EXPECT_EQ(r.atime, 2u);
    EXPECT_EQ(r.ctime, 3u);
    EXPECT_EQ(r.size, 0x123456789Aull);
    EXPECT_EQ(r.protectionClass, 0xFE);
    ASSERT_EQ(r.properties.size(), 2);
    EXPECT_EQ(r.properties[0].name.toString(), "name");
    EXPECT_EQ(r.properties[0].value.data, QByteArray("\x00\x01", 2));
    EXPECT_EQ(r.properties[1].name.length, 0);
    EXPECT_EQ(r.properties[1].value.length, 0xFFFF);
}

TEST_F(MbdbFileTest, RoundTripIsByteExact)
{
    // Records already in the writer's order, so that the output must equal
    // the input byte for byte.
    Entry folder = fileEntry("HomeDomain", "Library");
    folder.dataHash = std::nullopt;
    folder.linkTarget = QByteArray(); // empty, not none
    folder.mode = 0x41ED;
    folder.size = 0;
    Entry big = fileEntry("HomeDomain", "Library/SMS/sms.db", 2);
    big.encryptionKey = QByteArray(44, '\x33');
    big.inode = 0xFFFFFFFF80000001ull;
    big.size = 0xFFFFFFFFFFFFFFFFull;
    big.mtime = big.atime = big.ctime = 0xFFFFFFFF;
    big.protectionClass = 0xFF;
    for (int i = 0; i < 200; ++i)
        big.properties.append({QByteArray::number(i), i % 3 == 0 ? std::nullopt
                                                                 : std::optional<QByteArray>(QByteArray(i % 3 - 1, 'v'))});
    Entry longest = fileEntry("MediaDomain", "Library/" + QByteArray(0xFFFE - 8, 'p'), 3);
    Entry emptyPath = fileEntry("MediaDomain", "", 4);
    emptyPath.path = QByteArray(); // sorts first within its domain
    const QByteArray bytes = BackupGenerator::mbdbHeader() + BackupGenerator::mbdbRecord(folder)
        + BackupGenerator::mbdbRecord(big) + BackupGenerator::mbdbRecord(emptyPath)
        + BackupGenerator::mbdbRecord(longest);
    writeAll(path("in.mbdb"), bytes);

    const QHash<QString, MbdbRecord> table = readMbdb(path("in.mbdb"));
    ASSERT_EQ(table.size(), 4);
    EXPECT_EQ(table.value(mbdbFileId("HomeDomain", "Library/SMS/sms.db")).properties.size(), 200);
    QList<MbdbRecord> list = table.values();
    writeMbdb(list, path("out.mbdb"));
    EXPECT_EQ(readAll(path("out.mbdb")), bytes);
}

TEST_F(MbdbFileTest, HeaderIsSkippedNotChecked)
{
    writeAll(path(), QByteArray("XXXX\x01\x02", 6) + BackupGenerator::mbdbRecord(fileEntry("HomeDomain", "a")));
    EXPECT_TRUE(readMbdb(path()).contains(mbdbFileId("HomeDomain", "a")));
}

TEST_F(MbdbFileTest, FileCutShortAnywhereThrows)
{
    Entry e = fileEntry("HomeDomain", "Library/SMS/sms.db");
    e.encryptionKey = QByteArray(44, '\x22');
    e.properties = {{QByteArray("k"), QByteArray("v")}};
    const QByteArray whole = BackupGenerator::mbdbHeader() + BackupGenerator::mbdbRecord(fileEntry("HomeDomain", "a"))
        + BackupGenerator::mbdbRecord(e);
    writeAll(path(), whole);
    EXPECT_EQ(readMbdb(path()).size(), 2);

    const int secondRecord = whole.size() - BackupGenerator::mbdbRecord(e).size();
    for (int cut = 0; cut < whole.size(); ++cut) {
        if (cut == 6 || cut == secondRecord)
            continue; // ends exactly after the header or a record: complete
        SCOPED_TRACE(cut);
        writeAll(path(), whole.left(cut));
        EXPECT_THROW(readMbdb(path()), std::runtime_error);
    }
}

TEST_F(MbdbFileTest, MissingCatalogueThrows)
{
    EXPECT_THROW(readMbdb(path("nothing.mbdb")), std::runtime_error);
}

TEST_F(MbdbFileTest, LaterRecordWithTheSameFileIdWins)
{
    Entry first = fileEntry("HomeDomain", "a", 1);
    Entry second = fileEntry("HomeDomain", "a", 2);
    writeAll(path(), BackupGenerator::mbdbHeader() + BackupGenerator::mbdbRecord(first)
                         + BackupGenerator::mbdbRecord(second));
    const QHash<QString, MbdbRecord> table = readMbdb(path());
    ASSERT_EQ(table.size(), 1);
    EXPECT_EQ(table.begin()->inode[1], 2u);
}

TEST_F(MbdbFileTest, WriterSortsByDomainThenPathInPlace)
{
    QList<MbdbRecord> list = {
        record("MediaDomain", "Library/SMS/Attachments"),
        record("HomeDomain", "Library/SMS/sms.db"),
        record("HomeDomain", "library"),
        record("HomeDomain", "Library/SMS"),
        record("AppDomain-com.example", ""),
        record("HomeDomain", "Library"),
        record("HomeDomain", "Zebra"),
    };
    writeMbdb(list, path());
    const QStringList expected = {
        "AppDomain-com.example/", "HomeDomain/Library", "HomeDomain/Library/SMS", "HomeDomain/Library/SMS/sms.db",
        "HomeDomain/Zebra",       "HomeDomain/library", "MediaDomain/Library/SMS/Attachments",
    };
    QStringList inPlace;
    for (const MbdbRecord &r : list)
        inPlace << r.domain.toString() + "/" + r.path.toString();
    EXPECT_EQ(inPlace, expected);

    QByteArray bytes = BackupGenerator::mbdbHeader();
    for (const MbdbRecord &r : list) {
        Entry e;
        e.domain = r.domain.data;
        e.path = r.path.data;
        bytes += BackupGenerator::mbdbRecord(e);
    }
    EXPECT_EQ(readAll(path()), bytes);
}

TEST_F(MbdbFileTest, FailedWriteLeavesTheOldCatalogue)
{
    const QByteArray old = BackupGenerator::mbdbHeader() + BackupGenerator::mbdbRecord(fileEntry("HomeDomain", "a"));
    writeAll(path(), old);
    struct Case
    {
        const char *name;
        std::function<void(MbdbRecord &)> spoil;
    };
    const Case cases[] = {
        {"string length disagrees with its bytes", [](MbdbRecord &r) { r.dataHash.length = 21; }},
        {"256 properties", [](MbdbRecord &r) { r.properties = QList<MbdbProperty>(256); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QList<MbdbRecord> list = {record("HomeDomain", "a"), record("HomeDomain", "b")};
        list[0].dataHash.setData(QByteArray(20, 'h'));
        c.spoil(list[1]);
        EXPECT_THROW(writeMbdb(list, path()), std::runtime_error);
        EXPECT_EQ(readAll(path()), old);
    }
    QList<MbdbRecord> any = {record("HomeDomain", "a")};
    EXPECT_THROW(writeMbdb(any, dir.filePath("no/such/folder/Manifest.mbdb")), std::runtime_error);
}

TEST_F(MbdbFileTest, FileSha1StreamsTheContents)
{
    const QByteArray content(3 * 1024 * 1024 + 5, 'q');
    writeAll(path("data"), content);
    writeAll(path("empty"), {});
    EXPECT_EQ(fileSha1(path("data")), QCryptographicHash::hash(content, QCryptographicHash::Sha1));
    EXPECT_EQ(fileSha1(path("empty")).toHex(), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_TRUE(fileSha1(path("missing")).isEmpty());
}

namespace
{

struct Expected
{
    QString path;
    quint16 mode;
    quint32 inode;
};

class PutMbdbRecordTest : public MbdbFileTest
{
protected:
    void SetUp() override
    {
        local = dir.filePath("local.db");
        writeAll(local, content);
        mtime = QFileInfo(local).lastModified().toSecsSinceEpoch();
    }
    QString local;
    QByteArray content = "new contents";
    quint32 mtime = 0;
};

} // namespace

TEST_F(PutMbdbRecordTest, AddsMissingFoldersDeepestFirstWithTheNextInodes)
{
    struct Case
    {
        const char *name;
        QList<MbdbRecord> table;
        QString path;
        QList<Expected> added;
    };
    const Case cases[] = {
        {"deep path below an existing folder",
         {record("HomeDomain", "Library/SMS", 7), record("MediaDomain", "Library/SMS/Parts", 30)},
         "Library/SMS/Parts/a/b.jpg",
         {{"Library/SMS/Parts/a", 0x41C0, 31}, {"Library/SMS/Parts", 0x41C0, 32}, {"Library/SMS/Parts/a/b.jpg", 0x81A4, 33}}},
        {"no folder in the path", {record("HomeDomain", "x", 3)}, "sms.db", {{"sms.db", 0x81A4, 4}}},
        {"empty table", {}, "Library/a", {{"Library", 0x41C0, 1}, {"Library/a", 0x81A4, 2}}},
        {"leading slash adds no root folder", {}, "/a", {{"/a", 0x81A4, 1}}},
        {"inode words compare as signed", {record("HomeDomain", "x", 0xFFFFFFF0), record("HomeDomain", "y", 5)},
         "z", {{"z", 0x81A4, 6}}},
        {"largest signed word", {record("HomeDomain", "x", 0x7FFFFFFF)}, "z", {{"z", 0x81A4, 0x80000000}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QHash<QString, MbdbRecord> table;
        for (const MbdbRecord &r : c.table)
            table.insert(r.fileId(), r);
        putMbdbRecord(table, local, "HomeDomain", c.path);
        ASSERT_EQ(table.size(), c.table.size() + c.added.size());
        for (const Expected &e : c.added) {
            SCOPED_TRACE(e.path.toStdString());
            const MbdbRecord r = table.value(mbdbFileId("HomeDomain", e.path));
            const bool isFile = e.mode == 0x81A4;
            EXPECT_EQ(r.domain.toString(), "HomeDomain");
            EXPECT_EQ(r.path.data, e.path.toUtf8());
            EXPECT_EQ(r.path.length, e.path.toUtf8().size());
            EXPECT_EQ(r.mode, e.mode);
            EXPECT_EQ(r.inode[0], 0u);
            EXPECT_EQ(r.inode[1], e.inode);
            EXPECT_EQ(r.userId, 501u);
            EXPECT_EQ(r.groupId, 501u);
            EXPECT_EQ(r.protectionClass, 4);
            EXPECT_EQ(r.mtime, mtime);
            EXPECT_EQ(r.atime, mtime);
            EXPECT_NE(r.ctime, 0u);
            EXPECT_TRUE(r.linkTarget.isNone());
            EXPECT_TRUE(r.encryptionKey.isNone());
            EXPECT_TRUE(r.properties.isEmpty());
            EXPECT_EQ(r.size, isFile ? quint64(content.size()) : 0u);
            if (isFile)
                EXPECT_EQ(r.dataHash.data, QCryptographicHash::hash(content, QCryptographicHash::Sha1));
            else
                EXPECT_TRUE(r.dataHash.isNone());
        }
    }
}

TEST_F(PutMbdbRecordTest, RefreshesAnExistingRecordAndKeepsTheRest)
{
    MbdbRecord old = record("HomeDomain", "Library/SMS/sms.db");
    old.mode = 0x8180;
    old.inode[0] = 2;
    old.inode[1] = 9;
    old.userId = 1;
    old.groupId = 2;
    old.protectionClass = 3;
    old.linkTarget.setData({});
    old.encryptionKey.setData(QByteArray(44, 'k'));
    old.dataHash.setData(QByteArray(20, 'o'));
    old.properties = {MbdbProperty{mbdbString("n"), mbdbString("v")}};
    old.mtime = old.atime = old.ctime = 5;
    old.size = 99999;
    QHash<QString, MbdbRecord> table = {{old.fileId(), old}, {mbdbFileId("HomeDomain", "Library/SMS"), {}}};

    putMbdbRecord(table, local, "HomeDomain", "Library/SMS/sms.db");
    ASSERT_EQ(table.size(), 2);
    const MbdbRecord r = table.value(old.fileId());
    EXPECT_EQ(r.dataHash.data, QCryptographicHash::hash(content, QCryptographicHash::Sha1));
    EXPECT_EQ(r.dataHash.length, 20);
    EXPECT_EQ(r.mtime, mtime);
    EXPECT_EQ(r.atime, mtime);
    EXPECT_NE(r.ctime, 5u);
    EXPECT_EQ(r.size, quint64(content.size()));
    EXPECT_EQ(r.mode, 0x8180);
    EXPECT_EQ(r.inode[0], 2u);
    EXPECT_EQ(r.inode[1], 9u);
    EXPECT_EQ(r.userId, 1u);
    EXPECT_EQ(r.groupId, 2u);
    EXPECT_EQ(r.protectionClass, 3);
    EXPECT_EQ(r.linkTarget.length, 0);
    EXPECT_EQ(r.encryptionKey.data, QByteArray(44, 'k'));
    ASSERT_EQ(r.properties.size(), 1);
    EXPECT_EQ(r.properties[0].value.toString(), "v");
}

TEST_F(PutMbdbRecordTest, ADigestGivenByTheCallerTakesThePlaceOfTheFilesOwn)
{
    QHash<QString, MbdbRecord> fromFile;
    putMbdbRecord(fromFile, local, "HomeDomain", "Library/SMS/sms.db");
    QHash<QString, MbdbRecord> given;
    putMbdbRecord(given, local, "HomeDomain", "Library/SMS/sms.db", QByteArray(20, 'd'));
    ASSERT_EQ(given.keys(), fromFile.keys());
    for (auto it = fromFile.cbegin(); it != fromFile.cend(); ++it) {
        const MbdbRecord &want = it.value();
        const MbdbRecord &got = given.value(it.key());
        EXPECT_EQ(got.path.toString(), want.path.toString());
        EXPECT_EQ(got.mode, want.mode);
        EXPECT_EQ(got.inode[1], want.inode[1]);
        EXPECT_EQ(got.mtime, want.mtime);
        EXPECT_EQ(got.ctime, want.ctime);
        EXPECT_EQ(got.size, want.size);
        if (got.path.toString() == QLatin1String("Library/SMS/sms.db")) {
            EXPECT_EQ(want.dataHash.data, QCryptographicHash::hash(content, QCryptographicHash::Sha1));
            EXPECT_EQ(got.dataHash.data, QByteArray(20, 'd'));
        } else {
            EXPECT_EQ(got.dataHash.isNone(), want.dataHash.isNone());
        }
    }
}

TEST_F(PutMbdbRecordTest, UnreadableFileGetsAnEmptyDigest)
{
    QHash<QString, MbdbRecord> table;
    putMbdbRecord(table, dir.filePath("missing"), "HomeDomain", "a");
    ASSERT_EQ(table.size(), 1);
    EXPECT_EQ(table.begin()->dataHash.length, 0);
    EXPECT_FALSE(table.begin()->dataHash.isNone());
}
