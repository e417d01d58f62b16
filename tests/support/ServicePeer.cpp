#include "ServicePeer.h"

#include <QFile>
#include <QtEndian>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "CFValues.h"

namespace
{

constexpr int kWaitMs = 10000;
// More than any test sends; a larger announced packet is a failed step.
constexpr quint64 kMaxPacket = 64u * 1024 * 1024;

bool waitFor(int fd, short events, int timeoutMs = kWaitMs)
{
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        return r > 0;
    }
}

} // namespace

QByteArray beLength(quint32 n)
{
    const char length[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    return QByteArray(length, 4);
}

ServicePeer::Step ServicePeer::receive()
{
    return Step{Step::Receive, {}, 0};
}

ServicePeer::Step ServicePeer::send(const CFType &message, bool binary)
{
    const QByteArray body =
        CFType::toPropertyListData(message, binary ? kCFPropertyListFormatBinary : kCFPropertyListFormatXml);
    return Step{Step::Send, beLength(quint32(body.size())) + body, 0};
}

ServicePeer::Step ServicePeer::sendRaw(const QByteArray &bytes)
{
    return Step{Step::Send, bytes, 0};
}

ServicePeer::Step ServicePeer::receiveRaw(int length)
{
    return Step{Step::ReceiveRaw, {}, length};
}

ServicePeer::Step ServicePeer::receivePacket()
{
    return Step{Step::ReceivePacket, {}, 0};
}

ServicePeer::Step ServicePeer::pause(int ms)
{
    return Step{Step::Pause, {}, ms};
}

ServicePeer::ServicePeer(const QList<Step> &steps)
    : m_steps(steps)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        m_error = QStringLiteral("no socket pair");
        return;
    }
    m_clientEnd = ends[0];
    m_peerEnd = ends[1];
    m_thread = std::thread([this] { play(); });
}

ServicePeer::ServicePeer(const QString &listenPath, const QList<Step> &steps)
    : m_steps(steps)
    , m_listenPath(listenPath)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(listenPath);
    if (path.size() >= qsizetype(sizeof address.sun_path)) {
        m_error = QStringLiteral("socket path too long");
        return;
    }
    memcpy(address.sun_path, path.constData(), size_t(path.size()));
    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(m_listener, 1) != 0) {
        m_error = QStringLiteral("cannot listen at %1").arg(listenPath);
        return;
    }
    m_thread = std::thread([this] {
        if (!waitFor(m_listener, POLLIN)) {
            m_error = QStringLiteral("no connection");
            return;
        }
        m_peerEnd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (m_peerEnd < 0) {
            m_error = QStringLiteral("accept failed");
            return;
        }
        play();
    });
}

ServicePeer::~ServicePeer()
{
    finish();
    if (m_clientEnd >= 0)
        ::close(m_clientEnd);
    if (m_listener >= 0) {
        ::close(m_listener);
        QFile::remove(m_listenPath);
    }
}

void ServicePeer::finish()
{
    if (m_thread.joinable())
        m_thread.join();
}

QStringList ServicePeer::received()
{
    finish();
    return m_received;
}

QStringList ServicePeer::receivedFormats()
{
    finish();
    return m_formats;
}

QList<QByteArray> ServicePeer::receivedRaw()
{
    finish();
    return m_receivedRaw;
}

QString ServicePeer::error()
{
    finish();
    return m_error;
}

bool ServicePeer::readExactly(char *buffer, int length)
{
    int got = 0;
    while (got < length) {
        if (!waitFor(m_peerEnd, POLLIN))
            return false;
        const ssize_t n = recv(m_peerEnd, buffer + got, size_t(length - got), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += int(n);
    }
    return true;
}

bool ServicePeer::writeAll(const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        if (!waitFor(m_peerEnd, POLLOUT))
            return false;
        const ssize_t n = ::send(m_peerEnd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

void ServicePeer::play()
{
    for (int i = 0; i < m_steps.size() && m_error.isEmpty(); ++i) {
        const Step &step = m_steps.at(i);
        const QString failed = QStringLiteral("step %1 failed").arg(i);
        switch (step.kind) {
        case Step::Receive: {
            unsigned char length[4];
            if (!readExactly(reinterpret_cast<char *>(length), 4)) {
                m_error = failed;
                break;
            }
            const quint32 n = qFromBigEndian<quint32>(length);
            QByteArray body(qsizetype(qMin<quint64>(n, kMaxPacket)), '\0');
            if (n > kMaxPacket || !readExactly(body.data(), int(body.size()))) {
                m_error = failed;
                break;
            }
            m_received << cfText(CFType::fromPropertyListData(body));
            m_formats << (body.startsWith("<?xml") ? QStringLiteral("xml")
                          : body.startsWith("bplist00") ? QStringLiteral("binary")
                                                        : QStringLiteral("other"));
            break;
        }
        case Step::Send:
            if (!writeAll(step.bytes))
                m_error = failed;
            break;
        case Step::ReceiveRaw: {
            QByteArray bytes(step.count, '\0');
            if (!readExactly(bytes.data(), step.count))
                m_error = failed;
            else
                m_receivedRaw << bytes;
            break;
        }
        case Step::ReceivePacket: {
            QByteArray packet(40, '\0');
            if (!readExactly(packet.data(), 40)) {
                m_error = failed;
                break;
            }
            const quint64 entire = qFromLittleEndian<quint64>(packet.constData() + 8);
            if (entire < 40 || entire > kMaxPacket) {
                m_error = failed;
                break;
            }
            packet.resize(qsizetype(entire));
            if (!readExactly(packet.data() + 40, int(entire - 40)))
                m_error = failed;
            else
                m_receivedRaw << packet;
            break;
        }
        case Step::Pause:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.count));
            break;
        }
    }
    ::shutdown(m_peerEnd, SHUT_RDWR);
    ::close(m_peerEnd);
    m_peerEnd = -1;
}

QByteArray le64(quint64 value)
{
    char bytes[8];
    qToLittleEndian(value, bytes);
    return QByteArray(bytes, 8);
}

QByteArray afcPacket(quint64 operation, const QByteArray &parameters, const QByteArray &data, quint64 packetNumber)
{
    const quint64 thisLength = 40 + quint64(parameters.size());
    return QByteArray("CFA6LPAA") + le64(thisLength + quint64(data.size())) + le64(thisLength) + le64(packetNumber) +
           le64(operation) + parameters + data;
}

AfcPacketFields afcFields(const QByteArray &packet)
{
    AfcPacketFields f;
    if (packet.size() < 40)
        return f;
    f.magic = packet.left(8);
    f.entireLength = qFromLittleEndian<quint64>(packet.constData() + 8);
    f.thisLength = qFromLittleEndian<quint64>(packet.constData() + 16);
    f.packetNumber = qFromLittleEndian<quint64>(packet.constData() + 24);
    f.operation = qFromLittleEndian<quint64>(packet.constData() + 32);
    const qsizetype parameterLength = qsizetype(qBound<quint64>(40, f.thisLength, quint64(packet.size())) - 40);
    f.parameters = packet.mid(40, parameterLength);
    f.data = packet.mid(40 + parameterLength);
    return f;
}
