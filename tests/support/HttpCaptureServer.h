#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 that records every request it gets
// and answers each with one fixed response. It runs in the test's thread:
// requests are served while the test spins the event loop (waitForRequests).
class HttpCaptureServer : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QString method;
        QString target; // path and query as sent
        QString version; // "HTTP/1.1"
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };

    explicit HttpCaptureServer(QObject *parent = nullptr);
    ~HttpCaptureServer() override;

    // "http://127.0.0.1:<port>"
    QUrl baseUrl() const;
    quint16 port() const;

    void setResponse(int status, const QByteArray &body);

    // Spins the event loop until at least n requests have arrived; false on
    // time-out.
    bool waitForRequests(int n, int timeoutMs = 5000);
    const QList<Request> &requests() const { return m_requests; }

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);

    QTcpServer *m_server;
    QMap<QTcpSocket *, QByteArray> m_pending;
    QList<Request> m_requests;
    int m_status = 200;
    QByteArray m_body;
};
