#include "MessagePagePainter.h"

#include <QPagedPaintDevice>

#include "MessageText.h"
#include "WrappedText.h"

namespace
{

const QColor kSentColor(0, 128, 64);
const QColor kReceivedColor(0, 0, 255);
const QColor kTextColor(0, 0, 0);

// Header layouts kept at most; a print of many conversations starts over
// when there are more.
constexpr qsizetype kMaxHeads = 256;

} // namespace

MessagePagePainter::MessagePagePainter()
    : m_dates(MessageDateFormat::systemShort())
{
}

MessagePagePainter::~MessagePagePainter()
{
    if (m_painter.isActive())
        m_painter.end();
}

bool MessagePagePainter::begin(QPagedPaintDevice *device)
{
    if (!device)
        return false;
    return begin(device, device->pageLayout(), [device] { return device->newPage(); });
}

bool MessagePagePainter::begin(QPaintDevice *device, const QPageLayout &pageLayout, PageFeed nextPage)
{
    if (!device || m_painter.isActive())
        return false;
    const QRect pageRect = pageLayout.paintRectPixels(device->logicalDpiX());
    m_layout = MessagePageLayout(
        MessagePageLayout::contentRect(QSizeF(pageRect.size()), pageLayout.margins(QPageLayout::Point)));
    m_device = device;
    m_nextPage = std::move(nextPage);
    m_feedFailed = false;
    m_heads.clear();
    m_headChat = nullptr;
    m_chatHeads[0].reset();
    m_chatHeads[1].reset();
    if (!m_painter.begin(device))
        return false;
    m_painter.setFont(pageFont());
    drawPageNumber(m_layout.pageNumber());
    return true;
}

void MessagePagePainter::drawPageNumber(int page)
{
    m_painter.setPen(kTextColor);
    m_painter.drawText(m_layout.pageNumberRect(), Qt::AlignRight, QString::number(page));
}

void MessagePagePainter::startPage(int page)
{
    if (!m_nextPage || !m_nextPage())
        m_feedFailed = true;
    const QPen pen = m_painter.pen();
    drawPageNumber(page);
    m_painter.setPen(pen);
}

void MessagePagePainter::ensureSpace(int need)
{
    if (!m_painter.isActive())
        return;
    if (m_layout.ensureSpace(need))
        startPage(m_layout.pageNumber());
}

const WrappedText &MessagePagePainter::headOf(const _MsgMessage *message)
{
    const int side = message->is_from_me ? 1 : 0;
    if (message->chat != m_headChat) {
        m_headChat = message->chat;
        m_chatHeads[0].reset();
        m_chatHeads[1].reset();
    }
    if (!m_chatHeads[side]) {
        QString header = message->is_from_me ? QStringLiteral("To: ") : QStringLiteral("From: ");
        if (message->chat)
            header += message->chat->displayName(true);
        auto kept = m_heads.constFind(header);
        if (kept == m_heads.constEnd()) {
            if (m_heads.size() >= kMaxHeads)
                m_heads.clear();
            kept = m_heads.insert(header, std::make_shared<const WrappedText>(header, m_layout.width()));
        }
        m_chatHeads[side] = kept.value();
    }
    return *m_chatHeads[side];
}

void MessagePagePainter::drawMessage(const _MsgMessage *message)
{
    if (!message || !m_painter.isActive())
        return;
    const int width = m_layout.width();
    const WrappedText date(m_dates.format(message->date), width);
    const WrappedText &head = headOf(message);
    const WrappedText text(messageText(message), width);

    const QColor colour = message->is_from_me ? kSentColor : kReceivedColor;
    const QList<MessagePageLayout::Step> steps =
        m_layout.placeMessage(date.height(), head.height(), text.lineHeights());
    for (const MessagePageLayout::Step &step : steps) {
        switch (step.kind) {
        case MessagePageLayout::Step::NewPage:
            startPage(step.page);
            break;
        case MessagePageLayout::Step::Date:
            m_painter.setPen(colour);
            date.draw(m_painter, step.rect.topLeft());
            break;
        case MessagePageLayout::Step::Header:
            m_painter.setPen(colour);
            head.draw(m_painter, step.rect.topLeft());
            break;
        case MessagePageLayout::Step::Text:
            m_painter.setPen(kTextColor);
            text.draw(m_painter, step.rect.topLeft(), step.firstLine, step.lineCount);
            break;
        }
    }
}

bool MessagePagePainter::end()
{
    if (!m_painter.isActive())
        return false;
    const bool ended = m_painter.end();
    return ended && !m_feedFailed;
}
