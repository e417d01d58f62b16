#include <QFontMetrics>

#include <gtest/gtest.h>

#include "MessagePagePainter.h"
#include "MsgSetBuilder.h"
#include "RecordingPaintDevice.h"
#include "WrappedText.h"

namespace
{

// A4 at 96 dots per inch inside margins of 20 points: content 699 x 1029 at
// (20, 20); page numbers in (20, 1050, 699, 18).
const QRect kContent(20, 20, 699, 1029);
const QColor kGreen(0, 128, 64);
const QColor kBlue(0, 0, 255);
const QColor kBlack(0, 0, 0);

bool begin(MessagePagePainter &painter, RecordingPaintDevice &device)
{
    return painter.begin(&device, device.pageLayout(), [&device] { return device.newPage(); });
}

// The text items of a sheet joined, in painting order.
QStringList textsOn(const RecordingPaintDevice &device, int sheet)
{
    QStringList list;
    for (const RecordingPaintDevice::Text &t : device.textsOn(sheet))
        list.append(t.text.trimmed());
    return list;
}

TEST(MessagePagePainterTest, EmptyDocumentIsOnePageNumberedOne)
{
    RecordingPaintDevice device;
    MessagePagePainter painter;
    ASSERT_TRUE(begin(painter, device));
    EXPECT_EQ(painter.layout().content(), kContent);
    EXPECT_TRUE(painter.end());

    EXPECT_EQ(device.sheets(), 1);
    ASSERT_EQ(device.texts().size(), 1);
    const RecordingPaintDevice::Text &number = device.texts().first();
    EXPECT_EQ(number.text, QStringLiteral("1"));
    EXPECT_EQ(number.colour, kBlack);
    // Right-aligned under the content: its right edge at the content's right.
    const QFontMetrics fm(pageFont());
    EXPECT_NEAR(number.position.x() + fm.horizontalAdvance(QStringLiteral("1")), 20 + 699, 1.0);
    EXPECT_GT(number.position.y(), 1050);
    EXPECT_LE(number.position.y(), 1050 + 18);
}

TEST(MessagePagePainterTest, ColoursAndTexts)
{
    struct Case
    {
        const char *label;
        bool fromMe;
        bool withChat;
        QStringList texts; // after the page number
        QList<QColor> colours;
    };
    const QList<Case> cases = {
        {"received", false, true, {"4 Sep 2013 15:06:40", "From: Ann (+15550001)", "hello"}, {kBlue, kBlue, kBlack}},
        {"sent", true, true, {"4 Sep 2013 15:06:40", "To: Ann (+15550001)", "hello"}, {kGreen, kGreen, kBlack}},
        {"no conversation", false, false, {"4 Sep 2013 15:06:40", "From:", "hello"}, {kBlue, kBlue, kBlack}},
    };
    for (const Case &c : cases) {
        MsgSetBuilder b;
        _MsgChat *chat = nullptr;
        if (c.withChat) {
            chat = b.chat(1, "+15550001");
            b.handle(chat, 10, "+15550001", "Ann");
        }
        _MsgMessage *m = b.message(chat, 1, 400000000, "hello");
        m->is_from_me = c.fromMe ? 1 : 0;

        RecordingPaintDevice device;
        MessagePagePainter painter;
        ASSERT_TRUE(begin(painter, device));
        painter.drawMessage(m);
        painter.end();

        const QList<RecordingPaintDevice::Text> texts = device.textsOn(1);
        ASSERT_EQ(texts.size(), 4) << c.label;
        EXPECT_EQ(texts.at(0).text, QStringLiteral("1")) << c.label;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(texts.at(i + 1).text.trimmed(), c.texts.at(i)) << c.label << " " << i;
            EXPECT_EQ(texts.at(i + 1).colour, c.colours.at(i)) << c.label << " " << i;
            EXPECT_NEAR(texts.at(i + 1).position.x(), 20, 1.0) << c.label << " " << i;
        }
        // Date, 5 units, header, 5 units, text: one line each.
        const int line = textHeight(QStringLiteral("x"), 699);
        EXPECT_NEAR(texts.at(2).position.y() - texts.at(1).position.y(), line + 5, 0.5) << c.label;
        EXPECT_NEAR(texts.at(3).position.y() - texts.at(2).position.y(), line + 5, 0.5) << c.label;
    }
}

TEST(MessagePagePainterTest, PageBreaksFollowTextHeight)
{
    // Every message: a one-line date and header, a text of nine lines.
    const QString text = QStringLiteral("1\n2\n3\n4\n5\n6\n7\n8\n9");
    const int line = textHeight(QStringLiteral("x"), 699);
    ASSERT_EQ(textHeight(text, 699), 9 * line);
    const int need = 11 * line + 10;    // what a message asks for
    const int advance = 11 * line + 40; // how far it moves y
    // y runs from 20; a page counts as full at y = 1029.
    int perPage = 0;
    for (int y = 20; y + need <= 1029; y += advance)
        ++perPage;
    ASSERT_GT(perPage, 1);

    MsgSetBuilder b;
    _MsgChat *chat = b.chat(1, "+15550001");
    b.handle(chat, 10, "+15550001");
    const int count = 2 * perPage + 1;
    RecordingPaintDevice device;
    MessagePagePainter painter;
    ASSERT_TRUE(begin(painter, device));
    for (int i = 0; i < count; ++i)
        painter.drawMessage(b.message(chat, i + 1, 400000000, text));
    EXPECT_TRUE(painter.end());

    ASSERT_EQ(device.sheets(), 3);
    for (int sheet = 1; sheet <= 3; ++sheet) {
        const QStringList texts = textsOn(device, sheet);
        ASSERT_FALSE(texts.isEmpty());
        // The number comes first, before any message of its page.
        EXPECT_EQ(texts.first(), QString::number(sheet));
        const int messages = int(texts.count(QStringLiteral("From: +15550001")));
        EXPECT_EQ(messages, sheet < 3 ? perPage : 1) << "sheet " << sheet;
    }
}

TEST(MessagePagePainterTest, TallMessageGoesOnOverPages)
{
    QStringList lines;
    for (int i = 1; i <= 120; ++i)
        lines.append(QStringLiteral("line %1").arg(i));
    MsgSetBuilder b;
    _MsgMessage *first = b.message(nullptr, 1, 0, "short");
    _MsgMessage *tall = b.message(nullptr, 2, 0, lines.join(QLatin1Char('\n')));

    RecordingPaintDevice device;
    MessagePagePainter painter;
    ASSERT_TRUE(begin(painter, device));
    painter.drawMessage(first);
    painter.drawMessage(tall);
    EXPECT_TRUE(painter.end());

    // The tall message starts a page of its own and runs over two more.
    EXPECT_EQ(device.sheets(), 4);
    EXPECT_EQ(textsOn(device, 1), (QStringList{"1", "1 Jan 2001 00:00:00", "From:", "short"}));
    const QStringList second = textsOn(device, 2);
    ASSERT_GE(second.size(), 3);
    EXPECT_EQ(second.mid(0, 3), (QStringList{"2", "1 Jan 2001 00:00:00", "From:"}));

    // Every line is drawn once, in order, and none below the page's last line.
    QStringList drawn;
    for (const RecordingPaintDevice::Text &t : device.texts()) {
        if (t.text.startsWith(QLatin1String("line "))) {
            drawn.append(t.text.trimmed());
            EXPECT_LT(t.position.y(), 1029) << qPrintable(t.text);
        }
    }
    EXPECT_EQ(drawn, lines);
    EXPECT_EQ(textsOn(device, 4).first(), QStringLiteral("4"));
}

TEST(MessagePagePainterTest, FailedPageFeedIsReportedAtEnd)
{
    MsgSetBuilder b;
    RecordingPaintDevice device;
    device.setFailNewPage(true);
    MessagePagePainter painter;
    ASSERT_TRUE(begin(painter, device));
    for (int i = 0; i < 20; ++i)
        painter.drawMessage(b.message(nullptr, i + 1, 0, QStringLiteral("x\n").repeated(10)));
    EXPECT_FALSE(painter.end());
}

TEST(MessagePagePainterTest, NothingHappensWithoutBegin)
{
    MsgSetBuilder b;
    MessagePagePainter painter;
    painter.drawMessage(b.message(nullptr, 1, 0, "x"));
    painter.ensureSpace(100);
    EXPECT_FALSE(painter.isActive());
    EXPECT_FALSE(painter.end());
    EXPECT_FALSE(painter.begin(nullptr));
}

} // namespace
