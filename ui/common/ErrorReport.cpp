#include "ErrorReport.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

#include "LarkspanConfig.h"
#include "ServiceUrl.h"

namespace
{

// A service that accepts the connection but never answers must not keep
// the socket for the rest of the run.
constexpr int kReportTimeoutMs = 30000;

QString cleanReportText(const QString &text)
{
    static const QRegularExpression lineBreak(QStringLiteral("< *br */?>"), QRegularExpression::CaseInsensitiveOption);
    QString s = text;
    s.replace(lineBreak, QStringLiteral("\r\n"));
    s.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    s.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return s;
}

QByteArray reportRequest(const QUrl &url, const QByteArray &body)
{
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray request = "POST " + target + " HTTP/1.1\r\n";
    request += "Host: " + url.authority(QUrl::RemoveUserInfo | QUrl::FullyEncoded).toLatin1() + "\r\n";
    request += "Content-Type: application/x-www-form-urlencoded\r\n";
    request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    request += "Connection: close\r\n\r\n";
    return request + body;
}

} // namespace

QString encodeReportField(const QString &text)
{
    QString s = QString::fromLatin1(text.toUtf8().toBase64());
    s.replace(QLatin1Char('/'), QLatin1Char('!'));
    s.replace(QLatin1Char('='), QLatin1Char('-'));
    return s;
}

void sendErrorReport(const QString &text)
{
    // The report is plain HTTP; a base URL of another scheme sends nothing.
    const QUrl url = serviceUrl(QStringLiteral("/err_report.php"));
    QCoreApplication *app = QCoreApplication::instance();
    if (!url.isValid() || url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0 || !app)
        return;

    const QString version = QStringLiteral("%1(%2)").arg(QStringLiteral(LARKSPAN_VERSION_TEXT)).arg(LARKSPAN_BUILD_NUMBER);
    const QString body = QStringLiteral("prod=") + encodeReportField(QObject::tr("Quenmarvile Larkspan"))
        + QStringLiteral("&ver=") + encodeReportField(version)
        + QStringLiteral("&err=") + encodeReportField(cleanReportText(text));
    const QByteArray request = reportRequest(url, body.toUtf8());

    // Owned by the application object, so a report still under way at exit
    // goes with it. Everything runs on this thread's event loop; the socket
    // deletes itself once the service has closed the connection, on any
    // error, or after the time-out. The answer is read only to be dropped.
    auto *socket = new QTcpSocket(app);
    QObject::connect(socket, &QTcpSocket::connected, socket, [socket, request]() { socket->write(request); });
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket]() { socket->readAll(); });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QTcpSocket::errorOccurred, socket, &QObject::deleteLater);
    QTimer::singleShot(kReportTimeoutMs, socket, &QObject::deleteLater);
    socket->connectToHost(url.host(), quint16(url.port(80)));
}
