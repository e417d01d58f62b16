#include "BplistBuilder.h"


#include <cstring>

namespace
{

QByteArray bigEndian(quint64 value, int width)
{
    QByteArray out(width, '\0');
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char(value & 0xFF);
        value >>= 8;
    }
    return out;
}

QByteArray bigEndianDouble(double value)
{
    quint64 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bigEndian(bits, 8);
}

} // namespace

BplistBuilder::BplistBuilder(int refSize, int offsetSize)
    : m_refSize(refSize)
    , m_offsetSize(offsetSize)
{
}

QByteArray BplistBuilder::marker(quint8 type, quint64 count) const
{
    if (count < 15)
        return QByteArray(1, char((type << 4) | count));
    return QByteArray(1, char((type << 4) | 0x0F)) + QByteArray(1, char(0x13)) + bigEndian(count, 8);
}

QByteArray BplistBuilder::ref(int id) const
{
    return bigEndian(quint64(id), m_refSize);
}

int BplistBuilder::addRaw(const QByteArray &object)
{
    m_objects.append(object);
    return int(m_objects.size()) - 1;
}

int BplistBuilder::addBool(bool value)
{
    return addRaw(QByteArray(1, value ? char(0x09) : char(0x08)));
}

int BplistBuilder::addInt(quint64 value)
{
    return addRaw(QByteArray(1, char(0x13)) + bigEndian(value, 8));
}

int BplistBuilder::addReal(double value)
{
    return addRaw(QByteArray(1, char(0x23)) + bigEndianDouble(value));
}

int BplistBuilder::addDate(double secsSince2001)
{
    return addRaw(QByteArray(1, char(0x33)) + bigEndianDouble(secsSince2001));
}

int BplistBuilder::addAscii(const QByteArray &text)
{
    return addRaw(marker(0x5, quint64(text.size())) + text);
}

int BplistBuilder::addData(const QByteArray &bytes)
{
    return addRaw(marker(0x4, quint64(bytes.size())) + bytes);
}

int BplistBuilder::addArray(const QList<int> &refs)
{
    QByteArray object = marker(0xA, quint64(refs.size()));
    for (int r : refs)
        object += ref(r);
    return addRaw(object);
}

int BplistBuilder::addDict(const QList<int> &keys, const QList<int> &values)
{
    QByteArray object = marker(0xD, quint64(keys.size()));
    for (int k : keys)
        object += ref(k);
    for (int v : values)
        object += ref(v);
    return addRaw(object);
}

QByteArray BplistBuilder::build(int top) const
{
    qint64 tableOffset = 8;
    for (const QByteArray &o : m_objects)
        tableOffset += o.size();
    return build(top, quint64(m_objects.size()), quint64(tableOffset));
}

QByteArray BplistBuilder::build(int top, quint64 objectCount, quint64 tableOffset) const
{
    QByteArray out("bplist00");
    QList<qint64> offsets;
    for (const QByteArray &o : m_objects) {
        offsets.append(out.size());
        out += o;
    }
    for (qint64 offset : offsets)
        out += bigEndian(quint64(offset), m_offsetSize);
    out += QByteArray(6, '\0');
    out += char(m_offsetSize);
    out += char(m_refSize);
    out += bigEndian(objectCount, 8);
    out += bigEndian(quint64(top), 8);
    out += bigEndian(tableOffset, 8);
    return out;
}
