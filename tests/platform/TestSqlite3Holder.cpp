#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <thread>

#include "Sqlite3DB.h"
#include "Sqlite3Holder.h"

// Which thread may use a connection: the one that holds it; another takes it
// over only at rest, or borrows it while it is lent. A call from any other
// thread ends the program, so the faults are death tests.
namespace
{

class Sqlite3HolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        ASSERT_TRUE(Sqlite3Holder::kChecked) << "the tests are built with the connection checks";
        ASSERT_TRUE(dir.isValid());
        db.openThrow(dir.filePath(QStringLiteral("t.db")), Sqlite3DB::ReadWriteCreate);
        db.executeThrow("create table t(n INTEGER)");
        db.executeThrow("insert into t(n) values(1), (2), (3)");
    }

    qint64 count()
    {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select count(*) from t"));
        return c.moveNext() ? c.getInt64(0) : -1;
    }
    // Runs work on a thread of its own and waits for it.
    static void onAnotherThread(const std::function<void()> &work)
    {
        std::thread other(work);
        other.join();
    }

    QTemporaryDir dir;
    Sqlite3DB db;
};

TEST_F(Sqlite3HolderTest, AConnectionAtRestIsTakenOverAndBack)
{
    // As a worker takes the connection the window gave it, and the window
    // takes it back once the worker has ended.
    qint64 there = 0;
    onAnotherThread([&] {
        db.executeThrow("insert into t(n) values(4)");
        there = count();
    });
    EXPECT_EQ(there, 4);
    EXPECT_EQ(count(), 4);
    db.close();
    onAnotherThread([&] { db.openThrow(dir.filePath(QStringLiteral("t.db")), Sqlite3DB::ReadOnly); });
    EXPECT_EQ(count(), 4);
}

TEST_F(Sqlite3HolderTest, AnotherThreadMayNotCallWhileTheHolderHasACursorOpen)
{
    EXPECT_DEATH(
        {
            Sqlite3Cursor open = db.queryThrow(Sqlite3Sql("select n from t"));
            open.moveNext();
            onAnotherThread([&] { count(); });
        },
        "wrong thread: Sqlite3DB::queryThrow on thread .*, while its holder has a call running or a cursor open");
    // Nor step a cursor the holder opened.
    EXPECT_DEATH(
        {
            Sqlite3Cursor open = db.queryThrow(Sqlite3Sql("select n from t"));
            onAnotherThread([&] { open.moveNext(); });
        },
        "wrong thread: Sqlite3Stmt::step");
}

TEST_F(Sqlite3HolderTest, ALentConnectionIsTheBorrowersUntilItIsGivenBack)
{
    {
        Sqlite3Lease lease = db.lend();
        qint64 there = 0;
        onAnotherThread([&] {
            there = count();
            lease.giveBack();
        });
        EXPECT_EQ(there, 3);
    }
    EXPECT_EQ(count(), 3);

    // The lender may not use it meanwhile, before the borrower's first call
    // or after, nor lend it twice.
    EXPECT_DEATH(
        {
            Sqlite3Lease lease = db.lend();
            count();
        },
        "wrong thread: Sqlite3DB::queryThrow on thread .*, while it is lent to another thread");
    EXPECT_DEATH(
        {
            Sqlite3Lease lease = db.lend();
            onAnotherThread([&] { count(); });
            db.isOpen();
        },
        "wrong thread: Sqlite3DB::isOpen on thread .*, while it is lent to another thread");
    EXPECT_DEATH(
        {
            Sqlite3Lease lease = db.lend();
            Sqlite3Lease again = db.lend();
        },
        "while it is lent");
    // Only the first thread to call is the borrower.
    EXPECT_DEATH(
        {
            Sqlite3Lease lease = db.lend();
            std::promise<void> done;
            std::thread borrower([&] {
                count();
                done.get_future().wait();
            });
            onAnotherThread([&] { count(); });
            done.set_value();
            borrower.join();
        },
        "while it is lent to another thread");
    // A lease that goes gives the connection back.
    {
        Sqlite3Lease lease = db.lend();
        onAnotherThread([&] { count(); });
    }
    EXPECT_EQ(count(), 3);
}

} // namespace
