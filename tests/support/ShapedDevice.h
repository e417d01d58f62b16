#pragma once

#include <QByteArray>
#include <QIODevice>

// A read-only device over bytes that can be what files and pipes are to a
// reader: one that tells no size (a pipe), one that tells a smaller size
// than it holds (a file that grows while it is read), one whose reads fail
// from some offset on.
class ShapedDevice : public QIODevice
{
public:
    struct Shape
    {
        bool sequential = false;
        qint64 toldSize = -1;  // the size it gives when not sequential; -1: the true one
        qint64 failFrom = -1;  // reads reaching this offset fail; -1: never
    };

    ShapedDevice(const QByteArray &bytes, const Shape &shape);

    bool isSequential() const override { return m_shape.sequential; }
    qint64 size() const override;
    // Reads handed out so far, and the largest asked for at once.
    int reads() const { return m_reads; }
    qint64 largestRead() const { return m_largest; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    Shape m_shape;
    qint64 m_at = 0;
    int m_reads = 0;
    qint64 m_largest = 0;
};
