#include <functional>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTranslator>

#include <gtest/gtest.h>

#include "MsgSetBuilder.h"
#include "RecordingShellOpener.h"
#include "SmsBrowser.h"

namespace
{

const QString kNextLink = QStringLiteral("<p><a href=\"/next_page\">&gt;&gt;Next Page</a></p>");
const QString kPrevLink = QStringLiteral("<p><a href=\"/pre_page\">&lt;&lt;Previous Page</a></p>");

// Every link target of the laid-out document.
QStringList documentLinks(const QTextDocument *document)
{
    QStringList links;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isAnchor() && !format.anchorHref().isEmpty())
                links.append(format.anchorHref());
        }
    }
    return links;
}

QList<_MsgMessage *> makeMessages(MsgSetBuilder &builder, _MsgChat *chat, _MsgHandle *sender, int n)
{
    QList<_MsgMessage *> list;
    for (int i = 1; i <= n; ++i) {
        _MsgMessage *m = builder.message(chat, i, i * 60, QStringLiteral("text %1").arg(i), sender);
        m->is_from_me = i % 2 == 0;
        list.append(m);
    }
    return list;
}

class SmsBrowserTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&m_translator);
        m_chat = b.chat(1, QStringLiteral("+1555"));
        m_ann = b.handle(m_chat, 1, QStringLiteral("+1555"), QStringLiteral("Ann"));
    }
    void TearDown() override { QCoreApplication::removeTranslator(&m_translator); }

    // n messages with rowids 1..n, received and sent in turn.
    QList<_MsgMessage *> messages(int n) { return makeMessages(b, m_chat, m_ann, n); }

    MsgSetBuilder b;
    _MsgChat *m_chat = nullptr;
    _MsgHandle *m_ann = nullptr;

private:
    QTranslator m_translator;
};

TEST_F(SmsBrowserTest, StartsEmptyWithItsStyleSheet)
{
    SmsBrowser browser;
    EXPECT_EQ(browser.pageCount(), 0);
    EXPECT_EQ(browser.currentPage(), 0);
    EXPECT_TRUE(browser.toPlainText().isEmpty());
    EXPECT_FALSE(browser.openLinks());
    EXPECT_EQ(browser.document()->parent(), &browser);
    EXPECT_EQ(browser.document()->defaultStyleSheet(),
        QStringLiteral(".t{font-size:13px;padding:5px 10px} .c,.sc{font-size:14px;padding:5px 10px;"
                       "background-color:#EEEEEE;}.send{/*background-color:#CEE0EC;*/} .send .t{color:#008040;}"
                       ".rec{/*background-color:#F5FFE2;*/} .rec .t{color:#0000FF;}"));
}

TEST_F(SmsBrowserTest, PagesOfFifty)
{
    struct Case
    {
        int count;
        int pages;
        QList<int> perPage;
    };
    const Case cases[] = {
        {1, 1, {1}},
        {49, 1, {49}},
        {50, 1, {50}},
        {51, 2, {50, 1}},
        {100, 2, {50, 50}},
        {101, 3, {50, 50, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.count);
        MsgSetBuilder own;
        _MsgChat *chat = own.chat(1, QStringLiteral("+1555"));
        SmsBrowser browser;
        browser.setMessages(makeMessages(own, chat, own.handle(chat, 1, QStringLiteral("+1555")), c.count));
        ASSERT_EQ(browser.pageCount(), c.pages);
        EXPECT_EQ(browser.currentPage(), 1);
        for (int p = 1; p <= c.pages; ++p) {
            SCOPED_TRACE(p);
            const QString html = browser.pageHtml(p);
            EXPECT_EQ(html.count(QStringLiteral("<table ")), c.perPage.at(p - 1));
            EXPECT_EQ(html.contains(kPrevLink), p != 1);
            EXPECT_EQ(html.contains(kNextLink), p != c.pages);
            EXPECT_TRUE(html.startsWith(QStringLiteral("<a name=\"start\"></a>")));
            EXPECT_TRUE(html.endsWith(QStringLiteral("<a name=\"end\"></a>")));
            // The first message of the page is the one at (p - 1) * 50.
            EXPECT_TRUE(html.contains(QStringLiteral("<a name=\"sms_%1\"></a>").arg((p - 1) * 50 + 1)));
        }
        EXPECT_TRUE(browser.pageHtml(0).isEmpty());
        EXPECT_TRUE(browser.pageHtml(c.pages + 1).isEmpty());
    }
}

TEST_F(SmsBrowserTest, LinksOfTheTwoPagesOfFiftyOne)
{
    SmsBrowser browser;
    browser.setMessages(messages(51));
    EXPECT_EQ(documentLinks(browser.document()), QStringList{QStringLiteral("/next_page")});
    browser.nextPage();
    EXPECT_EQ(browser.currentPage(), 2);
    EXPECT_EQ(documentLinks(browser.document()), QStringList{QStringLiteral("/pre_page")});
    EXPECT_TRUE(browser.toPlainText().contains(QStringLiteral("text 51")));
    EXPECT_FALSE(browser.toPlainText().contains(QStringLiteral("text 50\n")));
}

TEST_F(SmsBrowserTest, ExactHtmlOfATwoMessagePage)
{
    _MsgMessage *received = b.message(m_chat, 7, 0, QStringLiteral("hi"), m_ann);
    _MsgMessage *sent = b.message(m_chat, 8, 60, QStringLiteral("yo"));
    sent->is_from_me = 1;
    SmsBrowser browser;
    browser.setMessages({received, sent});
    EXPECT_EQ(browser.pageHtml(1),
        QStringLiteral("<a name=\"start\"></a>"
                       "<a name=\"sms_7\"></a>"
                       "<table class=\"rec\" width=\"100%\" cellpadding=\"0\" border=\"0\" cellspacing=\"0\">"
                       "<tr><td width=\"50%\" class=\"t\">1/1/01 12:00 AM<br/>From: Ann (+1555)</td>"
                       "<td width=\"50%\" class=\"st\"></td></tr>"
                       "<tr><td width=\"50%\" class=\"c\">hi</td><td width=\"50%\" class=\"sc\"></td></tr>"
                       "</table>"
                       "<a name=\"sms_8\"></a>"
                       "<table class=\"send\" width=\"100%\" cellpadding=\"0\" border=\"0\" cellspacing=\"0\">"
                       "<tr><td width=\"50%\" class=\"st\"></td>"
                       "<td width=\"50%\" class=\"t\">1/1/01 12:01 AM<br/>To: Ann (+1555)</td></tr>"
                       "<tr><td width=\"50%\" class=\"sc\"></td><td width=\"50%\" class=\"c\">yo</td></tr>"
                       "</table>"
                       "<a name=\"end\"></a>"));
}

TEST_F(SmsBrowserTest, PagingLinksAroundTheMessages)
{
    SmsBrowser browser;
    browser.setMessages(messages(120));
    const QString middle = browser.pageHtml(2);
    EXPECT_TRUE(middle.startsWith(QStringLiteral("<a name=\"start\"></a>") + kPrevLink
                                  + QStringLiteral("<a name=\"sms_51\"></a><table ")));
    EXPECT_TRUE(middle.endsWith(QStringLiteral("</table>") + kNextLink + QStringLiteral("<a name=\"end\"></a>")));
}

TEST_F(SmsBrowserTest, HostileContactNameRendersAsText)
{
    m_ann->_ct_name = QStringLiteral("<a href=\"file:///etc/passwd\">Eve</a> & <b>Co</b> %1");
    _MsgMessage *m = b.message(m_chat, 1, 0, QStringLiteral("x"), m_ann);
    SmsBrowser browser;
    browser.setMessages({m});
    const QString html = browser.pageHtml(1);
    EXPECT_TRUE(html.contains(QStringLiteral(
        "From: &lt;a href=\"file:///etc/passwd\"&gt;Eve&lt;/a&gt; &amp; &lt;b&gt;Co&lt;/b&gt; %1 (+1555)</td>")));
    EXPECT_TRUE(documentLinks(browser.document()).isEmpty());
    EXPECT_TRUE(browser.toPlainText().contains(m_ann->_ct_name));
}

TEST_F(SmsBrowserTest, MessageTextIsEscaped)
{
    _MsgMessage *m = b.message(m_chat, 1, 0, QStringLiteral("a <b>bold</b> & x\r\ny"), m_ann);
    SmsBrowser browser;
    browser.setMessages({m});
    EXPECT_TRUE(browser.pageHtml(1).contains(
        QStringLiteral("class=\"c\">a &lt;b&gt;bold&lt;/b&gt; &amp; x<br/>y</td>")));
    const QString shown = browser.toPlainText();
    // The line end is one break: plain text gives it back as one "\n".
    EXPECT_TRUE(shown.contains(QStringLiteral("a <b>bold</b> & x\ny\n")));
    EXPECT_FALSE(shown.contains(QLatin1Char('\r')));
}

TEST_F(SmsBrowserTest, ShowMessageGoesToItsPage)
{
    struct Step
    {
        int position;
        int page;
    };
    const Step steps[] = {
        {49, 1}, {50, 2}, {99, 2}, {0, 1}, {100, 3}, {-1, 3}, {101, 3}, {1000, 3},
    };
    SmsBrowser browser;
    const QList<_MsgMessage *> list = messages(101);
    browser.setMessages(list);
    for (const Step &s : steps) {
        SCOPED_TRACE(s.position);
        browser.showMessage(s.position);
        EXPECT_EQ(browser.currentPage(), s.page);
        if (s.position >= 0 && s.position < list.size()) {
            EXPECT_TRUE(browser.toPlainText().contains(QStringLiteral("text %1").arg(s.position + 1)));
        }
    }
}

TEST_F(SmsBrowserTest, PageCommandsStopAtTheEnds)
{
    SmsBrowser browser;
    browser.setMessages(messages(120));
    struct Step
    {
        const char *name;
        void (SmsBrowser::*command)();
        int page;
    };
    const Step steps[] = {
        {"PrevOnFirst", &SmsBrowser::prevPage, 1},
        {"Next", &SmsBrowser::nextPage, 2},
        {"Next", &SmsBrowser::nextPage, 3},
        {"NextOnLast", &SmsBrowser::nextPage, 3},
        {"First", &SmsBrowser::firstPage, 1},
        {"Last", &SmsBrowser::lastPage, 3},
        {"Prev", &SmsBrowser::prevPage, 2},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.name);
        (browser.*s.command)();
        EXPECT_EQ(browser.currentPage(), s.page);
        EXPECT_TRUE(browser.toPlainText().contains(QStringLiteral("text %1\n").arg((s.page - 1) * 50 + 2)));
    }
}

TEST_F(SmsBrowserTest, ClearingForgetsThePages)
{
    // After clear() no command may reach for the messages that were there.
    struct Case
    {
        const char *name;
        std::function<void(SmsBrowser &)> clear;
    };
    const Case cases[] = {
        {"Clear", [](SmsBrowser &s) { s.clear(); }},
        {"EmptyList", [](SmsBrowser &s) { s.setMessages({}); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MsgSetBuilder own;
        _MsgChat *chat = own.chat(1, QStringLiteral("+1555"));
        SmsBrowser browser;
        browser.setMessages(makeMessages(own, chat, own.handle(chat, 1, QStringLiteral("+1555")), 120));
        browser.nextPage();
        c.clear(browser);
        EXPECT_TRUE(browser.messages().isEmpty());
        EXPECT_EQ(browser.pageCount(), 0);
        EXPECT_EQ(browser.currentPage(), 0);
        EXPECT_TRUE(browser.toPlainText().isEmpty());
        browser.nextPage();
        browser.lastPage();
        browser.firstPage();
        browser.prevPage();
        browser.renderPage(1);
        browser.showMessage(0);
        EXPECT_EQ(browser.currentPage(), 0);
        EXPECT_TRUE(browser.toPlainText().isEmpty());
    }
}

TEST_F(SmsBrowserTest, NewListStartsOnTheFirstPage)
{
    SmsBrowser browser;
    browser.setMessages(messages(120));
    browser.lastPage();
    browser.setMessages(browser.messages().mid(0, 60));
    EXPECT_EQ(browser.pageCount(), 2);
    EXPECT_EQ(browser.currentPage(), 1);
}

TEST_F(SmsBrowserTest, LinkRule)
{
    RecordingShellOpener desktop;
    SmsBrowser browser;
    browser.setMessages(messages(120));

    emit browser.anchorClicked(QUrl(QStringLiteral("/next_page")));
    EXPECT_EQ(browser.currentPage(), 2);
    emit browser.anchorClicked(QUrl(QStringLiteral("/next_page")));
    EXPECT_EQ(browser.currentPage(), 3);
    emit browser.anchorClicked(QUrl(QStringLiteral("/pre_page")));
    EXPECT_EQ(browser.currentPage(), 2);

    emit browser.anchorClicked(QUrl(QStringLiteral("https://example.org/x")));
    emit browser.anchorClicked(QUrl(QStringLiteral("#sms_3")));
    EXPECT_TRUE(desktop.urls().isEmpty());
    EXPECT_EQ(browser.currentPage(), 2);

    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/tmp/some folder/picture.jpg"));
    emit browser.anchorClicked(file);
    EXPECT_EQ(desktop.urls(), QList<QUrl>{file});
    EXPECT_EQ(browser.currentPage(), 2);
}

TEST_F(SmsBrowserTest, ScrollsToTheMessageFromTheEventLoop)
{
    SmsBrowser browser;
    browser.resize(400, 200);
    browser.show();
    browser.setMessages(messages(50));
    QCoreApplication::processEvents();
    ASSERT_GT(browser.verticalScrollBar()->maximum(), 0);
    ASSERT_EQ(browser.verticalScrollBar()->value(), 0);

    browser.showMessage(45);
    EXPECT_EQ(browser.verticalScrollBar()->value(), 0);
    QCoreApplication::processEvents();
    EXPECT_GT(browser.verticalScrollBar()->value(), 0);
}

} // namespace

