#pragma once

#include <memory>

class Sqlite3Holder;

// A connection lent to another thread (Sqlite3DB::lend): from the lending on,
// the first other thread to use it holds it, and the lending thread may not
// use it until the lease is given back, which hands it back to the lender.
// The borrower gives it back once its last use is done (a cursor it stepped
// reset first), before the lender can learn that it is done; giving back is
// also what destroying the lease does. In builds without the connection
// checks a lease only keeps the order in which things are done.
class Sqlite3Lease
{
public:
    Sqlite3Lease() = default;
    explicit Sqlite3Lease(std::shared_ptr<Sqlite3Holder> holder);
    ~Sqlite3Lease();
    Sqlite3Lease(Sqlite3Lease &&other) noexcept;
    Sqlite3Lease &operator=(Sqlite3Lease &&other) noexcept;
    Sqlite3Lease(const Sqlite3Lease &) = delete;
    Sqlite3Lease &operator=(const Sqlite3Lease &) = delete;

    // From any thread; a second call does nothing.
    void giveBack();

private:
    std::shared_ptr<Sqlite3Holder> m_holder;
};
