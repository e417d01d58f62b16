#pragma once

#include <QList>
#include <QSet>
#include <QString>

#include "Sqlite3DB.h"
#include "Sqlite3Row.h"

// Base of every database class: a lazily opened connection, a transaction
// flag and two generic row operations. Each subclass decides in ensureOpen
// how its file is opened (and possibly created or upgraded).
class AbsDb : public Sqlite3DB
{
public:
    AbsDb() = default;
    ~AbsDb() override = default;

    // Opens the connection when it is not open yet; returns at once otherwise.
    // Throws std::runtime_error on failure.
    virtual void ensureOpen() = 0;

    void beginTransaction();
    // Commits (true) or rolls back (false) the transaction begun here; does
    // nothing at all when none is running, so callers may call it on every
    // exit path. A failed commit or rollback keeps the flag set.
    void endTransaction(bool commit);
    bool inTransaction() const { return m_inTransaction; }

    // Inserts the row's columns except the excluded ones; returns the rowid.
    qint64 insertRow(const Sqlite3Row &row, const QString &table, const QSet<QString> &excludedColumns = {});
    // "select * from <table>", every row in the order they come.
    QList<Sqlite3Row> selectAll(const QString &table);

private:
    bool m_inTransaction = false;
};
