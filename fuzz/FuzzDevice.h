#pragma once

// What the harnesses of the device services share: the simulated
// CoreFoundation that every property-list value of a service lives in, and
// a socket whose peer has sent the input and closed its side.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/socket.h>
#include <unistd.h>

#include "CFType.h"
#include "FuzzSupport.h"
#include "MobileDeviceFramework.h"

inline void fuzzLoadSimFramework()
{
    qputenv(kMobileDeviceDirVariable, QFile::encodeName(QStringLiteral(LARKSPAN_SIM_DIR)));
    qputenv(kApplicationSupportDirVariable, QFile::encodeName(QStringLiteral(LARKSPAN_SIM_DIR)));
    QString error;
    if (!mobiledevice_load_frameworks(error))
        fuzzFail("the simulated device framework does not load", error);
}

// A connected pair of stream sockets: the peer has written the bytes and
// shut its sending side, so the socket reads them and then the end of the
// stream; what the socket sends waits unread in the peer.
class FuzzPeer
{
public:
    explicit FuzzPeer(const QByteArray &bytes)
    {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
            fuzzFail("socketpair");
        m_socket = fds[0];
        m_peer = fds[1];
        // Bigger than any input the harnesses are given, so writing never
        // waits for a reader.
        const int room = 4 * 1024 * 1024;
        setsockopt(m_peer, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
        setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
        setsockopt(m_socket, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
        setsockopt(m_peer, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
        qsizetype at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::send(m_peer, bytes.constData() + at, size_t(bytes.size() - at), MSG_NOSIGNAL);
            if (n <= 0)
                fuzzFail("the input does not fit the socket");
            at += n;
        }
        shutdown(m_peer, SHUT_WR);
    }
    ~FuzzPeer()
    {
        ::close(m_socket);
        ::close(m_peer);
    }
    FuzzPeer(const FuzzPeer &) = delete;
    FuzzPeer &operator=(const FuzzPeer &) = delete;

    int socket() const { return m_socket; }

private:
    int m_socket = -1;
    int m_peer = -1;
};

// Reads every part of a received value, as the clients read what they use.
inline void fuzzReadValue(const CFType &v, int depth = 0)
{
    if (depth > 600)
        fuzzFail("a received value nests deeper than any list is let through");
    (void)v.typeId();
    (void)v.toInt();
    (void)v.toLongLong();
    (void)v.toDouble();
    (void)v.toBool();
    (void)v.stringValue();
    (void)v.dataValue();
    (void)v.dateValueInZone(QString());
    (void)v.toString();
    if (v.isDictionary()) {
        const QList<CFType> keys = v.keys();
        FUZZ_CHECK(keys.size() == v.dictionaryCount());
        for (const CFType &key : keys) {
            (void)key.stringValue();
            fuzzReadValue(v.value(key), depth + 1);
        }
    } else if (v.isArray()) {
        const int n = v.arrayCount();
        for (int i = 0; i < n; ++i)
            fuzzReadValue(v.item(i), depth + 1);
        FUZZ_CHECK(!v.item(n).ref());
    }
}
