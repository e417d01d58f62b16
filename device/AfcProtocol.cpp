#include "AfcProtocol.h"

#include "Errors.h"
#include "ServiceSocket.h"

#include <QtEndian>

#include <climits>
#include <cstring>

namespace
{

constexpr int kTimeoutMs = 60000;
// The body grows by at most this much per read, as its bytes arrive.
constexpr int kReceiveStep = 1024 * 1024;

QByteArray le64(quint64 value)
{
    char bytes[8];
    qToLittleEndian(value, bytes);
    return QByteArray(bytes, 8);
}

// The first 8 bytes as a little-endian number, missing bytes counting as 0.
quint64 firstWord(const QByteArray &body)
{
    char bytes[8] = {};
    std::memcpy(bytes, body.constData(), size_t(qMin<qsizetype>(body.size(), 8)));
    return qFromLittleEndian<quint64>(bytes);
}

QByteArray pathParameter(const QString &path)
{
    if (path.contains(QChar(0)))
        throwError(QStringLiteral("the AFC path holds a NUL character."));
    return path.toUtf8().append('\0');
}

// One request of parameters only, both lengths being header + parameters.
void sendRequest(int socket, int operation, const QByteArray &parameters)
{
    AfcPacketHeader header = afc_header(socket, operation);
    header.thisLength = header.entireLength = quint64(AfcPacketHeader::kSize + parameters.size());
    afc_send(socket, header, parameters.constData(), int(parameters.size()));
}

// What a reply carries as content. A status reply (which afc_receive lets
// through only for code 0) says "done" and carries none: its code is not
// content.
QByteArray request(int socket, int operation, const QByteArray &parameters)
{
    sendRequest(socket, operation, parameters);
    AfcPacketHeader reply;
    const QByteArray body = afc_receive(socket, &reply, nullptr);
    return reply.operation == kAfcStatus ? QByteArray() : body;
}

QList<QByteArray> nulTerminatedPieces(const QByteArray &body)
{
    QList<QByteArray> pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body.at(i) == '\0') {
            pieces << body.mid(start, i - start);
            start = i + 1;
        }
    }
    return pieces; // bytes after the last NUL are no piece
}

} // namespace

AfcPacketHeader afc_header(int socket, int operation)
{
    AfcPacketHeader header;
    header.packetNumber = socket == 0 ? quint64(0xFFFFFFFFu) : quint64(qint64(qint32(socket)));
    header.operation = quint64(operation);
    return header;
}

int afc_send(int socket, const AfcPacketHeader &header, const char *parameters, int length)
{
    const QByteArray bytes = header.toBytes();
    if (send_data(socket, bytes.constData(), AfcPacketHeader::kSize, kTimeoutMs) != AfcPacketHeader::kSize)
        throwError(QStringLiteral("send AFC header (%1) error.").arg(header.operation));
    if (length > 0 && send_data(socket, parameters, length, kTimeoutMs) != length)
        throwError(QStringLiteral("send AFC content (%1) error.").arg(header.operation));
    return length;
}

QByteArray afc_receive(int socket, AfcPacketHeader *headerOut, int *statusOut)
{
    char headerBytes[AfcPacketHeader::kSize];
    if (receive_data(socket, headerBytes, AfcPacketHeader::kSize, kTimeoutMs) != AfcPacketHeader::kSize)
        throwError(QStringLiteral("read AFC header failed."));
    const AfcPacketHeader header = AfcPacketHeader::fromBytes(headerBytes);
    if (headerOut)
        *headerOut = header;

    // The whole 64-bit length counts: a length beyond what we take is refused,
    // never cut to its low bits and read out of step.
    const quint64 length = header.entireLength > quint64(AfcPacketHeader::kSize)
                               ? header.entireLength - quint64(AfcPacketHeader::kSize)
                               : 0;
    if (length > kMaxAfcReplyBody)
        throwError(QStringLiteral("read AFC failed, announced length %1 exceeds %2.")
                       .arg(length)
                       .arg(kMaxAfcReplyBody));
    QByteArray body;
    while (quint64(body.size()) < length) {
        const int step = int(qMin<quint64>(length - quint64(body.size()), quint64(kReceiveStep)));
        const qsizetype at = body.size();
        body.resize(at + step);
        const int n = receive_data(socket, body.data() + at, step, kTimeoutMs);
        body.resize(at + n);
        if (n < step)
            throwError(QStringLiteral("read AFC file block data failed."));
    }

    switch (header.operation) {
    case kAfcData:
    case kAfcFileHandle:
    case kAfcReplyData:
        return body;
    case kAfcStatus: {
        // A status too short to hold its code is no success.
        if (body.size() < 8)
            throwError(QStringLiteral("read AFC failed, received AFC_OP_STATUS of %1 bytes.").arg(body.size()));
        const quint64 code = firstWord(body);
        if (statusOut) {
            *statusOut = int(quint32(code));
            return body;
        }
        if (code != 0)
            throwError(QStringLiteral("read AFC failed, received AFC_OP_STATUS, param1=%1.").arg(code));
        return body;
    }
    default:
        throwError(QStringLiteral("read AFC failed, Unknown operation code received %1, param1=%2.")
                       .arg(header.operation)
                       .arg(firstWord(body)));
    }
}

qint64 afc_file_open(int socket, const QString &path, int mode)
{
    const QByteArray body = request(socket, kAfcFileOpen, le64(quint64(mode)) + pathParameter(path));
    // A reply too short for a handle carries none.
    return body.size() >= 8 ? qint64(firstWord(body)) : 0;
}

void afc_file_close(int socket, qint64 handle)
{
    request(socket, kAfcFileClose, le64(quint64(handle)));
}

int afc_file_read(int socket, qint64 handle, char *buffer, unsigned length)
{
    if (length == 0)
        return 0;
    if (length > unsigned(INT_MAX))
        throwError(QStringLiteral("read AFC file of %1 bytes refused: at most %2 at a time.").arg(length).arg(INT_MAX));
    unsigned done = 0;
    while (done < length) {
        const unsigned chunk = qMin(length - done, kAfcReadChunk);
        const QByteArray data = request(socket, kAfcFileRead, le64(quint64(handle)) + le64(chunk));
        if (data.isEmpty())
            break;
        // Bytes past what was asked for would be lost, and with them the
        // file's position on the device.
        if (quint64(data.size()) > chunk)
            throwError(QStringLiteral("read AFC file failed, received %1 bytes for %2 asked.")
                           .arg(data.size())
                           .arg(chunk));
        std::memcpy(buffer + done, data.constData(), size_t(data.size()));
        done += unsigned(data.size());
    }
    return int(done);
}

unsigned afc_file_write(int socket, qint64 handle, const char *data, unsigned length)
{
    unsigned done = 0;
    while (done < length) {
        const unsigned chunk = qMin(length - done, kAfcWriteChunk);
        AfcPacketHeader header = afc_header(socket, kAfcFileWrite);
        header.thisLength = 48;
        header.entireLength = 48 + quint64(chunk);
        const QByteArray handleBytes = le64(quint64(handle));
        afc_send(socket, header, handleBytes.constData(), int(handleBytes.size()));
        // The request announced the whole chunk: anything less leaves the
        // stream out of step.
        if (send_data(socket, data + done, int(chunk), kTimeoutMs) != int(chunk))
            throwError(QStringLiteral("write AFC file error."));
        done += chunk;
        afc_receive(socket, nullptr, nullptr);
    }
    return done;
}

int afc_file_lock(int socket, qint64 handle, int operation)
{
    sendRequest(socket, kAfcFileLock, le64(quint64(handle)) + le64(quint64(qint64(operation))));
    int status = 0;
    AfcPacketHeader reply;
    afc_receive(socket, &reply, &status);
    return reply.operation == kAfcStatus ? status : 0;
}

void afc_remove_path(int socket, const QString &path)
{
    request(socket, kAfcRemovePath, pathParameter(path));
}

void afc_make_dir(int socket, const QString &path)
{
    request(socket, kAfcMakeDir, pathParameter(path));
}

void afc_rename_path(int socket, const QString &from, const QString &to)
{
    request(socket, kAfcRenamePath, pathParameter(from) + pathParameter(to));
}

QStringList afc_read_dir(int socket, const QString &path)
{
    QStringList names;
    for (const QByteArray &piece : nulTerminatedPieces(request(socket, kAfcReadDir, pathParameter(path))))
        names << QString::fromUtf8(piece);
    return names;
}

QMap<QString, QString> afc_get_file_info(int socket, const QString &path)
{
    QMap<QString, QString> info;
    QString key;
    for (const QByteArray &piece : nulTerminatedPieces(request(socket, kAfcGetFileInfo, pathParameter(path)))) {
        if (key.isEmpty()) {
            key = QString::fromUtf8(piece);
        } else {
            info.insert(key, QString::fromUtf8(piece));
            key.clear();
        }
    }
    return info;
}
