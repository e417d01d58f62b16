#include "FingerprintsAhead.h"

#include <algorithm>

#include "ParallelSlices.h"

namespace
{

// Messages per block: their digests take 256 KiB, and a block is done in a
// few milliseconds, so a cancelled run waits for no more than that.
constexpr qsizetype kBlock = 16384;
// The fewest messages worth a thread of their own: fewer cost more to start
// a thread for than they save.
constexpr qsizetype kMinSlice = 1024;

} // namespace

size_t guidDigest(QByteArrayView utf8)
{
    return qHash(utf8, qGlobalQHashSeed());
}

size_t guidDigest(const QString &guid)
{
    constexpr qsizetype kShort = 128;
    if (guid.size() <= kShort) {
        char ascii[kShort];
        const QChar *chars = guid.constData();
        qsizetype n = 0;
        while (n < guid.size() && chars[n].unicode() < 0x80) {
            ascii[n] = char(chars[n].unicode());
            ++n;
        }
        if (n == guid.size())
            return guidDigest(QByteArrayView(ascii, n));
    }
    return guidDigest(QByteArrayView(guid.toUtf8()));
}

void FingerprintsAhead::reset(const QList<_MsgMessage *> &messages)
{
    m_messages = messages;
    m_next = 0;
    m_blockFrom = 0;
    m_block.clear();
}

void FingerprintsAhead::computeBlock(qsizetype from)
{
    const qsizetype count = std::min(kBlock, m_messages.size() - from);
    m_blockFrom = from;
    m_block.assign(size_t(count), Coming{});
    // On several threads: against one loop on this thread, a backup of
    // duplicates takes about a quarter less.
    runSlices(count, kMinSlice, [this, from](qsizetype begin, qsizetype end) {
        for (qsizetype i = begin; i < end; ++i) {
            if (const _MsgMessage *m = m_messages.at(from + i))
                m_block[size_t(i)] = Coming{messageFingerprintDigest(*m), guidDigest(m->guid)};
        }
    });
}

const FingerprintsAhead::Coming *FingerprintsAhead::take(const _MsgMessage *message)
{
    if (!message || m_next >= m_messages.size() || m_messages.at(m_next) != message)
        return nullptr;
    if (m_block.empty() || m_next >= m_blockFrom + qsizetype(m_block.size()))
        computeBlock(m_next);
    const Coming *digest = &m_block[size_t(m_next - m_blockFrom)];
    ++m_next;
    return digest;
}
