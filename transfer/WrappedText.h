#pragma once

#include <QFont>
#include <QList>
#include <QPoint>
#include <QString>
#include <QTextLayout>

class QPainter;

// The font of printed pages and PDF files: the application font at 12
// points, measured with the screen's metrics whatever the paint device (the
// pages are set up at screen resolution, so both agree). Each thread keeps a
// copy of its own, since fonts are not safe to share between threads.
const QFont &pageFont();

// A text broken into lines at a width in the page font, the way the pages
// show it: at word boundaries, and inside a word only where one word is
// wider than a line, so that nothing runs off the page. "\n" starts a new
// line. An empty text is one empty line. Measuring and painting use this
// same layout, so a text always takes exactly the height it was given.
class WrappedText
{
public:
    WrappedText(const QString &text, int width);
    WrappedText(const WrappedText &) = delete;
    WrappedText &operator=(const WrappedText &) = delete;

    int height() const { return m_height; }
    int lineCount() const { return int(m_lineHeights.size()); }
    const QList<int> &lineHeights() const { return m_lineHeights; }

    // Paints the lines first to first + count - 1, the top of the first at
    // topLeft, in the painter's pen colour.
    void draw(QPainter &painter, const QPoint &topLeft, int first, int count) const;
    void draw(QPainter &painter, const QPoint &topLeft) const { draw(painter, topLeft, 0, lineCount()); }

private:
    QTextLayout m_layout;
    QList<int> m_lineHeights;
    QList<int> m_lineTops;
    int m_height = 0;
};

// The height of text wrapped to width in the page font.
int textHeight(const QString &text, int width);
