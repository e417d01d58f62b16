#include "AfcPacketHeader.h"

#include <QtEndian>

#include <cstring>

QByteArray AfcPacketHeader::toBytes() const
{
    QByteArray bytes(kSize, '\0');
    char *p = bytes.data();
    std::memcpy(p, magic.constData(), size_t(qMin<qsizetype>(magic.size(), 8)));
    qToLittleEndian(entireLength, p + 8);
    qToLittleEndian(thisLength, p + 16);
    qToLittleEndian(packetNumber, p + 24);
    qToLittleEndian(operation, p + 32);
    return bytes;
}

AfcPacketHeader AfcPacketHeader::fromBytes(const char *bytes)
{
    AfcPacketHeader h;
    h.magic = QByteArray(bytes, 8);
    h.entireLength = qFromLittleEndian<quint64>(bytes + 8);
    h.thisLength = qFromLittleEndian<quint64>(bytes + 16);
    h.packetNumber = qFromLittleEndian<quint64>(bytes + 24);
    h.operation = qFromLittleEndian<quint64>(bytes + 32);
    return h;
}
