#pragma once

#include <QByteArray>

class QIODevice;

// How a read within a bound ended.
enum class BoundedRead
{
    Whole,    // everything from the position to the end was read
    TooLarge, // there is more than the bound allows; nothing is kept
    Failed,   // the device reported an error (its errorString says which)
};

// Reads an open device from its position to its end when that is at most
// maxSize bytes, into bytes (emptied otherwise). A file is read to its size,
// checked against the bound first: the buffer is made as large as the file,
// never as large as the bound. A device that does not tell its size, or a
// file that grows while it is read, is read on in small steps up to one byte
// past the bound.
BoundedRead readWithin(QIODevice &device, qint64 maxSize, QByteArray &bytes);
