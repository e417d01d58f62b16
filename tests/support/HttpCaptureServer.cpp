#include "HttpCaptureServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace
{

// Requests larger than this are a fault of the client under test.
constexpr qsizetype kMaxRequest = 1 << 20;

} // namespace

HttpCaptureServer::HttpCaptureServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    m_server->listen(QHostAddress::LocalHost, 0);
    connect(m_server, &QTcpServer::newConnection, this, &HttpCaptureServer::onNewConnection);
}

HttpCaptureServer::~HttpCaptureServer() = default;

QUrl HttpCaptureServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()));
}

quint16 HttpCaptureServer::port() const
{
    return m_server->serverPort();
}

void HttpCaptureServer::setResponse(int status, const QByteArray &body)
{
    m_status = status;
    m_body = body;
}

bool HttpCaptureServer::waitForRequests(int n, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (m_requests.size() < n) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void HttpCaptureServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        m_pending.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket]() {
            m_pending.remove(socket);
            socket->deleteLater();
        });
    }
}

void HttpCaptureServer::onReadyRead(QTcpSocket *socket)
{
    if (!m_pending.contains(socket))
        return;
    QByteArray &buffer = m_pending[socket];
    buffer += socket->readAll();
    if (buffer.size() > kMaxRequest) {
        socket->abort();
        return;
    }
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;

    Request request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = QString::fromLatin1(first.value(0));
    request.target = QString::fromLatin1(first.value(1));
    request.version = QString::fromLatin1(first.value(2));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    bool ok = false;
    const qsizetype length = request.headers.value("content-length", "0").toLongLong(&ok);
    if (!ok || length < 0 || length > kMaxRequest) {
        socket->abort();
        return;
    }
    if (buffer.size() - (headerEnd + 4) < length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    buffer.clear();
    m_requests.append(request);

    QByteArray response = "HTTP/1.1 " + QByteArray::number(m_status) + " Status\r\n";
    response += "Content-Type: text/plain\r\nContent-Length: " + QByteArray::number(m_body.size()) + "\r\n";
    response += "Connection: close\r\n\r\n" + m_body;
    socket->write(response);
    socket->disconnectFromHost();
}
