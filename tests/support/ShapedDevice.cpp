#include "ShapedDevice.h"

#include <algorithm>
#include <cstring>

ShapedDevice::ShapedDevice(const QByteArray &bytes, const Shape &shape)
    : m_bytes(bytes)
    , m_shape(shape)
{
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 ShapedDevice::size() const
{
    if (m_shape.sequential)
        return QIODevice::size();
    return m_shape.toldSize >= 0 ? m_shape.toldSize : m_bytes.size();
}

qint64 ShapedDevice::readData(char *data, qint64 maxSize)
{
    ++m_reads;
    m_largest = std::max(m_largest, maxSize);
    const qint64 n = std::min<qint64>(maxSize, m_bytes.size() - m_at);
    if (m_shape.failFrom >= 0 && m_at + n >= m_shape.failFrom && n > 0) {
        setErrorString(QStringLiteral("read error"));
        return -1;
    }
    std::memcpy(data, m_bytes.constData() + m_at, size_t(n));
    m_at += n;
    return n;
}
