#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

#include "ExportFileReader.h"
#include "ExportMessagesCsv.h"
#include "MsgSetBuilder.h"

namespace
{

// The tests run in UTC; date 0 is 2001-01-01 00:00:00.
constexpr int kDate = 400000000; // 2013-09-04 15:06:40

QByteArray exportCsv(const QList<const _MsgMessage *> &messages, const QString &path)
{
    ExportMessagesCsv csv(path);
    csv.begin();
    for (const _MsgMessage *m : messages)
        csv.write(m);
    csv.end();
    return readExportedFile(path);
}

TEST(ExportMessagesCsvTest, FieldQuoting)
{
    struct Case
    {
        const char *label;
        QString in;
        QString out;
    };
    const QList<Case> cases = {
        {"empty stays empty", QString(), QString()},
        {"plain", "hello", "hello"},
        {"comma", "a,b", "\"a,b\""},
        {"quote doubled", "say \"hi\"", "\"say \"\"hi\"\"\""},
        {"lone quote", "\"", "\"\"\"\""},
        {"line feed", "a\nb", "\"a\nb\""},
        // Readers take a bare carriage return for the end of a row.
        {"lone carriage return", "a\rb", "\"a\rb\""},
        {"carriage return and line feed", "a\r\nb", "\"a\r\nb\""},
        {"spaces and semicolons need no quotes", " a; b ", " a; b "},
        {"non-ASCII", QStringLiteral("Grüße"), QStringLiteral("Grüße")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(csvField(c.in), c.out) << c.label;
}

TEST(ExportMessagesCsvTest, ExactBytes)
{
    MsgSetBuilder b;
    _MsgChat *single = b.chat(1, "+15550001", kDate);
    _MsgHandle *ann = b.handle(single, 10, "+15550001", "Ann, \"A\"");
    _MsgChat *group = b.chat(2, "chat123456", kDate);
    _MsgHandle *bob = b.handle(group, 11, "+15550002", "Bob");
    b.handle(group, 12, "bob@example.com");
    _MsgChat *nameless = b.chat(3, "+15550003", kDate);
    b.handle(nameless, 13, "+15550003");
    _MsgChat *empty = b.chat(4, "lonely", kDate);

    _MsgMessage *comma = b.message(single, 100, kDate, "one, two", ann);
    _MsgMessage *quote = b.message(single, 101, kDate + 1, "say \"hi\"");
    quote->is_from_me = 1;
    _MsgMessage *cr = b.message(group, 102, 0, "up\rdown", bob);
    _MsgMessage *lf = b.message(nameless, 103, 59, "line1\nline2");
    _MsgMessage *noChat = b.message(nullptr, 104, 86399, "%1 plain");
    _MsgMessage *noHandles = b.message(empty, 105, 3600, "");

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray bytes =
        exportCsv({comma, quote, cr, lf, noChat, noHandles}, dir.filePath("out.csv"));
    const QByteArray expected = "date,send,person,number,content\n"
                                "2013-09-04 15:06:40,0,\"Ann, \"\"A\"\"\",+15550001,\"one, two\"\n"
                                "2013-09-04 15:06:41,1,\"Ann, \"\"A\"\"\",+15550001,\"say \"\"hi\"\"\"\n"
                                "2001-01-01 00:00:00,0,chat123456,chat123456,\"up\rdown\"\n"
                                "2001-01-01 00:00:59,0,,+15550003,\"line1\nline2\"\n"
                                "2001-01-01 23:59:59,0,,,%1 plain\n"
                                "2001-01-01 01:00:00,0,,,\n";
    EXPECT_EQ(bytes, expected);
}

TEST(ExportMessagesCsvTest, Utf8WithoutByteOrderMark)
{
    MsgSetBuilder b;
    _MsgMessage *m = b.message(nullptr, 1, 0, QStringLiteral("Привет 👋"));
    QTemporaryDir dir;
    const QByteArray bytes = exportCsv({m}, dir.filePath("u.csv"));
    EXPECT_TRUE(bytes.startsWith("date,"));
    // messageText renders the emoji; the Cyrillic goes out as UTF-8.
    EXPECT_TRUE(bytes.endsWith(QStringLiteral(",Привет [EMOJI]\n").toUtf8())) << bytes.constData();
}

TEST(ExportMessagesCsvTest, ExistingFileIsReplaced)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("old.csv");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
    }
    EXPECT_EQ(exportCsv({}, path), QByteArray("date,send,person,number,content\n"));
}

TEST(ExportMessagesCsvTest, NothingIsCreatedBeforeBegin)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("late.csv");
    ExportMessagesCsv csv(path);
    EXPECT_FALSE(QFile::exists(path));
}

TEST(ExportMessagesCsvTest, UnwritablePathFailsAtBegin)
{
    ExportMessagesCsv csv(unwritableExportPath("x.csv"));
    EXPECT_THROW(csv.begin(), std::runtime_error);
}

TEST(ExportMessagesCsvTest, FullDiskIsAnError)
{
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    MsgSetBuilder b;
    _MsgMessage *m = b.message(nullptr, 1, 0, "text");
    ExportMessagesCsv csv("/dev/full");
    csv.begin();
    // The error shows as soon as a block reaches the disk, at the latest on end.
    EXPECT_THROW(
        {
            for (int i = 0; i < 10; ++i)
                csv.write(m);
            csv.end();
        },
        std::runtime_error);
}

} // namespace
