#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <optional>

#include "AppFolders.h"
#include "CaseName.h"
#include "HttpCaptureServer.h"
#include "MessageBoxAnswerer.h"
#include "RecordingShellOpener.h"
#include "ServiceUrlScope.h"
#include "TestClock.h"
#include "UpdateChecker.h"

namespace
{

const QString kCheckPath = QStringLiteral("/sms_check_update.php?pid=7A31C09E55D24fb8B1E6D0934C2AF7B1&ver=40&q=1");
const QString kNewsPath = QStringLiteral("/adv.php?pid=7A31C09E55D24fb8B1E6D0934C2AF7B1");
const QString kStyle = QStringLiteral("<a style=\"color:#FF6016;text-decoration:none;\"");
const QString kQuestion
    = QStringLiteral("A new version of Quenmarvile Larkspan is available. Would you like to download it now?");
const QByteArray kNul(1, '\0');
const QDateTime kNow(QDate(2024, 3, 1), QTime(12, 0), Qt::UTC);

QString appFile(const char *name)
{
    return appDataDir().filePath(QLatin1String(name));
}

void writeAppFile(const char *name, const QByteArray &content)
{
    QFile file(appFile(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// The file's bytes, or nothing when there is no such file.
std::optional<QByteArray> readAppFile(const char *name)
{
    QFile file(appFile(name));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

QByteArray secs(qint64 value)
{
    return QByteArray::number(value);
}

// A checker against a local service, at a fixed time, with the desktop and
// the message boxes stood in for. An unexpected box fails the test.
class UpdateCheckTest : public ::testing::Test
{
protected:
    UpdateCheckTest()
        : url(server.baseUrl().toString())
        , clock(kNow)
        , checker(&window)
    {
        window.show();
    }

    // Sends the requests and waits until both replies have been handled.
    void checkAndWait()
    {
        QSignalSpy handled(&checker, &UpdateChecker::repliesHandled);
        ASSERT_TRUE(checker.sendRequests());
        ASSERT_TRUE(handled.wait(10000));
    }

    QStringList targets() const
    {
        QStringList list;
        for (const HttpCaptureServer::Request &r : server.requests())
            list.append(r.method + QLatin1Char(' ') + r.target);
        list.sort();
        return list;
    }

    HttpCaptureServer server;
    ServiceUrlScope url;
    TestClock clock;
    RecordingShellOpener opener;
    MessageBoxAnswerer boxes;
    QWidget window;
    UpdateChecker checker;
};

// --- the once-a-day rule -----------------------------------------------------

struct DueCase
{
    const char *name;
    QByteArray stored; // "%now" is replaced by the current time plus offset
    qint64 offset;
    bool due;
};

void PrintTo(const DueCase &c, std::ostream *os)
{
    *os << c.name;
}

class CheckDueTest : public ::testing::TestWithParam<DueCase>
{
};

TEST_P(CheckDueTest, FollowsTheStoredTime)
{
    const qint64 now = kNow.toSecsSinceEpoch();
    QByteArray stored = GetParam().stored;
    stored.replace("%now", secs(now + GetParam().offset));
    EXPECT_EQ(UpdateChecker::isCheckDue(stored, now), GetParam().due);
}

INSTANTIATE_TEST_SUITE_P(Cases, CheckDueTest,
    ::testing::Values(DueCase{"Empty", "", 0, true}, DueCase{"Zero", "0", 0, true}, DueCase{"NoNumber", "soon", 0, true},
        DueCase{"NumberWithJunk", "%nowx", 0, true}, DueCase{"JustNow", "%now", 0, false},
        DueCase{"OneDayOld", "%now", -86400, false}, DueCase{"OneDayAndASecondOld", "%now", -86401, true},
        DueCase{"AWeekOld", "%now", -7 * 86400, true}, DueCase{"InTheFuture", "%now", 60, true},
        DueCase{"FarInTheFuture", "%now", 10 * 86400, true},
        DueCase{"NulEndsTheNumber", QByteArray("%now") + kNul + "99", -10, false},
        DueCase{"BeyondThirtyTwoBits", "99999999999", 0, true}),
    CaseName());

// --- the requests --------------------------------------------------------------

TEST_F(UpdateCheckTest, SendsExactlyTheTwoRequestsAndStoresTheAnswerTime)
{
    server.setResponse(200, "0");
    checkAndWait();
    // Nothing else follows the two.
    QTest::qWait(200);
    EXPECT_EQ(targets(), (QStringList{QStringLiteral("GET ") + kNewsPath, QStringLiteral("GET ") + kCheckPath}));
    EXPECT_EQ(readAppFile("last-check-version-time"), secs(kNow.toSecsSinceEpoch()));
    EXPECT_FALSE(readAppFile("last-adv").has_value());
    EXPECT_TRUE(opener.urls().isEmpty());
    EXPECT_TRUE(window.isVisible());
}

struct AgeCase
{
    const char *name;
    QByteArray stored; // "%now" as in DueCase
    qint64 offset;
    bool sends;
};

void PrintTo(const AgeCase &c, std::ostream *os)
{
    *os << c.name;
}

class StoredTimeTest : public UpdateCheckTest, public ::testing::WithParamInterface<AgeCase>
{
};

TEST_P(StoredTimeTest, DecidesWhetherToAsk)
{
    QByteArray stored = GetParam().stored;
    stored.replace("%now", secs(kNow.toSecsSinceEpoch() + GetParam().offset));
    writeAppFile("last-check-version-time", stored);
    server.setResponse(200, "0");

    if (GetParam().sends) {
        checkAndWait();
        EXPECT_EQ(server.requests().size(), 2);
        EXPECT_EQ(readAppFile("last-check-version-time"), secs(kNow.toSecsSinceEpoch()));
    } else {
        EXPECT_FALSE(checker.sendRequests());
        QTest::qWait(300);
        EXPECT_TRUE(server.requests().isEmpty());
        EXPECT_EQ(readAppFile("last-check-version-time"), stored);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StoredTimeTest,
    ::testing::Values(AgeCase{"JustChecked", "%now", 0, false}, AgeCase{"OneDayOld", "%now", -86400, false},
        AgeCase{"OneDayAndASecondOld", "%now", -86401, true}, AgeCase{"ClockSetBack", "%now", 3600, true},
        AgeCase{"Zero", "0", 0, true}, AgeCase{"NotANumber", "garbage", 0, true}),
    CaseName());

class ErrorStatusTest : public UpdateCheckTest, public ::testing::WithParamInterface<int>
{
};

TEST_P(ErrorStatusTest, StillMovesTheCheckTimeAndChangesNothingElse)
{
    writeAppFile("last-check-version-time", secs(kNow.toSecsSinceEpoch() - 2 * 86400));
    writeAppFile("last-adv", "<a>old</a>");
    QLabel label;
    checker.attachNewsLabel(&label);
    // Bodies that would count if the status were 200.
    server.setResponse(GetParam(), "http://download.test/new");

    checkAndWait();
    EXPECT_EQ(readAppFile("last-check-version-time"), secs(kNow.toSecsSinceEpoch()));
    EXPECT_EQ(label.text(), QStringLiteral("<a>old</a>"));
    EXPECT_EQ(readAppFile("last-adv"), QByteArray("<a>old</a>"));
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_TRUE(opener.urls().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Statuses, ErrorStatusTest, ::testing::Values(404, 500, 204));

TEST(UpdateCheckOffline, LeavesTheCheckTimeWhenNoServiceAnswers)
{
    QUrl deadService;
    {
        HttpCaptureServer closed;
        deadService = closed.baseUrl();
    }
    ServiceUrlScope url(deadService.toString());
    const QByteArray stored = secs(QDateTime::currentSecsSinceEpoch() - 2 * 86400);
    writeAppFile("last-check-version-time", stored);
    UpdateChecker checker;
    QSignalSpy handled(&checker, &UpdateChecker::repliesHandled);
    ASSERT_TRUE(checker.sendRequests());
    ASSERT_TRUE(handled.wait(10000));
    EXPECT_EQ(readAppFile("last-check-version-time"), stored);
}

TEST(UpdateCheckPending, GoingAwayWhileTheServiceIsSilentReadsNothing)
{
    // A service that takes the connections and never answers.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    ServiceUrlScope url(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort()));
    auto checker = std::make_unique<UpdateChecker>();
    QSignalSpy handled(checker.get(), &UpdateChecker::repliesHandled);
    ASSERT_TRUE(checker->sendRequests());
    ASSERT_TRUE(QTest::qWaitFor([&] {
        while (QTcpSocket *s = silent.nextPendingConnection())
            s->setParent(&silent);
        return silent.findChildren<QTcpSocket *>().size() >= 2;
    }));
    checker.reset();
    QTest::qWait(200);
    EXPECT_EQ(handled.size(), 0);
    EXPECT_FALSE(QFile::exists(appFile("last-check-version-time")));
}

// --- the update offer ------------------------------------------------------------

struct OfferCase
{
    const char *name;
    QByteArray body;
    QString url; // empty: nothing is offered
};

void PrintTo(const OfferCase &c, std::ostream *os)
{
    *os << c.name;
}

class OfferedDownloadTest : public ::testing::TestWithParam<OfferCase>
{
};

TEST_P(OfferedDownloadTest, OnlyAWholeWebAddressIsOffered)
{
    const QUrl url = UpdateChecker::offeredDownload(GetParam().body);
    if (GetParam().url.isEmpty())
        EXPECT_FALSE(url.isValid()) << url.toString().toStdString();
    else
        EXPECT_EQ(url.toString(), GetParam().url);
}

INSTANTIATE_TEST_SUITE_P(Cases, OfferedDownloadTest,
    ::testing::Values(OfferCase{"Plain", "http://download.test/setup.exe", QStringLiteral("http://download.test/setup.exe")},
        OfferCase{"CapitalScheme", "HTTP://download.test/Setup.exe", QStringLiteral("http://download.test/Setup.exe")},
        OfferCase{"Secure", "https://download.test/a?b=1", QStringLiteral("https://download.test/a?b=1")},
        OfferCase{"LineEnd", "http://download.test/a\r\n", QStringLiteral("http://download.test/a")},
        OfferCase{"NulEndsTheText", QByteArray("http://download.test/a") + kNul + "junk", QStringLiteral("http://download.test/a")},
        OfferCase{"NoNewVersion", "0", QString()}, OfferCase{"Empty", "", QString()},
        OfferCase{"NoHost", "http://", QString()}, OfferCase{"OtherScheme", "ftp://download.test/a", QString()},
        OfferCase{"LocalFile", "file:///usr/bin/xterm", QString()},
        OfferCase{"SchemeLater", "see http://download.test/a", QString()},
        OfferCase{"InnerSpace", "http://download.test/a b", QString()},
        OfferCase{"QuoteAndCommand", "http://x.test/\"; rm -rf ~", QString()},
        OfferCase{"NonAscii", "http://download.test/\xc3\xa9", QString()}),
    CaseName());

TEST_F(UpdateCheckTest, YesOpensTheDownloadAndClosesTheWindow)
{
    server.setResponse(200, "HTTP://download.test/Setup-41.exe");
    boxes.click(QMessageBox::Yes);
    checkAndWait();
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Question);
    EXPECT_EQ(boxes.shown()[0].text, kQuestion);
    EXPECT_EQ(opener.urls(), (QList<QUrl>{QUrl(QStringLiteral("http://download.test/Setup-41.exe"))}));
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(readAppFile("last-check-version-time"), secs(kNow.toSecsSinceEpoch()));
}

TEST_F(UpdateCheckTest, ADownloadNothingOpensIsToldAndTheWindowStays)
{
    server.setResponse(200, "http://download.test/Setup-41.exe");
    opener.setResult(false);
    boxes.click(QMessageBox::Yes).click(QMessageBox::Ok);
    checkAndWait();
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[1].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.shown()[1].text.contains(QLatin1String("<br/>Could not open http://download.test/Setup-41.exe.<br/>")))
        << boxes.shown()[1].text.toStdString();
    EXPECT_TRUE(window.isVisible());
}

TEST_F(UpdateCheckTest, NoLeavesEverythingAsItIs)
{
    server.setResponse(200, "http://download.test/setup.exe");
    boxes.click(QMessageBox::No);
    checkAndWait();
    EXPECT_EQ(boxes.shown().size(), 1);
    EXPECT_TRUE(opener.urls().isEmpty());
    EXPECT_TRUE(window.isVisible());
}

TEST_F(UpdateCheckTest, AnOversizedReplyIsNotRead)
{
    server.setResponse(200, "http://download.test/" + QByteArray(UpdateChecker::MaxReplyBytes * 2, 'a'));
    checkAndWait();
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_EQ(readAppFile("last-check-version-time"), secs(kNow.toSecsSinceEpoch()));
}

// --- the news link ---------------------------------------------------------------

struct NewsCase
{
    const char *name;
    QByteArray body;
    QString shown; // "%s" stands for the link style; empty: not a news link
};

void PrintTo(const NewsCase &c, std::ostream *os)
{
    *os << c.name;
}

class StyledNewsLinkTest : public ::testing::TestWithParam<NewsCase>
{
};

TEST_P(StyledNewsLinkTest, RestylesOnlyALeadingAnchor)
{
    QString expected = GetParam().shown;
    expected.replace(QLatin1String("%s"), kStyle);
    EXPECT_EQ(UpdateChecker::styledNewsLink(GetParam().body), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, StyledNewsLinkTest,
    ::testing::Values(
        NewsCase{"Anchor", "<a href=\"http://news.test/\">News</a>", QStringLiteral("%s href=\"http://news.test/\">News</a>")},
        NewsCase{"CapitalTag", "<A HREF=\"http://news.test/\">News</A>", QStringLiteral("%s HREF=\"http://news.test/\">News</A>")},
        NewsCase{"BareTag", "<a>News</a>", QStringLiteral("%s>News</a>")},
        NewsCase{"Utf8Text", "<a href=\"http://n.test/\">Neu \xc3\xa4</a>", QStringLiteral("%s href=\"http://n.test/\">Neu \u00e4</a>")},
        NewsCase{"TrailingMarkupDropped", "<a href=\"http://n.test/\">News</a><img src=\"/etc/x.png\"><a href=\"file:///bin/sh\">x</a>",
            QStringLiteral("%s href=\"http://n.test/\">News</a>")},
        NewsCase{"NulEndsTheText", QByteArray("<a href=\"http://n.test/\">N</a>") + kNul + "<b>", QStringLiteral("%s href=\"http://n.test/\">N</a>")},
        NewsCase{"NoLeadingAnchor", "News: <a href=\"http://n.test/\">x</a>", QString()},
        NewsCase{"OtherTagStartingWithA", "<abbr>News</abbr>", QString()}, NewsCase{"PlainText", "nothing new", QString()},
        NewsCase{"Empty", "", QString()}),
    CaseName());

TEST_F(UpdateCheckTest, ANewsLinkIsShownAndKept)
{
    QLabel label;
    checker.attachNewsLabel(&label);
    server.setResponse(200, "<A HREF=\"http://news.test/spring\">Spring offer</A>");
    checkAndWait();
    const QString expected = kStyle + QStringLiteral(" HREF=\"http://news.test/spring\">Spring offer</A>");
    EXPECT_EQ(label.text(), expected);
    EXPECT_EQ(readAppFile("last-adv"), expected.toUtf8());
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(UpdateCheckTest, AnotherNewsBodyKeepsTheStoredLink)
{
    const QByteArray stored = kStyle.toUtf8() + " href=\"http://news.test/old\">Old</a>";
    writeAppFile("last-adv", stored);
    QLabel label;
    checker.attachNewsLabel(&label);
    EXPECT_EQ(label.text(), QString::fromUtf8(stored));
    server.setResponse(200, "<b>not a link</b>");
    checkAndWait();
    EXPECT_EQ(label.text(), QString::fromUtf8(stored));
    EXPECT_EQ(readAppFile("last-adv"), stored);
}

TEST(NewsLabel, IsRichTextWhoseLinksDoNotOpenByThemselves)
{
    QLabel label;
    UpdateChecker checker;
    checker.attachNewsLabel(&label);
    EXPECT_EQ(label.textFormat(), Qt::RichText);
    EXPECT_FALSE(label.openExternalLinks());
    EXPECT_TRUE(label.text().isEmpty());
}

struct LinkCase
{
    const char *name;
    QString link;
    bool opened;
};

void PrintTo(const LinkCase &c, std::ostream *os)
{
    *os << c.name;
}

class NewsLinkOpenTest : public ::testing::TestWithParam<LinkCase>
{
};

TEST_P(NewsLinkOpenTest, OnlyWebAddressesReachTheBrowser)
{
    RecordingShellOpener opener;
    QLabel label;
    UpdateChecker checker;
    checker.attachNewsLabel(&label);
    emit label.linkActivated(GetParam().link);
    if (GetParam().opened)
        EXPECT_EQ(opener.urls(), (QList<QUrl>{QUrl(GetParam().link)}));
    else
        EXPECT_TRUE(opener.urls().isEmpty());
    EXPECT_EQ(UpdateChecker::openNewsLink(GetParam().link), GetParam().opened);
}

INSTANTIATE_TEST_SUITE_P(Cases, NewsLinkOpenTest,
    ::testing::Values(LinkCase{"Http", QStringLiteral("http://news.test/a?b=c"), true},
        LinkCase{"Https", QStringLiteral("https://news.test/"), true},
        LinkCase{"LocalFile", QStringLiteral("file:///usr/bin/xterm"), false},
        LinkCase{"Script", QStringLiteral("javascript:alert(1)"), false},
        LinkCase{"Mail", QStringLiteral("mailto:someone@news.test"), false},
        LinkCase{"RelativePath", QStringLiteral("../../bin/sh"), false}, LinkCase{"Empty", QString(), false}),
    CaseName());

TEST(NewsLinkOpen, ALinkNothingOpensIsToldWithItsAddress)
{
    RecordingShellOpener opener(false);
    MessageBoxAnswerer boxes;
    boxes.click(QMessageBox::Ok);
    QLabel label;
    UpdateChecker checker;
    checker.attachNewsLabel(&label);
    emit label.linkActivated(QStringLiteral("https://news.test/a?b=1&c=2"));
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.shown()[0].text.contains(QLatin1String("<br/>Could not open https://news.test/a?b=1&amp;c=2.<br/>")))
        << boxes.shown()[0].text.toStdString();
    // A link that is refused is not offered to the desktop, so nothing is told.
    emit label.linkActivated(QStringLiteral("file:///usr/bin/xterm"));
    EXPECT_EQ(boxes.shown().size(), 1);
}

TEST(UpdatePage, IsTheCheckWithoutQ)
{
    ServiceUrlScope url(QStringLiteral("http://service.test:8080/base/"));
    EXPECT_EQ(UpdateChecker::updatePageUrl(),
        QUrl(QStringLiteral("http://service.test:8080/base/sms_check_update.php?pid=7A31C09E55D24fb8B1E6D0934C2AF7B1&ver=40")));
}

} // namespace
