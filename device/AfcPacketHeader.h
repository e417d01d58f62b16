#pragma once

#include <QByteArray>
#include <QtGlobal>

// The 40-byte header that begins every AFC packet in both directions; on the
// wire every field is little-endian.
struct AfcPacketHeader
{
    static constexpr int kSize = 40;
    static constexpr char kMagic[] = "CFA6LPAA";

    QByteArray magic = QByteArray(kMagic, 8);
    quint64 entireLength = 0; // header + parameters + data
    quint64 thisLength = 0;   // header + parameters
    quint64 packetNumber = 0;
    quint64 operation = 0;

    QByteArray toBytes() const;
    // From kSize bytes.
    static AfcPacketHeader fromBytes(const char *bytes);
};
