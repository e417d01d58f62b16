#include "Sqlite3Holder.h"

#if defined(LARKSPAN_CHECK_CONNECTION_THREADS)

#include <QtGlobal>

#include <sstream>
#include <string>

namespace
{
constexpr auto kRelaxed = std::memory_order_relaxed;

std::string idText(std::thread::id id)
{
    std::ostringstream text;
    text << id;
    return text.str();
}
} // namespace

void Sqlite3Holder::fail(const char *call, const char *why) const
{
    qFatal("SQLite connection used from the wrong thread: %s on thread %s, %s (held by thread %s).", call,
           idText(std::this_thread::get_id()).c_str(), why, idText(m_holder.load(kRelaxed)).c_str());
}

void Sqlite3Holder::check(const char *call)
{
    const std::thread::id me = std::this_thread::get_id();
    if (m_lent.load(kRelaxed)) {
        std::thread::id borrower = m_borrower.load(kRelaxed);
        if (borrower == me)
            return;
        if (borrower == std::thread::id()) {
            if (me == m_lender.load(kRelaxed))
                fail(call, "while it is lent to another thread");
            if (m_borrower.compare_exchange_strong(borrower, me, kRelaxed) || borrower == me)
                return;
        }
        fail(call, "while it is lent to another thread");
    }
    std::thread::id holder = m_holder.load(kRelaxed);
    if (holder == me)
        return;
    const bool atRest = m_calls.load(kRelaxed) == 0 && m_cursors.load(kRelaxed) == 0;
    if (!atRest)
        fail(call, "while its holder has a call running or a cursor open");
    if (!m_holder.compare_exchange_strong(holder, me, kRelaxed) && holder != me)
        fail(call, "while another thread takes it over");
}

void Sqlite3Holder::enter(const char *call)
{
    check(call);
    m_calls.fetch_add(1, kRelaxed);
}

void Sqlite3Holder::leave()
{
    m_calls.fetch_sub(1, kRelaxed);
}

void Sqlite3Holder::cursorOpened()
{
    m_cursors.fetch_add(1, kRelaxed);
}

void Sqlite3Holder::cursorClosed()
{
    m_cursors.fetch_sub(1, kRelaxed);
}

void Sqlite3Holder::lend(const char *call)
{
    check(call);
    if (m_lent.load(kRelaxed))
        fail(call, "while it is lent already");
    m_lender.store(std::this_thread::get_id(), kRelaxed);
    m_borrower.store(std::thread::id(), kRelaxed);
    m_lent.store(true, kRelaxed);
}

void Sqlite3Holder::giveBack()
{
    if (!m_lent.load(kRelaxed))
        return;
    m_holder.store(m_lender.load(kRelaxed), kRelaxed);
    m_lent.store(false, kRelaxed);
}

#endif
