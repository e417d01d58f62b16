#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include "EmojiText.h"

// replaceEmoji against the two expressions it stands for, run through
// replaceWithCallback: the same text, and the callback called with the same
// codes in the same order.
namespace
{

struct Calls
{
    QStringList codes;
};

QString record(const QString &hex, void *data)
{
    static_cast<Calls *>(data)->codes << hex;
    return QStringLiteral("<%1>").arg(hex);
}

struct Reference
{
    EmojiCallback callback;
    void *data;
};

QString byExpression(const QString &text, Calls &calls)
{
    // The emoji as documented: the old private-use range and the symbol set,
    // then the pictographs U+1F000 to U+1F7FF.
    static const QRegularExpression symbols(QStringLiteral(
        "([\\x{E000}-\\x{E537}\\x{203C}\\x{2049}\\x{2139}\\x{2194}\\x{2195}\\x{21A9}\\x{21AA}\\x{231A}\\x{231B}"
        "\\x{23EB}\\x{23EC}\\x{23F0}\\x{23F3}\\x{24C2}\\x{25AA}\\x{25AB}\\x{25FB}\\x{25FC}\\x{25FD}\\x{25FE}"
        "\\x{2611}\\x{267B}\\x{2693}\\x{26AA}\\x{26AB}\\x{26C5}\\x{26D4}\\x{2705}\\x{2709}\\x{270F}\\x{2712}"
        "\\x{2714}\\x{2744}\\x{2747}\\x{274E}\\x{2795}\\x{2796}\\x{2797}\\x{27B0}\\x{2934}\\x{2935}\\x{2B1B}"
        "\\x{2B1C}\\x{3030}])"));
    static const QRegularExpression pictographs(QStringLiteral("([\\x{1F000}-\\x{1F7FF}])"));
    Reference ref{record, &calls};
    const QString once = replaceWithCallback(
        text, symbols,
        [](const QRegularExpressionMatch &m, void *data) {
            const auto *r = static_cast<Reference *>(data);
            return r->callback(QString::number(m.captured(1).at(0).unicode(), 16).toUpper(), r->data);
        },
        &ref);
    return replaceWithCallback(
        once, pictographs,
        [](const QRegularExpressionMatch &m, void *data) {
            const auto *r = static_cast<Reference *>(data);
            const QString c = m.captured(1);
            return r->callback(QString::number(quint32(QChar::surrogateToUcs4(c.at(0), c.at(1))), 16).toUpper(),
                               r->data);
        },
        &ref);
}

void expectSame(const QString &text)
{
    Calls direct;
    Calls expected;
    const QString got = replaceEmoji(text, record, &direct);
    EXPECT_EQ(got, byExpression(text, expected)) << qPrintable(QString::number(text.size()));
    EXPECT_EQ(direct.codes, expected.codes);
}

TEST(EmojiScan, EdgesOfTheSetsAndBrokenPairs)
{
    const char16_t texts[][8] = {
        {u'a', 0x203C, u'b'},
        {0x203B, 0x203D, 0x3030, 0x3031},
        {0xE000, 0xE537, 0xE538, 0xDFFF},
        {0xD83C, 0xDC00, 0xD83D, 0xDFFF},       // U+1F000 and U+1F7FF
        {0xD83E, 0xDC00, 0xD83B, 0xDFFF},       // U+1F800 and U+1EFFF: no pictographs
        {0xD83D},                               // a high half at the end
        {0xDE00, 0xD83D, 0xDE00},               // a low half first
        {0xD83D, 0xD83D, 0xDE00, 0x2714},       // a lone high before a pair
        {0xD83D, 0x2714, 0xDE00},               // a symbol between the halves
        {0x2714, 0xDC00, 0x2714, 0xD800},
    };
    for (const auto &t : texts) {
        qsizetype n = 0;
        while (n < 8 && t[n])
            ++n;
        expectSame(QString(reinterpret_cast<const QChar *>(t), n));
    }
    expectSame(QString());
    expectSame(QStringLiteral("plain text without any"));
}

TEST(EmojiScan, RandomTexts)
{
    const char16_t alphabet[] = {u'a', u' ', 0x2714, 0x2715, 0x3030, 0xE001, 0xE600, 0xD83C, 0xD83D, 0xD83E,
                                 0xDC00, 0xDE00, 0xDFFF, 0x203C, 0x26AA, 0x2B1C};
    QRandomGenerator random(4711);
    for (int round = 0; round < 3000; ++round) {
        QString text;
        const int n = int(random.bounded(12));
        for (int i = 0; i < n; ++i)
            text += QChar(alphabet[random.bounded(int(sizeof alphabet / sizeof *alphabet))]);
        expectSame(text);
    }
}

} // namespace
