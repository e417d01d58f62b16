#pragma once

#include <atomic>
#include <thread>

// Which thread holds a connection, with its statements and cursors. In
// builds with LARKSPAN_CHECK_CONNECTION_THREADS (the test and sanitizer
// builds) every call on the connection, its statements and its cursors is
// checked, and a call from a thread that may not use the connection now ends
// the program with a message naming the call: SQLite takes no lock of its own
// on these connections, and such a call would corrupt its memory without a
// word. In other builds the checks are not there at all.
//
// The thread that makes the first call holds the connection. Another thread
// takes it over with its first call when the connection is at rest: no call
// running, no cursor open, not lent. That is how a worker starts on the
// connection it was given while the window that gave it waits; that the
// window leaves it alone meanwhile is the worker protocol's promise, which
// ThreadSanitizer checks. While the holder has a cursor open or a call
// running, a call from another thread is a fault.
//
// Lent (Sqlite3Lease), the connection belongs to the first other thread
// that calls, and the lending thread may not use it until it is given back.
//
// The state is kept in relaxed atomics: the checks add no ordering between
// threads, so ThreadSanitizer still sees every race the checks let through.
class Sqlite3Holder
{
public:
    // One checked call on the connection, for as long as it lives.
    class Call
    {
    public:
        Call(Sqlite3Holder &holder, const char *call)
            : m_holder(holder)
        {
            m_holder.enter(call);
        }
        ~Call() { m_holder.leave(); }
        Call(const Call &) = delete;
        Call &operator=(const Call &) = delete;

    private:
        Sqlite3Holder &m_holder;
    };

#if defined(LARKSPAN_CHECK_CONNECTION_THREADS)
    static constexpr bool kChecked = true;

    // The calling thread is about to use the connection.
    void check(const char *call);
    // Around a call on the connection: it is not at rest until it returns.
    void enter(const char *call);
    void leave();
    void cursorOpened();
    void cursorClosed();
    // From the holder; the next thread to call holds it until giveBack(),
    // which any thread may call, and which hands it back to the lender.
    void lend(const char *call);
    void giveBack();

private:
    [[noreturn]] void fail(const char *call, const char *why) const;

    std::atomic<std::thread::id> m_holder{};
    std::atomic<int> m_calls{0};
    std::atomic<int> m_cursors{0};
    std::atomic<bool> m_lent{false};
    std::atomic<std::thread::id> m_lender{};
    std::atomic<std::thread::id> m_borrower{};
#else
    static constexpr bool kChecked = false;

    void check(const char *) {}
    void enter(const char *) {}
    void leave() {}
    void cursorOpened() {}
    void cursorClosed() {}
    void lend(const char *) {}
    void giveBack() {}
#endif
};
