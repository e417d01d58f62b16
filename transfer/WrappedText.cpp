#include "WrappedText.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTextLine>
#include <QTextOption>

#include <cmath>

const QFont &pageFont()
{
    thread_local const QFont font = [] {
        QFont f = QGuiApplication::font();
        f.setPointSize(12);
        return f;
    }();
    return font;
}

namespace
{

QString layoutText(const QString &text)
{
    // A lone or paired carriage return is no line break of its own, as in
    // Qt's other text painting; a line feed is.
    QString s = text;
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QChar::LineSeparator);
    return s;
}

} // namespace

WrappedText::WrappedText(const QString &text, int width)
    : m_layout(layoutText(text), pageFont())
{
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_layout.setTextOption(option);
    m_layout.setCacheEnabled(true);

    const qreal lineWidth = qMax(1, width);
    m_layout.beginLayout();
    for (;;) {
        QTextLine line = m_layout.createLine();
        if (!line.isValid())
            break;
        line.setLeadingIncluded(true);
        line.setLineWidth(lineWidth);
        line.setPosition(QPointF(0, m_height));
        const int h = int(std::ceil(line.height()));
        m_lineTops.append(m_height);
        m_lineHeights.append(h);
        m_height += h;
    }
    m_layout.endLayout();
}

void WrappedText::draw(QPainter &painter, const QPoint &topLeft, int first, int count) const
{
    if (first < 0 || count <= 0 || first >= lineCount())
        return;
    const int last = qMin(lineCount(), first + count);
    // Lines were laid out at their own running tops; shifting by the first
    // one's top puts it at topLeft.
    const QPointF origin(topLeft.x(), topLeft.y() - m_lineTops.at(first));
    for (int i = first; i < last; ++i)
        m_layout.lineAt(i).draw(&painter, origin);
}

int textHeight(const QString &text, int width)
{
    return WrappedText(text, width).height();
}
