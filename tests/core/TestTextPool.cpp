#include <QByteArray>

#include <gtest/gtest.h>

#include "TextPool.h"

namespace
{

TEST(TextPool, GivesWhatFromUtf8Gives)
{
    const QByteArray longText(65, 'x');
    const struct
    {
        const char *name;
        QByteArrayView utf8;
    } cases[] = {
        {"null", QByteArrayView()},
        {"empty", QByteArrayView("", 0)},
        {"ascii", QByteArrayView("iMessage")},
        {"non-ascii", QByteArrayView("Zo\xC3\xAB \xF0\x9F\x8E\x82")},
        {"invalid UTF-8", QByteArrayView("\xFF\xFE", 2)},
        {"embedded zero", QByteArrayView("a\0b", 3)},
        {"longer than kept", QByteArrayView(longText)},
    };
    TextPool pool;
    for (const auto &c : cases) {
        for (int round = 0; round < 2; ++round) {
            const QString text = pool.text(c.utf8);
            const QString expected = QString::fromUtf8(c.utf8);
            EXPECT_EQ(text, expected) << c.name;
            EXPECT_EQ(text.isNull(), expected.isNull()) << c.name;
            EXPECT_EQ(text.size(), expected.size()) << c.name;
        }
    }
}

TEST(TextPool, RepeatedTextsShareOneCopy)
{
    TextPool pool;
    // The bytes come from buffers of their own each time, as a row's do.
    const QString first = pool.text(QByteArray("SMS"));
    const QString second = pool.text(QByteArray("SMS"));
    EXPECT_EQ(first.constData(), second.constData());
    EXPECT_NE(pool.text(QByteArray("iMessage")).constData(), first.constData());
    // A shared text changed by one holder leaves the others as they were.
    QString changed = second;
    changed += QLatin1Char('!');
    EXPECT_EQ(pool.text(QByteArray("SMS")), QStringLiteral("SMS"));
    EXPECT_EQ(first, QStringLiteral("SMS"));
}

TEST(TextPool, ManyDistinctTextsStayCorrect)
{
    // More texts than the pool has places: those that find their place taken
    // are made afresh, never taken for another.
    TextPool pool;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 2000; ++i) {
            const QByteArray utf8 = "account-" + QByteArray::number(i);
            EXPECT_EQ(pool.text(utf8), QString::fromLatin1(utf8)) << i;
        }
    }
}

} // namespace
