#pragma once

#include <QList>
#include <QTextBrowser>
#include <QUrl>

#include "_MsgMessage.h"

class QTextDocument;

// The conversation view: the messages of the list as HTML, fifty to a page,
// sent ones on the right and received ones on the left. The messages are not
// owned; clear() or setMessages() must drop them from here before the record
// set that holds them goes.
class SmsBrowser : public QTextBrowser
{
    Q_OBJECT

public:
    static constexpr int PageSize = 50;

    explicit SmsBrowser(QWidget *parent = nullptr);

    void setMessages(const QList<_MsgMessage *> &messages);
    const QList<_MsgMessage *> &messages() const { return m_messages; }
    void clear();

    int pageCount() const { return m_pageCount; }
    int currentPage() const { return m_currentPage; }

    // Shows the page that holds the message at position i of the list and
    // scrolls to it once control is back in the event loop.
    void showMessage(int i);

    void firstPage();
    void prevPage();
    void nextPage();
    void lastPage();

    // Puts page p (1-based) on show; a page out of range changes nothing.
    void renderPage(int p);
    // The HTML of page p; empty out of range.
    QString pageHtml(int p) const;

protected slots:
    void onAnchorClicked(const QUrl &link);

private:
    QList<_MsgMessage *> m_messages;
    int m_pageCount = 0;
    int m_currentPage = 0;
    QTextDocument *m_document;
};
