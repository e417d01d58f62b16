#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A database's write-ahead log ("-wal" beside it) as its bytes stand, read
// without the database engine and never written: the header, every frame's
// header and page image, and which frames the engine would take for the
// current log (the header's salts and an unbroken chain of checksums up to
// the last commit frame).
//
// A checkpoint keeps only the newest image of each page and the next
// generation of the log overwrites the oldest frames, so every other frame
// (older images of a page, frames of an earlier generation behind the
// current one, frames after a torn write) holds bytes that exist nowhere
// else. All of them are read.
//
// Every length and count comes from the file and is bounded: the page size
// must be one SQLite can write, frames are whole, and a log larger than
// kMaxBytes (far more than a phone's log grows to between checkpoints) is
// read only that far.
class WriteAheadLog
{
public:
    static constexpr qint64 kMaxBytes = qint64(256) << 20;

    struct Frame
    {
        quint32 pageNo = 0;
        // Non-zero on a commit frame: the database's size in pages after it.
        quint32 commitSize = 0;
        quint32 salt1 = 0;
        quint32 salt2 = 0;
        // The frame's salts are the header's and its checksum continues the
        // chain from the header through every frame before it.
        bool current = false;
        // Of the current log and at or before its last commit frame: what
        // the engine reads as the database.
        bool committed = false;
        // Offset of the page image in the file.
        qint64 offset = 0;
    };

    // Reads the log at path; a missing, empty or unreadable file, or one
    // whose header is not a log's, gives a log without frames (valid()
    // false), since a database need not have one.
    static WriteAheadLog read(const QString &path);
    // The same from bytes in memory.
    static WriteAheadLog fromBytes(const QByteArray &bytes);

    bool valid() const { return m_pageSize > 0; }
    int pageSize() const { return m_pageSize; }
    quint32 salt1() const { return m_salt1; }
    quint32 salt2() const { return m_salt2; }
    const QList<Frame> &frames() const { return m_frames; }
    // The log's bytes as read.
    const QByteArray &bytes() const { return m_bytes; }
    // How many frames, from the first, the engine reads as the database, and
    // the database's size in pages after the last of them (0 without one).
    int committedFrameCount() const;
    quint32 committedPageCount() const;
    // The page image of a frame; empty for a frame not of this log.
    QByteArray pageImage(const Frame &frame) const;
    // The images of every frame that names a page (number above 0), one
    // after another, and their page numbers in the same order; the committed
    // frames come first, as in the log.
    QByteArray allPageImages(QList<quint32> &pageNos) const;

    // The checksum of the log format over n bytes (a multiple of 8) at data,
    // continuing from s: 32-bit words in big- or little-endian order.
    static void checksum(const uchar *data, qint64 n, bool bigEndian, quint32 &s0, quint32 &s1);

private:
    QByteArray m_bytes;
    int m_pageSize = 0;
    quint32 m_salt1 = 0;
    quint32 m_salt2 = 0;
    QList<Frame> m_frames;
};
