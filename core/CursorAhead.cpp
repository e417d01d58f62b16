#include "CursorAhead.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <utility>

#include "Sqlite3DB.h"
#include "Sqlite3Lease.h"

namespace
{
constexpr int kKinds = 4;

int kindIndex(CursorAhead::Kind kind)
{
    return int(kind);
}
} // namespace

struct CursorAhead::Batch
{
    int rows = 0;
    std::vector<qint64> ints;
    std::vector<QString> texts;
    std::vector<QByteArray> blobs;
    // (offset in bytes, size); a size of -1 for a null view.
    std::vector<std::pair<qsizetype, qsizetype>> spans;
    std::vector<char> bytes;

    // Keeps the room for the next rows.
    void clear()
    {
        rows = 0;
        ints.clear();
        texts.clear();
        blobs.clear();
        spans.clear();
        bytes.clear();
    }
};

struct CursorAhead::Shared
{
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::unique_ptr<Batch>> full;
    std::vector<std::unique_ptr<Batch>> spare;
    int made = 0;
    bool ended = false;
    bool stop = false;
    std::exception_ptr failure;

    // The stepping side's own; the plan is set before the first batch is
    // handed over and never changes after.
    Sqlite3Cursor cursor;
    // The connection while another thread steps it: given back by that
    // thread once the cursor is let go.
    Sqlite3Lease lease;
    Fields fields;
    bool planned = false;
    std::vector<Field> plan;
    std::vector<Slot> fieldSlots;
    int counts[kKinds] = {};

    // Lets the cursor's statement go and gives the connection back.
    void letGo()
    {
        cursor = Sqlite3Cursor();
        lease.giveBack();
    }

    void makePlan()
    {
        plan = fields(cursor);
        fieldSlots.reserve(plan.size());
        for (const Field &f : plan)
            fieldSlots.push_back(Slot{f.kind, counts[kindIndex(f.kind)]++});
        planned = true;
    }

    // Steps up to a batch of rows into b; false once the cursor has no more.
    bool fill(Batch &b)
    {
        while (b.rows < kBatchRows) {
            if (!cursor.moveNext())
                return false;
            if (!planned)
                makePlan();
            for (const Field &f : plan) {
                switch (f.kind) {
                case Kind::Int64:
                    b.ints.push_back(cursor.getInt64(f.place));
                    break;
                case Kind::Utf8: {
                    const QByteArrayView utf8 = cursor.getUtf8(f.place);
                    if (utf8.isNull()) {
                        b.spans.emplace_back(0, -1);
                    } else {
                        b.spans.emplace_back(qsizetype(b.bytes.size()), utf8.size());
                        b.bytes.insert(b.bytes.end(), utf8.begin(), utf8.end());
                    }
                    break;
                }
                case Kind::Text:
                    b.texts.push_back(cursor.getText(f.place));
                    break;
                case Kind::Blob:
                    b.blobs.push_back(cursor.getBlob(f.place));
                    break;
                }
            }
            ++b.rows;
        }
        return true;
    }

    // Steps one batch and hands it over; false once the stepping has ended.
    // wait: whether to wait for a spare batch (the own thread) rather than
    // make one more (the calling thread, which has handed its last one back).
    bool stepBatch(bool wait)
    {
        std::unique_ptr<Batch> b;
        {
            std::unique_lock<std::mutex> hold(lock);
            if (wait)
                changed.wait(hold, [this] { return stop || !spare.empty() || made < kBatches; });
            if (stop || ended)
                return false;
            if (!spare.empty()) {
                b = std::move(spare.back());
                spare.pop_back();
            } else {
                ++made;
            }
        }
        if (!b)
            b = std::make_unique<Batch>();
        bool more = true;
        std::exception_ptr error;
        try {
            more = fill(*b);
        } catch (...) {
            error = std::current_exception();
            more = false;
        }
        // The connection is the caller's again before it can learn the end.
        if (!more)
            letGo();
        const std::lock_guard<std::mutex> hold(lock);
        if (b->rows > 0)
            full.push_back(std::move(b));
        else
            spare.push_back(std::move(b));
        if (!more) {
            ended = true;
            // Moved, not copied: the caller is the failure's only owner
            // once the lock goes.
            failure = std::move(error);
        }
        changed.notify_all();
        return more;
    }
};

CursorAhead::CursorAhead(Sqlite3DB &db, const Sqlite3Sql &sql, Fields fields, int pageCacheKiB, Stepping stepping)
    : m_shared(std::make_shared<Shared>())
{
    if (pageCacheKiB > 0)
        m_cacheLimit.emplace(db, pageCacheKiB);
    m_shared->cursor = db.queryThrow(sql);
    m_shared->fields = std::move(fields);
    if (stepping != Stepping::OwnThread)
        return;
    m_shared->lease = db.lend();
    try {
        m_thread = std::thread([shared = m_shared] {
            try {
                while (shared->stepBatch(true)) {
                }
            } catch (...) {
                // Out of memory for the hand-over itself: the caller learns
                // of it as of a failure of the cursor.
                shared->letGo();
                const std::lock_guard<std::mutex> hold(shared->lock);
                if (!shared->ended) {
                    shared->ended = true;
                    shared->failure = std::current_exception();
                }
                shared->changed.notify_all();
            }
            // Stopped early: the statement and the connection go back all
            // the same.
            shared->letGo();
        });
    } catch (...) {
        // No thread: the rows are stepped on the calling thread.
        m_shared->lease.giveBack();
    }
}

CursorAhead::~CursorAhead()
{
    if (m_thread.joinable()) {
        {
            const std::lock_guard<std::mutex> hold(m_shared->lock);
            m_shared->stop = true;
        }
        m_shared->changed.notify_all();
        m_thread.join();
    }
    m_shared->letGo();
    // Only now, with the connection back on this thread.
    m_cacheLimit.reset();
}

bool CursorAhead::next()
{
    if (m_batch && m_row + 1 < m_batch->rows) {
        ++m_row;
        return true;
    }
    Shared &s = *m_shared;
    if (m_batch)
        m_batch->clear();
    std::unique_lock<std::mutex> hold(s.lock);
    if (m_batch) {
        s.spare.push_back(std::move(m_batch));
        s.changed.notify_all();
    }
    m_row = -1;
    for (;;) {
        if (!s.full.empty()) {
            m_batch = std::move(s.full.front());
            s.full.pop_front();
            m_row = 0;
            return true;
        }
        if (s.ended) {
            if (s.failure)
                std::rethrow_exception(std::exchange(s.failure, nullptr));
            return false;
        }
        if (m_thread.joinable()) {
            s.changed.wait(hold);
        } else {
            hold.unlock();
            s.stepBatch(false);
            hold.lock();
        }
    }
}

bool CursorAhead::place(int field, Kind kind, size_t *at) const
{
    if (!m_batch || m_row < 0 || field < 0 || size_t(field) >= m_shared->fieldSlots.size())
        return false;
    const Slot &s = m_shared->fieldSlots[size_t(field)];
    if (s.kind != kind)
        return false;
    // The current row's values of a kind lie together, in the fields' order.
    *at = size_t(m_row) * size_t(m_shared->counts[kindIndex(kind)]) + size_t(s.index);
    return true;
}

qint64 CursorAhead::int64(int field) const
{
    size_t at = 0;
    return place(field, Kind::Int64, &at) ? m_batch->ints[at] : 0;
}

QByteArrayView CursorAhead::utf8(int field) const
{
    size_t at = 0;
    if (!place(field, Kind::Utf8, &at))
        return QByteArrayView();
    const auto &[offset, size] = m_batch->spans[at];
    if (size < 0)
        return QByteArrayView();
    // An empty text is an empty view, never a null one.
    static const char empty = 0;
    return size == 0 ? QByteArrayView(&empty, 0) : QByteArrayView(m_batch->bytes.data() + offset, size);
}

QString CursorAhead::takeText(int field)
{
    size_t at = 0;
    return place(field, Kind::Text, &at) ? std::move(m_batch->texts[at]) : QString();
}

QByteArray CursorAhead::takeBlob(int field)
{
    size_t at = 0;
    return place(field, Kind::Blob, &at) ? std::move(m_batch->blobs[at]) : QByteArray();
}
