#pragma once

#include <QString>

#include <exception>

#include "Sqlite3DB.h"

// The record of which backup files a cache folder already holds: one row per
// copied file, keyed by its file id, with the catalogue's modification time
// it had when it was copied.
//
// Opened on first use, with one transaction that spans the whole run; the
// destructor commits it. A database that cannot be opened or queried makes
// every file look uncached, so the copy still works, only without memory.
class CacheDb
{
public:
    explicit CacheDb(const QString &path);
    ~CacheDb();
    CacheDb(const CacheDb &) = delete;
    CacheDb &operator=(const CacheDb &) = delete;

    // Opens the file (creating it with its table when missing) and begins
    // the transaction; does nothing when already open. Throws
    // std::runtime_error; a file it created but could not set up is removed
    // again, so the next attempt starts clean.
    void open();
    // Creates the database file and its table from ":/res/cache_db.sql".
    void create();

    // The time stored for the file id; 0 when there is none or the database
    // cannot be used.
    qint64 lastDate(const QString &fileId);
    // Records the time for the file id. Failures are ignored.
    void setLastDate(const QString &fileId, qint64 date);

    // Drops everything recorded since open and closes: the rows of copies
    // that are being removed must not outlive them.
    void discard();

    const QString &path() const { return m_path; }
    bool isOpen() const { return m_db.handle() != nullptr; }

private:
    void warnOnce(const std::exception &e);

    QString m_path;
    Sqlite3DB m_db;
    bool m_warned = false;
};
