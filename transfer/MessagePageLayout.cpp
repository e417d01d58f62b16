#include "MessagePageLayout.h"

#include <limits>

QRect MessagePageLayout::contentRect(const QSizeF &pageRect, const QMarginsF &marginsPoints)
{
    const int left = int(marginsPoints.left());
    const int top = int(marginsPoints.top());
    const int width = int(pageRect.width() - marginsPoints.left() - marginsPoints.right());
    const int height = int(pageRect.height() - marginsPoints.top() - marginsPoints.bottom());
    return QRect(left, top, width, height);
}

MessagePageLayout::MessagePageLayout(const QRect &content)
    : m_content(content)
    , m_y(content.top())
{
}

QRect MessagePageLayout::pageNumberRect() const
{
    return QRect(m_content.left(), m_content.bottom() + 2, m_content.right() - m_content.left() + 1, 18);
}

bool MessagePageLayout::hasRoomFor(int need) const
{
    // In 64 bits: a need near INT_MAX must not wrap round into "fits".
    const qint64 free = qint64(m_content.bottom()) - m_content.top() + 1 - m_y;
    return free >= need;
}

bool MessagePageLayout::ensureSpace(int need)
{
    if (hasRoomFor(need) || m_y <= m_content.top())
        return false;
    m_y = m_content.top();
    ++m_page;
    return true;
}

void MessagePageLayout::newPage(QList<Step> &steps)
{
    m_y = m_content.top();
    ++m_page;
    Step s;
    s.kind = Step::NewPage;
    s.rect = pageNumberRect();
    s.page = m_page;
    steps.append(s);
}

QList<MessagePageLayout::Step> MessagePageLayout::placeMessage(int dateHeight, int headerHeight,
                                                               const QList<int> &textLineHeights)
{
    QList<Step> steps;
    qint64 textHeight = 0;
    for (int h : textLineHeights)
        textHeight += h;
    const qint64 need = qint64(dateHeight) + headerHeight + textHeight + 10;
    if (ensureSpace(int(qMin<qint64>(need, std::numeric_limits<int>::max())))) {
        Step s;
        s.kind = Step::NewPage;
        s.rect = pageNumberRect();
        s.page = m_page;
        steps.append(s);
    }

    const int width = m_content.width();
    Step date;
    date.kind = Step::Date;
    date.rect = QRect(m_content.left(), m_y, width, dateHeight);
    steps.append(date);
    m_y += dateHeight + 5;

    Step header;
    header.kind = Step::Header;
    header.rect = QRect(m_content.left(), m_y, width, headerHeight);
    steps.append(header);
    m_y += headerHeight + 5;

    // Lines go into one block per page; a page is only left when something
    // is on it already.
    Step text;
    text.kind = Step::Text;
    text.rect = QRect(m_content.left(), m_y, width, 0);
    for (int i = 0; i < textLineHeights.size(); ++i) {
        const int h = textLineHeights.at(i);
        if (!hasRoomFor(h) && m_y > m_content.top()) {
            if (text.lineCount > 0)
                steps.append(text);
            newPage(steps);
            text.rect = QRect(m_content.left(), m_y, width, 0);
            text.firstLine = i;
            text.lineCount = 0;
        }
        text.rect.setHeight(text.rect.height() + h);
        ++text.lineCount;
        m_y += h;
    }
    steps.append(text);
    m_y += 30;
    return steps;
}
