#include "MbdbStream.h"

#include <QDir>
#include <QFileDevice>
#include <QObject>
#include <QtEndian>

#include <stdexcept>

namespace
{

QString deviceName(const QIODevice &device)
{
    if (const auto *file = qobject_cast<const QFileDevice *>(&device))
        return QDir::toNativeSeparators(file->fileName());
    return QStringLiteral("stream");
}

[[noreturn]] void throwShortRead(const QIODevice &device, qint64 got)
{
    if (got < 0)
        throw std::runtime_error(device.errorString().toStdString());
    throw std::runtime_error(QObject::tr("Unexpected end of data in %1.").arg(deviceName(device)).toStdString());
}

void readExactly(QIODevice &device, char *out, qint64 size)
{
    const qint64 got = device.read(out, size);
    if (got != size)
        throwShortRead(device, got);
}

void writeExactly(QIODevice &device, const char *data, qint64 size)
{
    const qint64 put = device.write(data, size);
    if (put == size)
        return;
    if (put < 0)
        throw std::runtime_error(device.errorString().toStdString());
    throw std::runtime_error(QObject::tr("Cannot write to %1.").arg(deviceName(device)).toStdString());
}

template <typename T> T readBe(QIODevice &device)
{
    uchar bytes[sizeof(T)];
    readExactly(device, reinterpret_cast<char *>(bytes), sizeof(T));
    return qFromBigEndian<T>(bytes);
}

template <typename T> void writeBe(QIODevice &device, T value)
{
    uchar bytes[sizeof(T)];
    qToBigEndian<T>(value, bytes);
    writeExactly(device, reinterpret_cast<const char *>(bytes), sizeof(T));
}

} // namespace

quint8 readUInt8(QIODevice &device)
{
    return readBe<quint8>(device);
}

quint16 readBeUInt16(QIODevice &device)
{
    return readBe<quint16>(device);
}

quint32 readBeUInt32(QIODevice &device)
{
    return readBe<quint32>(device);
}

quint64 readBeUInt64(QIODevice &device)
{
    return readBe<quint64>(device);
}

MbdbString readMbdbString(QIODevice &device)
{
    MbdbString s;
    s.length = readBeUInt16(device);
    if (s.length == 0 || s.length == MbdbString::None)
        return s;
    if (!device.isSequential()) {
        const qint64 left = device.size() - device.pos();
        if (left < s.length)
            throwShortRead(device, left);
    }
    s.data.resize(s.length);
    readExactly(device, s.data.data(), s.length);
    return s;
}

void writeUInt8(QIODevice &device, quint8 value)
{
    writeBe<quint8>(device, value);
}

void writeBeUInt16(QIODevice &device, quint16 value)
{
    writeBe<quint16>(device, value);
}

void writeBeUInt32(QIODevice &device, quint32 value)
{
    writeBe<quint32>(device, value);
}

void writeBeUInt64(QIODevice &device, quint64 value)
{
    writeBe<quint64>(device, value);
}

void writeMbdbString(QIODevice &device, const MbdbString &string)
{
    const bool hasBytes = string.length != 0 && string.length != MbdbString::None;
    if (string.data.size() != (hasBytes ? string.length : 0))
        throw std::runtime_error(QObject::tr("A Manifest.mbdb string of length %1 holds %2 bytes.")
                                     .arg(string.length)
                                     .arg(string.data.size())
                                     .toStdString());
    writeBeUInt16(device, string.length);
    if (hasBytes)
        writeExactly(device, string.data.constData(), string.length);
}
