#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QThread>

#include <gtest/gtest.h>

#include "WrappedText.h"

namespace
{

constexpr int kWidth = 699; // the content width of an A4 page at screen resolution

TEST(WrappedTextTest, Heights)
{
    const int line = textHeight(QStringLiteral("x"), kWidth);
    ASSERT_GT(line, 0);
    // Room for "aaaa" but not for "aaaa b".
    const int fourLetters = QFontMetrics(pageFont()).horizontalAdvance(QStringLiteral("aaaa")) + 2;
    struct Case
    {
        const char *label;
        QString text;
        int width;
        int lines;
    };
    const QList<Case> cases = {
        {"empty is one line", QString(), kWidth, 1},
        {"short", "hello world", kWidth, 1},
        {"line feed", "a\nb", kWidth, 2},
        {"blank line", "a\n\nb", kWidth, 3},
        {"carriage return and line feed: one break", "a\r\nb", kWidth, 2},
        {"a lone carriage return breaks nothing", "a\rb", kWidth, 1},
        {"wrapped at word boundaries", "aaaa bbbb cccc", fourLetters, 3},
        // A word wider than a line is broken inside rather than running off the page.
        {"one long word", QString(400, QLatin1Char('w')), kWidth, 0},
    };
    for (const Case &c : cases) {
        const WrappedText wrapped(c.text, c.width);
        if (c.lines > 0) {
            EXPECT_EQ(wrapped.lineCount(), c.lines) << c.label;
            EXPECT_EQ(wrapped.height(), c.lines * line) << c.label;
        } else {
            EXPECT_GT(wrapped.lineCount(), 1) << c.label;
        }
        EXPECT_EQ(textHeight(c.text, c.width), wrapped.height()) << c.label;
        int sum = 0;
        for (int h : wrapped.lineHeights())
            sum += h;
        EXPECT_EQ(sum, wrapped.height()) << c.label;
    }
}

TEST(WrappedTextTest, NarrowerWrapsMore)
{
    const QString text = QStringLiteral("The quick brown fox jumps over the lazy dog. ").repeated(20);
    EXPECT_GT(textHeight(text, 200), textHeight(text, 400));
    EXPECT_GT(textHeight(text, 400), textHeight(text, kWidth));
}

TEST(WrappedTextTest, PageFontIsTheApplicationFontAt12Points)
{
    EXPECT_EQ(pageFont().pointSize(), 12);
    EXPECT_EQ(pageFont().family(), QGuiApplication::font().family());
}

TEST(WrappedTextTest, MeasuresOnAWorkerThread)
{
    const QString text = QStringLiteral("some words to wrap ").repeated(50);
    const int here = textHeight(text, 300);
    int there = -1;
    QThread *worker = QThread::create([&] { there = textHeight(text, 300); });
    worker->start();
    worker->wait();
    delete worker;
    EXPECT_EQ(there, here);
}

TEST(WrappedTextTest, DrawsInThePenColour)
{
    QImage image(300, 100, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        p.setPen(QColor(0, 0, 255));
        WrappedText(QStringLiteral("█████"), 300).draw(p, QPoint(10, 10));
    }
    bool blue = false;
    bool other = false;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (c == qRgb(0, 0, 255))
                blue = true;
            else if (c != qRgb(255, 255, 255) && qRed(c) != qGreen(c))
                other = true;
        }
    }
    EXPECT_TRUE(blue);
    EXPECT_FALSE(other);
}

} // namespace
