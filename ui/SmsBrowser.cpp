#include "SmsBrowser.h"


#include <QLocale>
#include <QTextDocument>

#include "DesktopOpening.h"
#include "HtmlEscape.h"
#include "MessageIdentity.h"
#include "MessageText.h"

namespace
{

const char kDefaultStyleSheet[] =
    ".t{font-size:13px;padding:5px 10px} .c,.sc{font-size:14px;padding:5px 10px;background-color:#EEEEEE;}"
    ".send{/*background-color:#CEE0EC;*/} .send .t{color:#008040;}"
    ".rec{/*background-color:#F5FFE2;*/} .rec .t{color:#0000FF;}";

const QString kPrevPagePath = QStringLiteral("/pre_page");
const QString kNextPagePath = QStringLiteral("/next_page");

// Shows a local file or folder in the desktop's file manager.

} // namespace

SmsBrowser::SmsBrowser(QWidget *parent)
    : QTextBrowser(parent)
    , m_document(new QTextDocument(this))
{
    m_document->setDefaultStyleSheet(QString::fromLatin1(kDefaultStyleSheet));
    setDocument(m_document);
    setOpenLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, &SmsBrowser::onAnchorClicked);
}

void SmsBrowser::setMessages(const QList<_MsgMessage *> &messages)
{
    m_messages = messages;
    if (m_messages.isEmpty()) {
        m_pageCount = 0;
        m_currentPage = 0;
        setUpdatesEnabled(false);
        m_document->setHtml(QString());
        setUpdatesEnabled(true);
        return;
    }
    m_pageCount = int((m_messages.size() + PageSize - 1) / PageSize);
    firstPage();
}

void SmsBrowser::clear()
{
    // The page counters go with the list: a later page command must not
    // address messages that are no longer here.
    m_messages.clear();
    m_pageCount = 0;
    m_currentPage = 0;
    setUpdatesEnabled(false);
    m_document->setHtml(QString());
    setUpdatesEnabled(true);
}

void SmsBrowser::showMessage(int i)
{
    if (i < 0 || i >= m_messages.size())
        return;
    const int page = i / PageSize + 1;
    if (page != m_currentPage) {
        m_currentPage = page;
        renderPage(page);
    }
    const QString anchor = QStringLiteral("sms_%1").arg(m_messages.at(i)->rowid);
    // The view lays the new page out only after this handler returns.
    QMetaObject::invokeMethod(this, "scrollToAnchor", Qt::QueuedConnection, Q_ARG(QString, anchor));
}

void SmsBrowser::firstPage()
{
    if (m_pageCount < 1)
        return;
    m_currentPage = 1;
    renderPage(m_currentPage);
    moveCursor(QTextCursor::Start);
}

void SmsBrowser::prevPage()
{
    if (m_currentPage < 2)
        return;
    --m_currentPage;
    renderPage(m_currentPage);
    moveCursor(QTextCursor::End);
}

void SmsBrowser::nextPage()
{
    if (m_currentPage >= m_pageCount)
        return;
    ++m_currentPage;
    renderPage(m_currentPage);
    moveCursor(QTextCursor::Start);
}

void SmsBrowser::lastPage()
{
    if (m_pageCount < 1)
        return;
    m_currentPage = m_pageCount;
    renderPage(m_currentPage);
    moveCursor(QTextCursor::End);
}

void SmsBrowser::renderPage(int p)
{
    if (p <= 0 || p > m_pageCount)
        return;
    const QString html = pageHtml(p);
    setUpdatesEnabled(false);
    m_document->setHtml(html);
    setUpdatesEnabled(true);
}

QString SmsBrowser::pageHtml(int p) const
{
    if (p <= 0 || p > m_pageCount)
        return QString();
    const qsizetype first = qsizetype(p - 1) * PageSize;
    const qsizetype end = qMin(first + PageSize, m_messages.size());
    if (first >= end)
        return QString();

    const QLocale locale;
    const QString to = tr("To:");
    const QString from = tr("From:");

    QString html;
    html.reserve(int(end - first) * 600);
    html += QLatin1String("<a name=\"start\"></a>");
    if (p != 1)
        html += QLatin1String("<p><a href=\"/pre_page\">&lt;&lt;") + tr("Previous Page") + QLatin1String("</a></p>");
    for (qsizetype i = first; i < end; ++i) {
        const _MsgMessage *m = m_messages.at(i);
        const bool sent = m->is_from_me != 0;
        html += QLatin1String("<a name=\"sms_") + QString::number(m->rowid) + QLatin1String("\"></a>");
        html += QLatin1String("<table class=\"") + (sent ? QLatin1String("send") : QLatin1String("rec"))
            + QLatin1String("\" width=\"100%\" cellpadding=\"0\" border=\"0\" cellspacing=\"0\">");
        // The sender's name and the date come from the data like the text
        // does, so they are escaped too: a name holding "<" or "&" shows as
        // typed and cannot add markup or links to the page.
        const QString header = QLatin1String("<td width=\"50%\" class=\"t\">")
            + htmlEscape(locale.toString(appleTimeToDateTime(m->date), QLocale::ShortFormat))
            + QLatin1String("<br/>") + (sent ? to : from) + QLatin1Char(' ') + htmlEscape(m->senderName())
            + QLatin1String("</td>");
        const QString body =
            QLatin1String("<td width=\"50%\" class=\"c\">") + htmlEscape(messageText(m)) + QLatin1String("</td>");
        if (sent) {
            html += QLatin1String("<tr><td width=\"50%\" class=\"st\"></td>") + header + QLatin1String("</tr>");
            html += QLatin1String("<tr><td width=\"50%\" class=\"sc\"></td>") + body + QLatin1String("</tr>");
        } else {
            html += QLatin1String("<tr>") + header + QLatin1String("<td width=\"50%\" class=\"st\"></td></tr>");
            html += QLatin1String("<tr>") + body + QLatin1String("<td width=\"50%\" class=\"sc\"></td></tr>");
        }
        html += QLatin1String("</table>");
    }
    if (p != m_pageCount)
        html += QLatin1String("<p><a href=\"/next_page\">&gt;&gt;") + tr("Next Page") + QLatin1String("</a></p>");
    html += QLatin1String("<a name=\"end\"></a>");
    return html;
}

void SmsBrowser::onAnchorClicked(const QUrl &link)
{
    const QString path = link.path();
    if (path == kPrevPagePath)
        prevPage();
    else if (path == kNextPagePath)
        nextPage();
    else if (link.isLocalFile())
        openFolderOrTell(link.toLocalFile());
}
