#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <thread>

#include "CFType.h"

// Plays the device's side of a service conversation from a table of steps,
// on a thread of its own: framed property lists as the service socket
// framing carries them (4-byte big-endian length, then the body), raw bytes,
// and AFC packets. What the client sends is kept for the test to compare.
// When the steps are over, or one of them fails (nothing arrives within ten
// seconds, the client closes), the peer closes its end, so a client that
// waits for more sees the end of the stream at once instead of its time-out.
class ServicePeer
{
public:
    struct Step
    {
        enum Kind { Receive, Send, ReceiveRaw, ReceivePacket, Pause };
        Kind kind = Receive;
        QByteArray bytes; // what Send writes, already framed where framed
        int count = 0;    // ReceiveRaw: bytes; Pause: milliseconds
    };

    // One framed message; its text (cfText) is kept.
    static Step receive();
    // One framed message in XML or binary form.
    static Step send(const CFType &message, bool binary = false);
    // Bytes as they stand: hostile lengths, cut-off frames, AFC replies.
    static Step sendRaw(const QByteArray &bytes);
    static Step receiveRaw(int length);
    // A 40-byte AFC header and the rest of the packet its entire length
    // announces; kept whole.
    static Step receivePacket();
    static Step pause(int ms);

    // Plays on one end of a socket pair; socket() is the other end. Both
    // ends are closed when the peer goes.
    explicit ServicePeer(const QList<Step> &steps);
    // Plays on the first connection accepted at a Unix socket path, where the
    // simulated device library connects a started service of kind "peer".
    ServicePeer(const QString &listenPath, const QList<Step> &steps);
    ~ServicePeer();
    ServicePeer(const ServicePeer &) = delete;
    ServicePeer &operator=(const ServicePeer &) = delete;

    // The client's end of the socket pair; -1 for a listening peer.
    int socket() const { return m_clientEnd; }

    // Waits until the steps are over; the readers below wait for it too.
    void finish();
    // Each framed message that arrived, as cfText.
    QStringList received();
    // The form of each framed message that arrived: "xml", "binary" or "other".
    QStringList receivedFormats();
    // Each raw read and each AFC packet, in order.
    QList<QByteArray> receivedRaw();
    // Why the steps stopped early; empty when all were played.
    QString error();

private:
    void play();
    bool readExactly(char *buffer, int length);
    bool writeAll(const QByteArray &bytes);

    QList<Step> m_steps;
    int m_clientEnd = -1;
    int m_peerEnd = -1;
    int m_listener = -1;
    QString m_listenPath;
    QStringList m_received;
    QStringList m_formats;
    QList<QByteArray> m_receivedRaw;
    QString m_error;
    std::thread m_thread;
};

// The 4-byte big-endian length that begins a framed message.
QByteArray beLength(quint32 length);

// AFC packets as the device writes them and as the tests read them: a 40-byte
// header of little-endian fields (magic, entire length, this length, packet
// number, operation), then the rest.
QByteArray afcPacket(quint64 operation, const QByteArray &parameters, const QByteArray &data = QByteArray(),
                     quint64 packetNumber = 0);
// The header fields of a packet (0 where it is too short).
struct AfcPacketFields
{
    QByteArray magic;
    quint64 entireLength = 0;
    quint64 thisLength = 0;
    quint64 packetNumber = 0;
    quint64 operation = 0;
    QByteArray parameters; // thisLength - 40 bytes after the header
    QByteArray data;       // what follows the parameters
};
AfcPacketFields afcFields(const QByteArray &packet);
QByteArray le64(quint64 value);
