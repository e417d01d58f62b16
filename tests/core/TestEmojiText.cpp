#include <QStringList>

#include <gtest/gtest.h>

#include "EmojiText.h"

namespace
{

struct Recorder
{
    QStringList codes;
};

QString recordEmoji(const QString &hexCode, void *data)
{
    static_cast<Recorder *>(data)->codes.append(hexCode);
    return QStringLiteral("[EMOJI]");
}

QString u(char32_t c)
{
    return QString::fromUcs4(&c, 1);
}

TEST(EmojiTextTest, ReplaceEmoji)
{
    QString ascii;
    for (char c = 0x20; c < 0x7F; ++c)
        ascii += QLatin1Char(c);
    const QChar lonelyHigh(0xD83D);
    const QChar lonelyLow(0xDC00);

    struct Case
    {
        const char *label;
        QString text;
        QString expected;
        QStringList codes;
    };
    const QList<Case> cases = {
        {"empty", QString(), QString(), {}},
        {"digits and letters are never taken", ascii, ascii, {}},
        {"heavy check mark", QStringLiteral("Call 5 me ✔"), QStringLiteral("Call 5 me [EMOJI]"), {"2714"}},
        {"old private-use emoji", u(0xE415), "[EMOJI]", {"E415"}},
        {"first and last private-use emoji", u(0xE000) + u(0xE537), "[EMOJI][EMOJI]", {"E000", "E537"}},
        {"past the private-use range", u(0xE538) + u(0xF8FF) + u(0xBFFF), u(0xE538) + u(0xF8FF) + u(0xBFFF), {}},
        {"listed symbols", u(0x203C) + "-" + u(0x3030) + u(0x2B1C), "[EMOJI]-[EMOJI][EMOJI]", {"203C", "3030", "2B1C"}},
        {"unlisted neighbour", u(0x2713) + u(0x2715), u(0x2713) + u(0x2715), {}},
        {"pictograph", u(0x1F600), "[EMOJI]", {"1F600"}},
        {"ends of the pictograph range", u(0x1F000) + u(0x1F7FF), "[EMOJI][EMOJI]", {"1F000", "1F7FF"}},
        {"beyond it (high surrogate D83E)", u(0x1F800) + u(0x1F900), u(0x1F800) + u(0x1F900), {}},
        {"symbols first, then pictographs", "a" + u(0x1F600) + "b" + u(0x2714) + "c", "a[EMOJI]b[EMOJI]c",
         {"2714", "1F600"}},
        {"a lone high surrogate keeps the letter after it", QString(lonelyHigh) + "x" + u(0x2714),
         QString(lonelyHigh) + "x[EMOJI]", {"2714"}},
        {"broken text around a lone low surrogate is still scanned", u(0x1F600) + lonelyLow + u(0x1F600),
         "[EMOJI]" + QString(lonelyLow) + "[EMOJI]", {"1F600", "1F600"}},
        {"lone surrogate at the end", "5" + QString(lonelyHigh), "5" + QString(lonelyHigh), {}},
    };
    for (const Case &c : cases) {
        Recorder r;
        EXPECT_EQ(replaceEmoji(c.text, recordEmoji, &r), c.expected) << c.label;
        EXPECT_EQ(r.codes, c.codes) << c.label;
        EXPECT_EQ(replaceEmoji(c.text, emojiReplacement, nullptr), c.expected) << c.label;
    }
    EXPECT_EQ(replaceEmoji(QStringLiteral("✔"), nullptr, nullptr), QStringLiteral("✔"));
    EXPECT_EQ(emojiReplacement(QStringLiteral("1F600"), nullptr), QStringLiteral("[EMOJI]"));
}

QString bracket(const QRegularExpressionMatch &m, void *data)
{
    ++*static_cast<int *>(data);
    return QLatin1Char('<') + m.captured(0) + QLatin1Char('>');
}

TEST(EmojiTextTest, ReplaceWithCallback)
{
    struct Case
    {
        const char *label;
        const char *pattern;
        QString source;
        QString expected;
        int calls;
    };
    const QList<Case> cases = {
        {"no match", "\\d+", "abc", "abc", 0},
        {"matches inside", "\\d+", "a12b3c", "a<12>b<3>c", 2},
        {"matches at both ends", "\\d+", "1a2", "<1>a<2>", 2},
        {"whole text", "\\d+", "123", "<123>", 1},
        {"empty source", "\\d+", "", "", 0},
        {"a pattern matching nothing replaces nothing and ends", "x*", "abc", "abc", 0},
        {"empty matches beside real ones", "x*", "axxb", "a<xx>b", 1},
        {"anchored", "^a", "aa", "<a>a", 1},
        {"invalid expression leaves the text", "(", "a(b", "a(b", 0},
    };
    for (const Case &c : cases) {
        int calls = 0;
        EXPECT_EQ(replaceWithCallback(c.source, QRegularExpression(QString::fromLatin1(c.pattern)), bracket, &calls),
                  c.expected)
            << c.label;
        EXPECT_EQ(calls, c.calls) << c.label;
    }
    EXPECT_EQ(replaceWithCallback("a1", QRegularExpression("\\d"), nullptr, nullptr), QStringLiteral("a1"));
}

} // namespace
