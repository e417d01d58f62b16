#pragma once

#include <QList>
#include <QMarginsF>
#include <QRect>
#include <QSizeF>

// Where messages go on printed pages and in PDF files: pure arithmetic in
// painter units, apart from any paint device, so that page breaks can be
// checked without a printer.
//
// Inside the content rectangle each message takes its date line, 5 units, its
// "To:"/"From:" line, 5 units, its text and 30 units below. The page number
// sits right-aligned under the content rectangle. The free height of a page
// is counted as (bottom - top + 1) - y, with y starting at top.
class MessagePageLayout
{
public:
    struct Step
    {
        enum Kind
        {
            NewPage, // start the next page and draw its number in rect
            Date,
            Header,
            Text // the text's lines firstLine .. firstLine + lineCount - 1
        };
        Kind kind = NewPage;
        QRect rect;
        int page = 0; // NewPage: the new page's number
        int firstLine = 0;
        int lineCount = 0;

        bool operator==(const Step &o) const
        {
            return kind == o.kind && rect == o.rect && page == o.page && firstLine == o.firstLine
                   && lineCount == o.lineCount;
        }
    };

    // The content rectangle for a page rectangle in device units and page
    // margins in points, which are taken as device units as they are:
    // left and top are the margins, width and height the page's less both
    // margins (each cut to an integer).
    static QRect contentRect(const QSizeF &pageRect, const QMarginsF &marginsPoints);

    // A null content rectangle; nothing fits.
    MessagePageLayout() = default;
    // Page 1, y at the top of the content rectangle.
    explicit MessagePageLayout(const QRect &content);

    const QRect &content() const { return m_content; }
    int y() const { return m_y; }
    int pageNumber() const { return m_page; }
    int width() const { return m_content.width(); }
    // Where the current page's number is drawn: from x = left and
    // y = bottom + 2, the content's width wide and 18 high.
    QRect pageNumberRect() const;

    // Starts the next page when less than need is left on this one; a page
    // that holds nothing yet is kept, since the next one would be no taller.
    // Returns whether a page was started.
    bool ensureSpace(int need);

    // Places one message whose date takes dateHeight, whose header takes
    // headerHeight and whose text lines take textLineHeights. A message that
    // fits on no page starts at the top of one and its text goes on over the
    // following pages line by line, so that no line runs off a page.
    QList<Step> placeMessage(int dateHeight, int headerHeight, const QList<int> &textLineHeights);

private:
    bool hasRoomFor(int need) const;
    void newPage(QList<Step> &steps);

    QRect m_content;
    int m_y = 0;
    int m_page = 1;
};
