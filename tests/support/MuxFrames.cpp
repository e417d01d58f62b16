#include "MuxFrames.h"

#include <cerrno>
#include <cstdlib>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace MuxFrames
{

namespace
{

// Until the socket is ready or the stop descriptor readable; no time-out of
// its own: the fake's owner stops it.
bool waitFor(int fd, int stopFd, short events)
{
    pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    for (;;) {
        const int r = poll(fds, 2, -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0 || (fds[1].revents & POLLIN))
            return false;
        return true;
    }
}

uint32_t littleEndian(const unsigned char *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void putLittleEndian(unsigned char *p, uint32_t v)
{
    p[0] = uchar(v);
    p[1] = uchar(v >> 8);
    p[2] = uchar(v >> 16);
    p[3] = uchar(v >> 24);
}

plist_t parse(const QByteArray &body)
{
    if (body.isEmpty())
        return nullptr;
    plist_t node = nullptr;
    plist_from_memory(body.constData(), uint32_t(body.size()), &node);
    return node;
}

} // namespace

bool readExactly(int fd, int stopFd, char *data, size_t length)
{
    while (length > 0) {
        if (!waitFor(fd, stopFd, POLLIN))
            return false;
        const ssize_t n = recv(fd, data, length, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

bool writeAll(int fd, int stopFd, const char *data, size_t length)
{
    while (length > 0) {
        if (!waitFor(fd, stopFd, POLLOUT))
            return false;
        const ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

QByteArray toXml(plist_t node)
{
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    const QByteArray bytes(xml, xml ? qsizetype(length) : 0);
    plist_to_xml_free(xml);
    return bytes;
}

plist_t readMuxMessage(int fd, int stopFd, uint32_t &tag)
{
    unsigned char header[16];
    if (!readExactly(fd, stopFd, reinterpret_cast<char *>(header), sizeof header))
        return nullptr;
    const uint32_t length = littleEndian(header);
    const uint32_t version = littleEndian(header + 4);
    const uint32_t type = littleEndian(header + 8);
    tag = littleEndian(header + 12);
    if (length < sizeof header || length - sizeof header > kMaxMessage || version != kPlistVersion || type != kPlistMessage)
        return nullptr;
    QByteArray body(qsizetype(length - sizeof header), '\0');
    if (!readExactly(fd, stopFd, body.data(), size_t(body.size())))
        return nullptr;
    plist_t message = parse(body);
    if (message && plist_get_node_type(message) != PLIST_DICT) {
        plist_free(message);
        return nullptr;
    }
    return message;
}

bool writeMuxMessage(int fd, int stopFd, plist_t message, uint32_t tag)
{
    const QByteArray body = toXml(message);
    unsigned char header[16];
    putLittleEndian(header, uint32_t(sizeof header + size_t(body.size())));
    putLittleEndian(header + 4, kPlistVersion);
    putLittleEndian(header + 8, kPlistMessage);
    putLittleEndian(header + 12, tag);
    QByteArray frame(reinterpret_cast<const char *>(header), sizeof header);
    frame += body;
    return writeAll(fd, stopFd, frame.constData(), size_t(frame.size()));
}

plist_t readFramed(int fd, int stopFd)
{
    unsigned char prefix[4];
    if (!readExactly(fd, stopFd, reinterpret_cast<char *>(prefix), sizeof prefix))
        return nullptr;
    const uint32_t length = (uint32_t(prefix[0]) << 24) | (uint32_t(prefix[1]) << 16) | (uint32_t(prefix[2]) << 8) | prefix[3];
    if (length == 0 || length > kMaxMessage)
        return nullptr;
    QByteArray body(qsizetype(length), '\0');
    if (!readExactly(fd, stopFd, body.data(), length))
        return nullptr;
    return parse(body);
}

bool writeFramed(int fd, int stopFd, plist_t message)
{
    const QByteArray body = toXml(message);
    const uint32_t n = uint32_t(body.size());
    const unsigned char prefix[4] = {uchar(n >> 24), uchar(n >> 16), uchar(n >> 8), uchar(n)};
    QByteArray frame(reinterpret_cast<const char *>(prefix), sizeof prefix);
    frame += body;
    return writeAll(fd, stopFd, frame.constData(), size_t(frame.size()));
}

} // namespace MuxFrames
