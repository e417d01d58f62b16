#pragma once

#include <QByteArray>
#include <QString>

// One length-prefixed string of Manifest.mbdb. The length is kept exactly as
// it was read or set, so that an empty string (0) and no string at all
// (0xFFFF) survive a read-write round trip as they were.
class MbdbString
{
public:
    static constexpr quint16 None = 0xFFFF;
    static constexpr int MaxLength = 0xFFFE;

    MbdbString() = default;

    // The UTF-8 text up to the first zero byte; "" for both empty and none.
    QString toString() const;
    // length = the byte count. Throws std::runtime_error above MaxLength bytes,
    // since such a string cannot be written back.
    void setData(const QByteArray &bytes);

    bool isNone() const { return length == None; }

    // The stored length: 0, 1..0xFFFE, or 0xFFFF (none). data holds the
    // bytes for lengths 1..0xFFFE and is empty otherwise.
    quint16 length = None;
    QByteArray data;
};
