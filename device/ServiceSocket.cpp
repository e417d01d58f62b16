#include "ServiceSocket.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <cerrno>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Errors.h"

namespace
{

constexpr int kLengthTimeoutMs = 60000;
constexpr int kDescriptionLength = 800;
// The body grows by at most this much per read, as its bytes arrive.
constexpr int kReceiveStep = 1024 * 1024;

QString describe(const CFType &message)
{
    return QString::fromUtf8(CFType::toPropertyListData(message, kCFPropertyListFormatXml)).left(kDescriptionLength);
}

[[noreturn]] void failReceive(QString text, const CFType &request)
{
    if (request.ref())
        text += QLatin1Char('\n') + describe(request);
    throwError(text);
}

bool transient(int error)
{
    return error == EINTR || error == EAGAIN || error == EWOULDBLOCK;
}

} // namespace

int socket_wait(int socket, int timeoutMs, bool forRead)
{
    pollfd p{socket, short(forRead ? POLLIN : POLLOUT), 0};
    const QDeadlineTimer deadline = timeoutMs >= 1 ? QDeadlineTimer(timeoutMs) : QDeadlineTimer(QDeadlineTimer::Forever);
    for (;;) {
        const int r = poll(&p, 1, deadline.isForever() ? -1 : int(deadline.remainingTime()));
        if (r < 0 && errno == EINTR)
            continue; // a signal is no reason to give up the wait
        return r < 0 ? -1 : (r > 0 ? 1 : 0);
    }
}

int send_data(int socket, const char *data, int length, int timeoutMs)
{
    int sent = 0;
    while (sent < length) {
        // An error counts as ready: the send below then fails and ends it.
        if (socket_wait(socket, timeoutMs, false) == 0)
            break;
        const ssize_t n = send(socket, data + sent, size_t(length - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && transient(errno))
            continue;
        if (n <= 0)
            break;
        sent += int(n);
    }
    return sent;
}

int receive_data(int socket, char *buffer, int length, int timeoutMs)
{
    int received = 0;
    while (received < length) {
        if (socket_wait(socket, timeoutMs, true) == 0)
            break;
        const ssize_t n = recv(socket, buffer + received, size_t(length - received), MSG_DONTWAIT);
        if (n < 0 && transient(errno))
            continue;
        if (n <= 0)
            break;
        received += int(n);
    }
    return received;
}

void mobiledevice_sendmsg(int socket, const CFType &message, bool binary, int timeoutMs)
{
    const QByteArray body =
        CFType::toPropertyListData(message, binary ? kCFPropertyListFormatBinary : kCFPropertyListFormatXml);
    // Sending nothing would leave the peer, and then the caller waiting for
    // its answer, with no sign of what went wrong.
    if (body.isEmpty())
        throwError(
            QStringLiteral("mobiledevice_sendmsg(msg) error: the message cannot be written as a property list."));
    if (body.size() > qsizetype(kMaxServiceMessageLength))
        throwError(QStringLiteral("mobiledevice_sendmsg(msg) error.\n%1").arg(describe(message)));
    const quint32 n = quint32(body.size());
    const char header[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    if (send_data(socket, header, 4, timeoutMs) < 4)
        throwError(QStringLiteral("mobiledevice_sendmsg(msg-length) error.\n%1").arg(describe(message)));
    if (send_data(socket, body.constData(), int(body.size()), timeoutMs) < int(body.size()))
        throwError(QStringLiteral("mobiledevice_sendmsg(msg) error.\n%1").arg(describe(message)));
}

CFType mobiledevice_recmsg(int socket, const CFType &request, int timeoutMs)
{
    unsigned char header[4];
    const int got = receive_data(socket, reinterpret_cast<char *>(header), 4, kLengthTimeoutMs);
    if (got < 4)
        failReceive(QStringLiteral("mobiledevice_recmsg(msg-length) error, received length: %1.").arg(got), request);
    const quint32 length = (quint32(header[0]) << 24) | (quint32(header[1]) << 16) | (quint32(header[2]) << 8) | header[3];
    if (length > kMaxServiceMessageLength)
        failReceive(QStringLiteral("mobiledevice_recmsg(msg) error, announced length %1 exceeds %2.")
                        .arg(length)
                        .arg(kMaxServiceMessageLength),
                    request);
    QByteArray body;
    while (quint32(body.size()) < length) {
        const int step = int(qMin<quint32>(length - quint32(body.size()), kReceiveStep));
        const qsizetype at = body.size();
        body.resize(at + step);
        const int n = receive_data(socket, body.data() + at, step, timeoutMs);
        body.resize(at + n);
        if (n < step)
            failReceive(QStringLiteral("mobiledevice_recmsg(msg) error, received length: %1.").arg(body.size()), request);
    }
    return CFType::fromPropertyListData(body);
}

int mobiledevice_closesocket(int socket)
{
    return ::close(socket);
}
