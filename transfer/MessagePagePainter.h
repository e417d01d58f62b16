#pragma once

#include <functional>
#include <memory>

#include <QHash>
#include <QString>

#include <QPageLayout>
#include <QPainter>

#include "MessagePageLayout.h"
#include "MessageDateFormat.h"
#include "_MsgMessage.h"

class QPagedPaintDevice;
class WrappedText;
class QPaintDevice;

// Paints messages onto pages: per message the date, "To: "/"From: " with the
// conversation's name (both green for a sent message, blue for a received
// one) and the text in black, each wrapped to the content width, with the
// page number under the content of every page. Where things go is decided by
// MessagePageLayout.
class MessagePagePainter
{
public:
    // Starts the next sheet; false when the device could not.
    using PageFeed = std::function<bool()>;

    MessagePagePainter();
    ~MessagePagePainter();
    MessagePagePainter(const MessagePagePainter &) = delete;
    MessagePagePainter &operator=(const MessagePagePainter &) = delete;

    // Begins painting on a printer or a PDF writer, laid out by its page
    // layout, and draws page number 1. False when painting could not begin;
    // drawing then has no effect.
    bool begin(QPagedPaintDevice *device);
    // The same on any paint device, whose pages are described by pageLayout
    // and started by nextPage (a test paints into a recording device).
    bool begin(QPaintDevice *device, const QPageLayout &pageLayout, PageFeed nextPage);

    bool isActive() const { return m_painter.isActive(); }
    const MessagePageLayout &layout() const { return m_layout; }

    // Starts a new page when less than need is left on this one.
    void ensureSpace(int need);
    void drawMessage(const _MsgMessage *message);
    // Ends painting, which completes a PDF file. False when the device
    // reported a failure (or painting never began).
    bool end();

private:
    void startPage(int page);
    void drawPageNumber(int page);

    QPaintDevice *m_device = nullptr; // not owned
    PageFeed m_nextPage;
    QPainter m_painter;
    MessagePageLayout m_layout;
    bool m_feedFailed = false;
    MessageDateFormat m_dates;
    // The "To:"/"From:" lines laid out so far at the content width: every
    // message of a conversation has one of the same two.
    QHash<QString, std::shared_ptr<const WrappedText>> m_heads;
    // The two of the conversation drawn last (received, sent): the messages
    // of a conversation come together, and its name is made only once.
    const _MsgChat *m_headChat = nullptr;
    std::shared_ptr<const WrappedText> m_chatHeads[2];
    // Lays out (or finds) the header of a message.
    const WrappedText &headOf(const _MsgMessage *message);
};
