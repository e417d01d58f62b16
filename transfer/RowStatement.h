#pragma once

#include <QString>

#include <QtGlobal>

struct sqlite3;
struct sqlite3_stmt;

// A statement prepared once on a connection and run once per row: inserts
// done for every message skip the parameter list, the look-up of the
// statement by its text and the reset of the general query path. Errors
// are thrown as std::runtime_error with SQLite's messages, as everywhere
// else.
class RowStatement
{
public:
    RowStatement() = default;
    ~RowStatement();
    RowStatement(const RowStatement &) = delete;
    RowStatement &operator=(const RowStatement &) = delete;

    void prepare(sqlite3 *db, const QString &sql);
    // Before the connection closes, which finishes only once no statement
    // of it is left.
    void finalize();

    RowStatement &bind(int place, qint64 value);
    // Runs the statement to its end and readies it for the next row.
    void run();

private:
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
};
