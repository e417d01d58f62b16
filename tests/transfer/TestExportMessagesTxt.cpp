#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

#include "ExportFileReader.h"
#include "ExportMessagesTxt.h"
#include "MsgSetBuilder.h"

namespace
{

// The tests run in UTC under the C locale, whose short date-and-time format
// is "d MMM yyyy HH:mm:ss".
constexpr int kDate = 400000000; // 4 Sep 2013 15:06:40

QString padded(const QString &s, int width)
{
    return s.leftJustified(width, QLatin1Char(' '), false);
}

QByteArray line(const QString &date, const QString &flag, const QString &name, const QString &text)
{
    return (padded(date, 30) + padded(flag, 6) + padded(name, 40) + text + QLatin1Char('\n')).toUtf8();
}

QByteArray exportTxt(const QList<const _MsgMessage *> &messages, const QString &path)
{
    ExportMessagesTxt txt(path);
    txt.begin();
    for (const _MsgMessage *m : messages)
        txt.write(m);
    txt.end();
    return readExportedFile(path);
}

const QByteArray kHeader = "Date                          Flag  Name                                    Message\n";

TEST(ExportMessagesTxtTest, HeaderColumns)
{
    QTemporaryDir dir;
    const QByteArray bytes = exportTxt({}, dir.filePath("h.txt"));
    EXPECT_EQ(bytes, kHeader);
    EXPECT_EQ(kHeader.indexOf("Flag"), 30);
    EXPECT_EQ(kHeader.indexOf("Name"), 36);
    EXPECT_EQ(kHeader.indexOf("Message"), 76);
}

TEST(ExportMessagesTxtTest, Rows)
{
    const QString longName = QStringLiteral("A name that is much longer than forty characters");
    ASSERT_GT(longName.size(), 40);

    MsgSetBuilder b;
    _MsgChat *ann = b.chat(1, "+15550001");
    _MsgHandle *annHandle = b.handle(ann, 10, "+15550001", "Ann");
    _MsgChat *group = b.chat(2, "chat1");
    _MsgHandle *bob = b.handle(group, 11, "+15550002", "Bob");
    b.handle(group, 12, "+15550003");
    _MsgChat *longChat = b.chat(3, "+15550004");
    longChat->display_name = longName;
    _MsgChat *noName = b.chat(4, "+15550005");
    b.handle(noName, 14, "+15550005");

    _MsgMessage *received = b.message(ann, 100, kDate, "hello", annHandle);
    _MsgMessage *sent = b.message(ann, 101, kDate + 1, "line one\r\nline two\nthree");
    sent->is_from_me = 1;
    _MsgMessage *event = b.message(group, 102, 0, QString(), bob);
    event->item_type = 3;
    _MsgMessage *inGroup = b.message(group, 103, 59, "to all", bob);
    _MsgMessage *inLong = b.message(longChat, 104, 0, "pushed right");
    _MsgMessage *noChat = b.message(nullptr, 105, 0, "%1 stays");
    _MsgMessage *numberOnly = b.message(noName, 106, 0, "x");

    QTemporaryDir dir;
    const QByteArray bytes =
        exportTxt({received, sent, event, inGroup, inLong, noChat, numberOnly}, dir.filePath("r.txt"));
    const QByteArray expected = kHeader
        + line("4 Sep 2013 15:06:40", "From", "Ann", "hello")
        // Carriage returns go, line feeds become blanks: one message, one line.
        + line("4 Sep 2013 15:06:41", "To", "Ann", "line one line two three")
        // A group event has no direction; its sentence is on one line too.
        + line("1 Jan 2001 00:00:00", "", "Bob, +15550003", "Bob left the conversation. 01 Jan 2001 12:0 AM")
        + line("1 Jan 2001 00:00:59", "From", "Bob, +15550003", "to all")
        // Longer than its column: written whole, and the text moves right.
        + (padded("1 Jan 2001 00:00:00", 30) + padded("From", 6) + longName + "pushed right\n").toUtf8()
        + line("1 Jan 2001 00:00:00", "From", "Unknown", "%1 stays")
        + line("1 Jan 2001 00:00:00", "From", "+15550005", "x");
    EXPECT_EQ(bytes, expected);
    // The event's flag column is six blanks.
    EXPECT_NE(bytes.indexOf("1 Jan 2001 00:00:00           " "      Bob, +15550003"), -1);
}

TEST(ExportMessagesTxtTest, UnwritablePathFailsAtBegin)
{
    ExportMessagesTxt txt(unwritableExportPath("x.txt"));
    EXPECT_THROW(txt.begin(), std::runtime_error);
}

TEST(ExportMessagesTxtTest, FullDiskIsAnError)
{
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    MsgSetBuilder b;
    _MsgMessage *m = b.message(nullptr, 1, 0, "text");
    ExportMessagesTxt txt("/dev/full");
    txt.begin();
    EXPECT_THROW(
        {
            txt.write(m);
            txt.end();
        },
        std::runtime_error);
}

TEST(ExportMessagesTxtTest, FailureWhileWritingStopsTheExport)
{
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    MsgSetBuilder b;
    _MsgMessage *m = b.message(nullptr, 1, 0, QString(200, QLatin1Char('x')));
    ExportMessagesTxt txt("/dev/full");
    txt.begin();
    // Well before the end: a block of the buffered stream fails to reach the disk.
    int written = 0;
    try {
        for (; written < 10000; ++written)
            txt.write(m);
    } catch (const std::runtime_error &e) {
        EXPECT_STRNE(e.what(), "");
    }
    EXPECT_LT(written, 10000);
}

} // namespace
