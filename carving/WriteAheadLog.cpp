#include "WriteAheadLog.h"

#include <QFile>

#include <algorithm>

namespace
{

constexpr qint64 kHeaderSize = 32;
constexpr qint64 kFrameHeaderSize = 24;
constexpr quint32 kMagic = 0x377f0682;
// The only format version there is.
constexpr quint32 kVersion = 3007000;

quint32 be32(const uchar *p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

quint32 le32(const uchar *p)
{
    return (quint32(p[3]) << 24) | (quint32(p[2]) << 16) | (quint32(p[1]) << 8) | quint32(p[0]);
}

} // namespace

void WriteAheadLog::checksum(const uchar *data, qint64 n, bool bigEndian, quint32 &s0, quint32 &s1)
{
    for (qint64 i = 0; i + 8 <= n; i += 8) {
        const quint32 x0 = bigEndian ? be32(data + i) : le32(data + i);
        const quint32 x1 = bigEndian ? be32(data + i + 4) : le32(data + i + 4);
        s0 += x0 + s1;
        s1 += x1 + s0;
    }
}

WriteAheadLog WriteAheadLog::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return WriteAheadLog();
    return fromBytes(file.read(std::min(file.size(), kMaxBytes)));
}

WriteAheadLog WriteAheadLog::fromBytes(const QByteArray &bytes)
{
    WriteAheadLog log;
    if (bytes.size() < kHeaderSize)
        return log;
    const auto *h = reinterpret_cast<const uchar *>(bytes.constData());
    const quint32 magic = be32(h);
    if ((magic & 0xFFFFFFFE) != kMagic || be32(h + 4) != kVersion)
        return log;
    const quint32 pageSize = be32(h + 8);
    // 65536 is stored as itself here (the database header's 1 is its own).
    if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0)
        return log;
    const bool bigEndian = (magic & 1) != 0;

    log.m_bytes = bytes;
    log.m_pageSize = static_cast<int>(pageSize);
    log.m_salt1 = be32(h + 16);
    log.m_salt2 = be32(h + 20);

    // The header's own checksum seeds the chain; a header that fails it has
    // no current frames, but its frames are still pages.
    quint32 s0 = 0;
    quint32 s1 = 0;
    checksum(h, 24, bigEndian, s0, s1);
    bool chain = s0 == be32(h + 24) && s1 == be32(h + 28);

    const qint64 frameSize = kFrameHeaderSize + pageSize;
    const qint64 count = (bytes.size() - kHeaderSize) / frameSize;
    log.m_frames.reserve(static_cast<int>(count));
    int lastCommit = -1;
    for (qint64 i = 0; i < count; ++i) {
        const qint64 at = kHeaderSize + i * frameSize;
        const uchar *f = h + at;
        Frame frame;
        frame.pageNo = be32(f);
        frame.commitSize = be32(f + 4);
        frame.salt1 = be32(f + 8);
        frame.salt2 = be32(f + 12);
        frame.offset = at + kFrameHeaderSize;
        if (chain) {
            checksum(f, 8, bigEndian, s0, s1);
            checksum(f + kFrameHeaderSize, pageSize, bigEndian, s0, s1);
            chain = frame.pageNo > 0 && frame.salt1 == log.m_salt1 && frame.salt2 == log.m_salt2
                && s0 == be32(f + 16) && s1 == be32(f + 20);
        }
        frame.current = chain;
        if (chain && frame.commitSize != 0)
            lastCommit = static_cast<int>(i);
        log.m_frames.append(frame);
    }
    for (int i = 0; i <= lastCommit; ++i)
        log.m_frames[i].committed = true;
    return log;
}

QByteArray WriteAheadLog::pageImage(const Frame &frame) const
{
    if (m_pageSize <= 0 || frame.offset < kHeaderSize || frame.offset + m_pageSize > m_bytes.size())
        return QByteArray();
    return m_bytes.mid(frame.offset, m_pageSize);
}

int WriteAheadLog::committedFrameCount() const
{
    int n = 0;
    while (n < m_frames.size() && m_frames[n].committed)
        ++n;
    return n;
}

quint32 WriteAheadLog::committedPageCount() const
{
    const int n = committedFrameCount();
    return n > 0 ? m_frames[n - 1].commitSize : 0;
}

QByteArray WriteAheadLog::allPageImages(QList<quint32> &pageNos) const
{
    pageNos.clear();
    QByteArray out;
    int named = 0;
    for (const Frame &f : m_frames)
        named += f.pageNo > 0 ? 1 : 0;
    out.reserve(qint64(named) * m_pageSize);
    for (const Frame &f : m_frames) {
        if (f.pageNo == 0)
            continue;
        out.append(m_bytes.constData() + f.offset, m_pageSize);
        pageNos.append(f.pageNo);
    }
    return out;
}
