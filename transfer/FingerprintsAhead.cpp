#include "FingerprintsAhead.h"

#include <QThread>

#include <algorithm>
#include <thread>

namespace
{

// Messages per block: their digests take 256 KiB, and a block is done in a
// few milliseconds, so a cancelled run waits for no more than that.
constexpr qsizetype kBlock = 16384;
// Below this a block is done on the caller's thread: starting threads would
// cost more than it saves.
constexpr qsizetype kThreadedFrom = 2048;
constexpr int kMaxThreads = 8;

} // namespace

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
    m_block.assign(size_t(count), FingerprintDigest{});
    auto digestRange = [this, from](qsizetype begin, qsizetype end) {
        for (qsizetype i = begin; i < end; ++i) {
            if (const _MsgMessage *m = m_messages.at(from + i))
                m_block[size_t(i)] = messageFingerprintDigest(*m);
        }
    };
    const int threads = count < kThreadedFrom ? 1 : std::clamp(QThread::idealThreadCount(), 1, kMaxThreads);
    if (threads == 1) {
        digestRange(0, count);
        return;
    }
    // Each thread takes its own slice; a thread that fails (no memory) leaves
    // its slice to this one.
    std::vector<char> failed(size_t(threads), 0);
    // Joined however this function is left.
    struct Workers
    {
        std::vector<std::thread> threads;
        ~Workers()
        {
            for (std::thread &t : threads)
                t.join();
        }
    } workers;
    const qsizetype slice = (count + threads - 1) / threads;
    for (int t = 1; t < threads; ++t) {
        const qsizetype begin = std::min(count, t * slice);
        const qsizetype end = std::min(count, begin + slice);
        try {
            workers.threads.emplace_back([&digestRange, &failed, t, begin, end] {
                try {
                    digestRange(begin, end);
                } catch (...) {
                    failed[size_t(t)] = 1;
                }
            });
        } catch (...) {
            failed[size_t(t)] = 1;
        }
    }
    digestRange(0, std::min(count, slice));
    for (std::thread &w : workers.threads)
        w.join();
    workers.threads.clear();
    for (int t = 1; t < threads; ++t) {
        if (failed[size_t(t)])
            digestRange(std::min(count, t * slice), std::min(count, (t + 1) * slice));
    }
}

const FingerprintDigest *FingerprintsAhead::take(const _MsgMessage *message, const FingerprintDigest **next)
{
    *next = nullptr;
    if (!message || m_next >= m_messages.size() || m_messages.at(m_next) != message)
        return nullptr;
    if (m_block.empty() || m_next >= m_blockFrom + qsizetype(m_block.size()))
        computeBlock(m_next);
    const FingerprintDigest *digest = &m_block[size_t(m_next - m_blockFrom)];
    ++m_next;
    if (m_next < m_blockFrom + qsizetype(m_block.size()))
        *next = &m_block[size_t(m_next - m_blockFrom)];
    return digest;
}
