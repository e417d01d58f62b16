#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

#include "ExportFileReader.h"
#include "ExportSMSHtml.h"
#include "MsgSetBuilder.h"

namespace
{

// UTC and the C locale: short dates read "d MMM yyyy HH:mm:ss".
constexpr int kDate = 400000000; // 4 Sep 2013 15:06:40

const QByteArray kHead =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">"
    "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head>"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />"
    "<title>Quenmarvile Larkspan</title></head><body>\n";
const QByteArray kTail = "</body></html>";

QByteArray exportHtml(const QList<const _MsgMessage *> &messages, const QString &path)
{
    ExportSMSHtml html(path);
    html.begin();
    for (const _MsgMessage *m : messages)
        html.write(m);
    html.end();
    return readExportedFile(path);
}

// The body between the head and the tail.
QByteArray entries(const QByteArray &page)
{
    if (!page.startsWith(kHead) || !page.endsWith(kTail))
        return "<not a page>";
    return page.mid(kHead.size(), page.size() - kHead.size() - kTail.size());
}

TEST(ExportSMSHtmlTest, EmptyPage)
{
    QTemporaryDir dir;
    EXPECT_EQ(exportHtml({}, dir.filePath("e.html")), kHead + kTail);
}

TEST(ExportSMSHtmlTest, Entries)
{
    struct Case
    {
        const char *label;
        bool fromMe;
        bool withChat;
        QString contactName;
        QString text;
        QByteArray entry;
    };
    const QList<Case> cases = {
        {"received", false, true, "Ann", "hello",
         "<a name=\"sms7\"></a><div style=\"color:#0000FF;font-size:16px;\"><div>4 Sep 2013 15:06:40</div>"
         "<div>From: Ann (+15550001)</div></div><div style=\"font-size:14px;\">hello</div><br/><br/>\n"},
        {"sent", true, true, "Ann", "bye",
         "<a name=\"sms7\"></a><div style=\"color:#008040;font-size:16px;\"><div>4 Sep 2013 15:06:40</div>"
         "<div>To: Ann (+15550001)</div></div><div style=\"font-size:14px;\">bye</div><br/><br/>\n"},
        {"markup shows as characters", false, true, "Ann", "<b>bold</b> & co",
         "<a name=\"sms7\"></a><div style=\"color:#0000FF;font-size:16px;\"><div>4 Sep 2013 15:06:40</div>"
         "<div>From: Ann (+15550001)</div></div>"
         "<div style=\"font-size:14px;\">&lt;b&gt;bold&lt;/b&gt; &amp; co</div><br/><br/>\n"},
        {"each line break one <br/>", false, true, "Ann", "one\r\ntwo\nthree",
         "<a name=\"sms7\"></a><div style=\"color:#0000FF;font-size:16px;\"><div>4 Sep 2013 15:06:40</div>"
         "<div>From: Ann (+15550001)</div></div>"
         "<div style=\"font-size:14px;\">one<br/>two<br/>three</div><br/><br/>\n"},
        {"a lone carriage return stays, repeated marks each change", false, true, "Ann", "a\rb\r\r\nc&&d\n\n<>e",
         "<a name=\"sms7\"></a><div style=\"color:#0000FF;font-size:16px;\"><div>4 Sep 2013 15:06:40</div>"
         "<div>From: Ann (+15550001)</div></div>"
         "<div style=\"font-size:14px;\">a\rb\r<br/>c&amp;&amp;d<br/><br/>&lt;&gt;e</div><br/><br/>\n"},
        {"placeholders in names and texts stay", false, true, "%1 <Boss> %2", "%1%2%3%4",
         "<a name=\"sms7\"></a><div style=\"color:#0000FF;font-size:16px;\"><div>4 Sep 2013 15:06:40</div>"
         "<div>From: %1 &lt;Boss&gt; %2 (+15550001)</div></div>"
         "<div style=\"font-size:14px;\">%1%2%3%4</div><br/><br/>\n"},
        {"no conversation: no name", true, false, QString(), "x",
         "<a name=\"sms7\"></a><div style=\"color:#008040;font-size:16px;\"><div>4 Sep 2013 15:06:40</div>"
         "<div>To: </div></div><div style=\"font-size:14px;\">x</div><br/><br/>\n"},
    };
    for (const Case &c : cases) {
        MsgSetBuilder b;
        _MsgChat *chat = nullptr;
        if (c.withChat) {
            chat = b.chat(1, "+15550001");
            b.handle(chat, 10, "+15550001", c.contactName);
        }
        _MsgMessage *m = b.message(chat, 7, kDate, c.text);
        m->is_from_me = c.fromMe ? 1 : 0;
        QTemporaryDir dir;
        EXPECT_EQ(entries(exportHtml({m}, dir.filePath("p.html"))), c.entry) << c.label;
    }
}

TEST(ExportSMSHtmlTest, SameRowidGivesSameAnchor)
{
    // Messages of two sources may share a rowid; each keeps its own entry.
    MsgSetBuilder first;
    MsgSetBuilder second;
    _MsgMessage *a = first.message(nullptr, 42, 0, "a");
    _MsgMessage *b = second.message(nullptr, 42, 0, "b");
    QTemporaryDir dir;
    const QByteArray body = entries(exportHtml({a, b}, dir.filePath("twice.html")));
    EXPECT_EQ(body.count("<a name=\"sms42\"></a>"), 2);
    EXPECT_LT(body.indexOf(">a</div>"), body.indexOf(">b</div>"));
}

TEST(ExportSMSHtmlTest, GroupNamesWithNumbers)
{
    MsgSetBuilder b;
    _MsgChat *group = b.chat(1, "chat1");
    b.handle(group, 10, "+15550001", "Ann");
    b.handle(group, 11, "+15550002");
    _MsgMessage *m = b.message(group, 1, 0, "hi");
    QTemporaryDir dir;
    EXPECT_NE(exportHtml({m}, dir.filePath("g.html")).indexOf("<div>From: Ann (+15550001), +15550002</div>"), -1);
}

TEST(ExportSMSHtmlTest, UnwritablePathFailsAtBegin)
{
    ExportSMSHtml html(unwritableExportPath("x.html"));
    EXPECT_THROW(html.begin(), std::runtime_error);
}

TEST(ExportSMSHtmlTest, FullDiskIsAnError)
{
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    ExportSMSHtml html("/dev/full");
    html.begin();
    EXPECT_THROW(html.end(), std::runtime_error);
}

} // namespace
