#include <QBuffer>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "MbdbStream.h"

namespace
{

QBuffer *reader(QBuffer &buffer, const QByteArray &bytes)
{
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return &buffer;
}

} // namespace

TEST(MbdbStream, ReadsBigEndianNumbers)
{
    QBuffer b;
    reader(b, QByteArray::fromHex("7f" "1234" "89abcdef" "0102030405060708"));
    EXPECT_EQ(readUInt8(b), 0x7F);
    EXPECT_EQ(readBeUInt16(b), 0x1234);
    EXPECT_EQ(readBeUInt32(b), 0x89ABCDEFu);
    EXPECT_EQ(readBeUInt64(b), 0x0102030405060708ull);
    EXPECT_TRUE(b.atEnd());
}

TEST(MbdbStream, EveryReadThrowsWhenTheDataRunsOut)
{
    struct Case
    {
        const char *name;
        QByteArray bytes;
        std::function<void(QIODevice &)> read;
    };
    const Case cases[] = {
        {"u8 of nothing", {}, [](QIODevice &d) { readUInt8(d); }},
        {"u16 of 1 byte", "\x01", [](QIODevice &d) { readBeUInt16(d); }},
        {"u32 of 3 bytes", "\x01\x02\x03", [](QIODevice &d) { readBeUInt32(d); }},
        {"u64 of 7 bytes", "\x01\x02\x03\x04\x05\x06\x07", [](QIODevice &d) { readBeUInt64(d); }},
        {"string length cut", "\x00", [](QIODevice &d) { readMbdbString(d); }},
        {"string of 5 with 4 bytes", QByteArray("\x00\x05", 2) + "abcd", [](QIODevice &d) { readMbdbString(d); }},
        {"string of 0xFFFE with none", "\xff\xfe", [](QIODevice &d) { readMbdbString(d); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QBuffer b;
        reader(b, c.bytes);
        EXPECT_THROW(c.read(b), std::runtime_error);
    }
}

TEST(MbdbStream, StringLengthsZeroAndNoneReadNoBytes)
{
    struct Case
    {
        QByteArray bytes;
        quint16 length;
        QByteArray data;
    };
    const Case cases[] = {
        {QByteArray("\x00\x00", 2) + "zz", 0, {}},
        {QByteArray("\xff\xff", 2) + "zz", 0xFFFF, {}},
        {QByteArray("\x00\x02", 2) + "zz", 2, "zz"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        QBuffer b;
        reader(b, c.bytes);
        const MbdbString s = readMbdbString(b);
        EXPECT_EQ(s.length, c.length);
        EXPECT_EQ(s.data, c.data);
        EXPECT_EQ(b.pos(), 2 + c.data.size());
    }
}

TEST(MbdbStream, WritesWhatItReads)
{
    QBuffer b;
    b.open(QIODevice::WriteOnly);
    writeUInt8(b, 0x7F);
    writeBeUInt16(b, 0x1234);
    writeBeUInt32(b, 0x89ABCDEF);
    writeBeUInt64(b, 0x0102030405060708ull);
    MbdbString none, empty, text;
    empty.setData({});
    text.setData("hi");
    writeMbdbString(b, none);
    writeMbdbString(b, empty);
    writeMbdbString(b, text);
    EXPECT_EQ(b.data().toHex(), QByteArray("7f" "1234" "89abcdef" "0102030405060708" "ffff" "0000" "00026869"));
}

TEST(MbdbStream, WriteRefusesAStringWhoseBytesDisagreeWithItsLength)
{
    struct Case
    {
        quint16 length;
        QByteArray data;
    };
    const Case cases[] = {{3, "ab"}, {1, "ab"}, {0, "a"}, {0xFFFF, "a"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        QBuffer b;
        b.open(QIODevice::WriteOnly);
        MbdbString s;
        s.length = c.length;
        s.data = c.data;
        EXPECT_THROW(writeMbdbString(b, s), std::runtime_error);
        EXPECT_TRUE(b.data().isEmpty());
    }
}

TEST(MbdbStream, WriteToADeviceThatTakesNothingThrows)
{
    QBuffer b;
    b.open(QIODevice::ReadOnly);
    EXPECT_THROW(writeBeUInt32(b, 1), std::runtime_error);
    EXPECT_THROW(writeMbdbString(b, MbdbString()), std::runtime_error);
}
