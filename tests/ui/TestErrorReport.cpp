#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include "CaseName.h"
#include "ErrorReport.h"
#include "HttpCaptureServer.h"
#include "MessageBoxAnswerer.h"
#include "ServiceUrl.h"

namespace
{

// Sets LARKSPAN_SERVICE_URL for one test and restores it afterwards.
class ServiceUrlOverride
{
public:
    explicit ServiceUrlOverride(const QString &url)
        : m_had(qEnvironmentVariableIsSet("LARKSPAN_SERVICE_URL"))
        , m_old(qgetenv("LARKSPAN_SERVICE_URL"))
    {
        qputenv("LARKSPAN_SERVICE_URL", url.toUtf8());
    }
    ~ServiceUrlOverride()
    {
        if (m_had)
            qputenv("LARKSPAN_SERVICE_URL", m_old);
        else
            qunsetenv("LARKSPAN_SERVICE_URL");
    }

private:
    bool m_had;
    QByteArray m_old;
};

QString decodeReportField(const QByteArray &field)
{
    QByteArray b = field;
    b.replace('!', '/');
    b.replace('-', '=');
    return QString::fromUtf8(QByteArray::fromBase64(b, QByteArray::AbortOnBase64DecodingErrors));
}

// The fields of a report body in the order they were sent.
QList<QPair<QByteArray, QByteArray>> reportFields(const QByteArray &body)
{
    QList<QPair<QByteArray, QByteArray>> fields;
    for (const QByteArray &pair : body.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        fields.append({pair.left(eq), pair.mid(eq + 1)});
    }
    return fields;
}

void spin(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

struct EncodeCase
{
    const char *name;
    QString text;
    QString encoded;
};

void PrintTo(const EncodeCase &c, std::ostream *os)
{
    *os << c.name;
}

class EncodeReportFieldTest : public ::testing::TestWithParam<EncodeCase>
{
};

TEST_P(EncodeReportFieldTest, Encodes)
{
    EXPECT_EQ(encodeReportField(GetParam().text), GetParam().encoded);
    EXPECT_EQ(decodeReportField(GetParam().encoded.toLatin1()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, EncodeReportFieldTest,
    ::testing::Values(EncodeCase{"Empty", QString(), QString()}, EncodeCase{"ThreeLetters", QStringLiteral("abc"), QStringLiteral("YWJj")},
        EncodeCase{"OnePaddingSign", QStringLiteral("ab"), QStringLiteral("YWI-")},
        EncodeCase{"TwoPaddingSigns", QStringLiteral("a"), QStringLiteral("YQ--")},
        EncodeCase{"SlashBecomesBang", QStringLiteral("???"), QStringLiteral("Pz8!")},
        EncodeCase{"PlusStays", QStringLiteral(">>>"), QStringLiteral("Pj4+")},
        EncodeCase{"Utf8", QStringLiteral("\u00E9"), QStringLiteral("w6k-")}),
    CaseName());

struct UrlCase
{
    const char *name;
    QString base; // LARKSPAN_SERVICE_URL; empty: the built-in address
    QString request;
    QString url; // empty: invalid
};

void PrintTo(const UrlCase &c, std::ostream *os)
{
    *os << c.name;
}

class ServiceUrlTest : public ::testing::TestWithParam<UrlCase>
{
};

TEST_P(ServiceUrlTest, BuildsTheRequestAddress)
{
    ServiceUrlOverride env(GetParam().base);
    const QUrl url = serviceUrl(GetParam().request);
    if (GetParam().url.isEmpty())
        EXPECT_FALSE(url.isValid()) << url.toString().toStdString();
    else
        EXPECT_EQ(url.toString(), GetParam().url);
}

INSTANTIATE_TEST_SUITE_P(Cases, ServiceUrlTest,
    ::testing::Values(
        UrlCase{"BuiltIn", QString(), QStringLiteral("/err_report.php"), QStringLiteral("http://service.larkspan.invalid/err_report.php")},
        UrlCase{"FromEnvironment", QStringLiteral("http://127.0.0.1:8080"), QStringLiteral("/adv.php?pid=3"),
            QStringLiteral("http://127.0.0.1:8080/adv.php?pid=3")},
        UrlCase{"BasePathKept", QStringLiteral("https://h.example/svc/"), QStringLiteral("/err_report.php"),
            QStringLiteral("https://h.example/svc/err_report.php")},
        UrlCase{"BaseQueryDropped", QStringLiteral("http://h.example/?x=1#f"), QStringLiteral("/err_report.php"),
            QStringLiteral("http://h.example/err_report.php")},
        UrlCase{"Trimmed", QStringLiteral("  http://h.example  "), QStringLiteral("/a"), QStringLiteral("http://h.example/a")},
        UrlCase{"NotHttp", QStringLiteral("ftp://h.example"), QStringLiteral("/a"), QString()},
        UrlCase{"NoHost", QStringLiteral("not a url"), QStringLiteral("/a"), QString()}),
    CaseName());

struct ReportCase
{
    const char *name;
    QString text;
    QString sent;
};

void PrintTo(const ReportCase &c, std::ostream *os)
{
    *os << c.name;
}

class SendErrorReportTest : public ::testing::TestWithParam<ReportCase>
{
};

TEST_P(SendErrorReportTest, PostsTheCleanedText)
{
    HttpCaptureServer server;
    ServiceUrlOverride env(server.baseUrl().toString());
    sendErrorReport(GetParam().text);
    // Returning before the server has even accepted proves nothing waits.
    EXPECT_TRUE(server.requests().isEmpty());
    ASSERT_TRUE(server.waitForRequests(1));

    const HttpCaptureServer::Request &r = server.requests().first();
    EXPECT_EQ(r.method, QStringLiteral("POST"));
    EXPECT_EQ(r.target, QStringLiteral("/err_report.php"));
    EXPECT_EQ(r.version, QStringLiteral("HTTP/1.1"));
    EXPECT_EQ(r.headers.value("host"), QStringLiteral("127.0.0.1:%1").arg(server.port()).toLatin1());
    EXPECT_EQ(r.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));

    const auto fields = reportFields(r.body);
    ASSERT_EQ(fields.size(), 3) << r.body.toStdString();
    EXPECT_EQ(fields[0].first, QByteArray("prod"));
    EXPECT_EQ(decodeReportField(fields[0].second), QStringLiteral("Quenmarvile Larkspan"));
    EXPECT_EQ(fields[1].first, QByteArray("ver"));
    EXPECT_EQ(decodeReportField(fields[1].second), QStringLiteral("2.14.12(40)"));
    EXPECT_EQ(fields[2].first, QByteArray("err"));
    EXPECT_EQ(decodeReportField(fields[2].second), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Cases, SendErrorReportTest,
    ::testing::Values(ReportCase{"Plain", QStringLiteral("disk full"), QStringLiteral("disk full")},
        ReportCase{"LineBreak", QStringLiteral("a<br/>b"), QStringLiteral("a\r\nb")},
        ReportCase{"LineBreakInCapitalsWithSpace", QStringLiteral("a<BR >b"), QStringLiteral("a\r\nb")},
        ReportCase{"LineBreakSpaced", QStringLiteral("a< br />b<br>c"), QStringLiteral("a\r\nb\r\nc")},
        ReportCase{"OtherTagsEscaped", QStringLiteral("x<b>y</b>"), QStringLiteral("x&lt;b&gt;y&lt;/b&gt;")},
        ReportCase{"LoneBrackets", QStringLiteral("1 < 2 > 0"), QStringLiteral("1 &lt; 2 &gt; 0")},
        ReportCase{"AmpersandKept", QStringLiteral("a&b=c"), QStringLiteral("a&b=c")},
        ReportCase{"NonAscii", QStringLiteral("Fehler: Datei \u00FCber \U0001F600"), QStringLiteral("Fehler: Datei \u00FCber \U0001F600")}),
    CaseName());

TEST(SendErrorReportTest, BasePathPrefixesTheReportPath)
{
    HttpCaptureServer server;
    ServiceUrlOverride env(server.baseUrl().toString() + QStringLiteral("/svc"));
    sendErrorReport(QStringLiteral("x"));
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_EQ(server.requests().first().target, QStringLiteral("/svc/err_report.php"));
}

class UnreachableServiceTest : public ::testing::TestWithParam<const char *>
{
};

TEST_P(UnreachableServiceTest, ReturnsAtOnceAndStaysSilent)
{
    MessageBoxAnswerer boxes; // any box would fail the test
    ServiceUrlOverride env(QString::fromLatin1(GetParam()));
    QElapsedTimer t;
    t.start();
    sendErrorReport(QStringLiteral("lost"));
    EXPECT_LT(t.elapsed(), 500);
    spin(300);
    EXPECT_TRUE(boxes.shown().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Hosts, UnreachableServiceTest,
    ::testing::Values("http://127.0.0.1:1", "http://service.larkspan.invalid", "not a url", "https://127.0.0.1:1"));

TEST(SendErrorReportTest, FinishedRequestsAreReleased)
{
    HttpCaptureServer server;
    server.setResponse(500, "no");
    ServiceUrlOverride env(server.baseUrl().toString());
    for (int i = 0; i < 3; ++i)
        sendErrorReport(QStringLiteral("e%1").arg(i));
    ASSERT_TRUE(server.waitForRequests(3));
    QList<QTcpSocket *> sockets;
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        sockets = QCoreApplication::instance()->findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly);
    } while (!sockets.isEmpty() && t.elapsed() < 5000);
    EXPECT_TRUE(sockets.isEmpty());
}

} // namespace
