#include "BoundedRead.h"

#include <QIODevice>

#include <algorithm>

namespace
{

// What is read past the size a device gave, at a time.
constexpr qint64 kStep = 16384;

} // namespace

BoundedRead readWithin(QIODevice &device, qint64 maxSize, QByteArray &bytes)
{
    bytes.clear();
    const qint64 told = device.isSequential() ? 0 : std::max<qint64>(device.size() - device.pos(), 0);
    if (told > maxSize)
        return BoundedRead::TooLarge;

    QByteArray read(qsizetype(told), Qt::Uninitialized);
    qint64 filled = 0;
    while (filled < told) {
        const qint64 n = device.read(read.data() + filled, told - filled);
        if (n < 0)
            return BoundedRead::Failed;
        if (n == 0)
            break; // it became shorter
        filled += n;
    }
    read.truncate(qsizetype(filled));

    // Whatever follows is more than the device said it held.
    char step[kStep];
    while (true) {
        const qint64 n = device.read(step, std::min<qint64>(kStep, maxSize + 1 - read.size()));
        if (n < 0)
            return BoundedRead::Failed;
        if (n == 0)
            break;
        read.append(step, qsizetype(n));
        if (read.size() > maxSize)
            return BoundedRead::TooLarge;
    }
    bytes = read;
    return BoundedRead::Whole;
}
