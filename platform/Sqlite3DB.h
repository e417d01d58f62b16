#pragma once

#include <QHash>
#include <QMap>
#include <QSharedPointer>
#include <QString>

#include <memory>

#include "Sqlite3Cursor.h"
#include "Sqlite3Lease.h"
#include "Sqlite3Sql.h"
#include "_SqliteCol.h"

struct sqlite3;
class Sqlite3Holder;
class Sqlite3Stmt;

// One SQLite connection. Constructed closed. Every failing operation but
// exec throws std::runtime_error with SQLite's message as UTF-8.
//
// Statements are prepared once per distinct SQL text and kept for the life
// of the connection; a statement that is still in use by a cursor is not
// handed out again (a second one is prepared for the overlapping use).
//
// A connection, its statements and cursors are used by one thread at a time:
// a worker thread takes a connection over while the window waits for it. The
// connection takes no lock of its own; which thread holds it is checked on
// every call in the test and sanitizer builds (Sqlite3Holder).
class Sqlite3DB
{
public:
    // Open flags, the values of SQLite's own.
    enum OpenFlag { ReadOnly = 1, ReadWrite = 2, ReadWriteCreate = 6 };

    Sqlite3DB();
    virtual ~Sqlite3DB();
    Sqlite3DB(const Sqlite3DB &) = delete;
    Sqlite3DB &operator=(const Sqlite3DB &) = delete;

    // Opens path with flags 1 (read-only), 2 (read-write; a missing file is
    // an error and nothing is created) or 6 (read-write, created when missing).
    // An open connection is closed first.
    void openThrow(const QString &path, int flags);
    // Releases the file; a transaction still open is discarded.
    void close();
    bool isOpen() const;
    // The raw connection; null while closed. What is done with it is the
    // calling thread's use of the connection.
    sqlite3 *handle() const;
    const QString &dbPath() const;

    // Lends the connection to another thread, which holds it from its first
    // call until the lease is given back; this thread may not use it
    // meanwhile (Sqlite3Lease).
    Sqlite3Lease lend();

    void beginTran();
    void commitTran();
    void rollbackTran();

    Sqlite3Cursor queryThrow(const Sqlite3Sql &sql);
    // Runs a statement to its end (rows it may give are ignored).
    void executeThrow(const Sqlite3Sql &sql);
    qint64 lastInsertId() const;
    // Rows changed by the last insert, update or delete.
    int changes() const;
    // Runs one or more statements; 0 on success, else SQLite's code with the
    // message in error. Never throws.
    int exec(const QString &sql, QString &error);
    // The columns of a table by name (empty for a missing table).
    QHash<QString, _SqliteCol> tbInfo(const QString &table);

private:
    QSharedPointer<Sqlite3Stmt> prepared(const Sqlite3Sql &sql);

    std::shared_ptr<Sqlite3Holder> m_holder;
    sqlite3 *m_db = nullptr;
    QString m_path;
    QHash<QString, QSharedPointer<Sqlite3Stmt>> m_cache;
    // The statements run lately by where their text lies: a batch runs the
    // same few texts (shared, not copied) over and over, and a text found in
    // the same place is compared with the statement's own rather than hashed
    // (an insert of fifty columns is a long text).
    static constexpr int kRecent = 32;
    QSharedPointer<Sqlite3Stmt> m_recent[kRecent];
};
