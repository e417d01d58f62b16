#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "BoundedRead.h"
#include "CaseName.h"
#include "RandomBytes.h"
#include "ShapedDevice.h"

namespace
{

struct DeviceCase
{
    std::string name;
    int size;   // bytes the device holds
    qint64 bound;
    ShapedDevice::Shape shape;
    BoundedRead result;
};

void PrintTo(const DeviceCase &c, std::ostream *os)
{
    *os << c.name;
}

class BoundedReadDevice : public ::testing::TestWithParam<DeviceCase>
{
};

ShapedDevice::Shape told(qint64 size)
{
    ShapedDevice::Shape s;
    s.toldSize = size;
    return s;
}

ShapedDevice::Shape pipe()
{
    ShapedDevice::Shape s;
    s.sequential = true;
    return s;
}

ShapedDevice::Shape failingFrom(qint64 offset, bool sequential = false)
{
    ShapedDevice::Shape s;
    s.sequential = sequential;
    s.failFrom = offset;
    return s;
}

constexpr qint64 kLargeBound = qint64(256) << 20;

} // namespace

// Whatever the device says of its size, what comes back is all of it or
// nothing, and no read asks for more than the device holds plus a small step
// (never for the bound).
TEST_P(BoundedReadDevice, ReadsAllOrRefuses)
{
    const DeviceCase &c = GetParam();
    const QByteArray content = randomBytes(c.size, quint32(c.size) + 3);
    ShapedDevice device(content, c.shape);
    QByteArray bytes("left from before");
    EXPECT_EQ(readWithin(device, c.bound, bytes), c.result);
    if (c.result == BoundedRead::Whole)
        EXPECT_TRUE(bytes == content);
    else
        EXPECT_TRUE(bytes.isEmpty());
    EXPECT_LE(device.largestRead(), std::max<qint64>(c.size, 16384));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BoundedReadDevice,
    ::testing::Values(
        DeviceCase{"Empty", 0, 10, {}, BoundedRead::Whole},
        DeviceCase{"BelowTheBound", 5, 10, {}, BoundedRead::Whole},
        DeviceCase{"AtTheBound", 10, 10, {}, BoundedRead::Whole},
        DeviceCase{"OneByteOver", 11, 10, {}, BoundedRead::TooLarge},
        DeviceCase{"SmallUnderALargeBound", 10000, kLargeBound, {}, BoundedRead::Whole},
        // A file that grew after its size was taken.
        DeviceCase{"GrewWithinTheBound", 50000, 60000, told(1000), BoundedRead::Whole},
        DeviceCase{"GrewPastTheBound", 50000, 40000, told(1000), BoundedRead::TooLarge},
        DeviceCase{"GrewToTheBound", 40000, 40000, told(0), BoundedRead::Whole},
        // One that became shorter.
        DeviceCase{"ShrankAfterItsSizeWasTaken", 1000, 60000, told(5000), BoundedRead::Whole},
        DeviceCase{"PipeWithinTheBound", 50000, kLargeBound, pipe(), BoundedRead::Whole},
        DeviceCase{"PipeAtTheBound", 40000, 40000, pipe(), BoundedRead::Whole},
        DeviceCase{"PipePastTheBound", 40001, 40000, pipe(), BoundedRead::TooLarge},
        DeviceCase{"ReadErrorInTheFile", 5000, kLargeBound, failingFrom(100), BoundedRead::Failed},
        DeviceCase{"ReadErrorInThePipe", 50000, kLargeBound, failingFrom(30000, true), BoundedRead::Failed}),
    CaseName());

// A file is read from where it stands and checked against the bound by its
// size before anything is read: one far over it is refused at once.
TEST(BoundedReadFile, IsCheckedBySizeAndReadFromItsPosition)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("f"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_EQ(file.write("0123456789"), 10);
    ASSERT_TRUE(file.seek(3));
    QByteArray bytes;
    EXPECT_EQ(readWithin(file, 7, bytes), BoundedRead::Whole);
    EXPECT_EQ(bytes, "3456789");
    ASSERT_TRUE(file.seek(2));
    EXPECT_EQ(readWithin(file, 7, bytes), BoundedRead::TooLarge);
    EXPECT_TRUE(bytes.isEmpty());

    // A sparse gigabyte: refused by its size, with nothing read.
    ASSERT_TRUE(file.resize(qint64(1) << 30));
    ASSERT_TRUE(file.seek(0));
    EXPECT_EQ(readWithin(file, qint64(1) << 20, bytes), BoundedRead::TooLarge);
    EXPECT_EQ(file.pos(), 0);
}
