#include <gtest/gtest.h>

#include <limits>

#include "MessagePageLayout.h"

// Found by argument-dependent lookup: Step belongs to the global namespace.
static void PrintTo(const MessagePageLayout::Step &s, std::ostream *os)
{
    static const char *const kinds[] = {"NewPage", "Date", "Header", "Text"};
    *os << kinds[s.kind] << "(" << s.rect.x() << "," << s.rect.y() << "," << s.rect.width() << ","
        << s.rect.height() << " page " << s.page << " lines " << s.firstLine << "+" << s.lineCount << ")";
}

namespace
{

using Step = MessagePageLayout::Step;

// A4 at 96 dots per inch inside margins of 20 points is 739 x 1069 units.
const QRect kContent(20, 20, 699, 1029); // right 718, bottom 1048

Step date(int y, int h) { return {Step::Date, QRect(20, y, 699, h), 0, 0, 0}; }
Step header(int y, int h) { return {Step::Header, QRect(20, y, 699, h), 0, 0, 0}; }
Step text(int y, int h, int first, int count) { return {Step::Text, QRect(20, y, 699, h), 0, first, count}; }
Step newPage(int page) { return {Step::NewPage, QRect(20, 1050, 699, 18), page, 0, 0}; }

QList<int> lines(int count, int height = 19)
{
    return QList<int>(count, height);
}

TEST(MessagePageLayoutTest, ContentRectangle)
{
    struct Case
    {
        const char *label;
        QSizeF page;
        QMarginsF margins;
        QRect content;
    };
    const QList<Case> cases = {
        {"A4 at 96 dpi, 20 points", {739, 1069}, {20, 20, 20, 20}, kContent},
        // Each value is cut, not rounded; the size takes both margins first.
        {"fractions cut", {739.9, 1069.9}, {20.7, 10.2, 20.7, 10.2}, QRect(20, 10, 698, 1049)},
        {"uneven margins", {600, 800}, {10, 30, 50, 70}, QRect(10, 30, 540, 700)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(MessagePageLayout::contentRect(c.page, c.margins), c.content) << c.label;
}

TEST(MessagePageLayoutTest, PageNumberUnderTheContent)
{
    const MessagePageLayout layout(kContent);
    EXPECT_EQ(layout.pageNumberRect(), QRect(20, 1050, 699, 18));
    EXPECT_EQ(layout.pageNumber(), 1);
    EXPECT_EQ(layout.y(), 20);
    EXPECT_TRUE(MessagePageLayout().content().isNull());
}

TEST(MessagePageLayoutTest, Placements)
{
    struct Message
    {
        int dateHeight;
        int headerHeight;
        QList<int> textLines;
    };
    struct Case
    {
        const char *label;
        QList<Message> before; // placed first
        Message message;
        QList<Step> steps;
        int pageAfter;
        int yAfter;
    };
    // A first message of three lines leaves y at 20 + 19 + 5 + 19 + 5 + 19 + 30 = 117;
    // the page is counted as full at y = 1029 (its height less the top margin).
    const Message first{19, 19, lines(1)};
    const QList<Case> cases = {
        {"first message at the top", {}, first, {date(20, 19), header(44, 19), text(68, 19, 0, 1)}, 1, 117},
        {"exactly the height left: 48 + 864 + 10 = 912 = 1029 - 117",
         {first},
         {19, 19, {864}},
         {date(117, 19), header(141, 19), text(165, 864, 0, 1)},
         1,
         1059},
        {"one unit more starts page 2, numbered before the message",
         {first},
         {19, 19, {865}},
         {newPage(2), date(20, 19), header(44, 19), text(68, 865, 0, 1)},
         2,
         963},
        {"taller than a page, on a page in use: a new page, then the lines go on",
         {first},
         {19, 19, lines(60)},
         // 50 lines fit from y = 68 (68 + 50 * 19 = 1018); 10 go to page 3.
         {newPage(2), date(20, 19), header(44, 19), text(68, 950, 0, 50), newPage(3), text(20, 190, 50, 10)},
         3,
         240},
        {"taller than a page on an empty page: no blank page before it",
         {},
         {19, 19, lines(55)},
         {date(20, 19), header(44, 19), text(68, 950, 0, 50), newPage(2), text(20, 95, 50, 5)},
         2,
         145},
        {"only the date and header fit: the text starts the next page",
         {},
         {19, 19, {1000}},
         {date(20, 19), header(44, 19), newPage(2), text(20, 1000, 0, 1)},
         2,
         1050},
        {"no text lines", {}, {19, 19, {}}, {date(20, 19), header(44, 19), text(68, 0, 0, 0)}, 1, 98},
    };
    for (const Case &c : cases) {
        MessagePageLayout layout(kContent);
        for (const Message &m : c.before)
            layout.placeMessage(m.dateHeight, m.headerHeight, m.textLines);
        const QList<Step> steps = layout.placeMessage(c.message.dateHeight, c.message.headerHeight, c.message.textLines);
        EXPECT_EQ(steps, c.steps) << c.label;
        EXPECT_EQ(layout.pageNumber(), c.pageAfter) << c.label;
        EXPECT_EQ(layout.y(), c.yAfter) << c.label;
    }
}

TEST(MessagePageLayoutTest, EnsureSpace)
{
    struct Case
    {
        const char *label;
        int advance; // height of a first message's text
        int need;
        bool newPage;
    };
    // After a message with text of height t, y = 20 + 48 + t + 30.
    const QList<Case> cases = {
        {"fits", 100, 500, false},
        {"exactly fits: 1029 - 198 = 831", 100, 831, false},
        {"one too many", 100, 832, true},
        {"a need no page could hold, on a page in use", 100, 1 << 30, true},
    };
    for (const Case &c : cases) {
        MessagePageLayout layout(kContent);
        layout.placeMessage(19, 19, {c.advance});
        EXPECT_EQ(layout.ensureSpace(c.need), c.newPage) << c.label;
        EXPECT_EQ(layout.pageNumber(), c.newPage ? 2 : 1) << c.label;
        EXPECT_EQ(layout.y(), c.newPage ? 20 : 198) << c.label;
    }
    // An empty page is never left for the next one.
    MessagePageLayout fresh(kContent);
    EXPECT_FALSE(fresh.ensureSpace(1 << 30));
    EXPECT_FALSE(fresh.ensureSpace(std::numeric_limits<int>::max()));
    EXPECT_EQ(fresh.pageNumber(), 1);
}

} // namespace
