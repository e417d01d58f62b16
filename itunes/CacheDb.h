#pragma once

#include <QString>

#include <exception>
#include <optional>

#include "Sqlite3DB.h"

// The record of which backup files a cache folder already holds: one row per
// copied file, keyed by its file id, with the catalogue's modification time
// and size it had when it was copied and the size of the copy. Databases of
// earlier versions, which kept the time alone, gain the two size columns
// when they are opened; their rows have no sizes.
//
// Opened on first use, with one transaction that spans the whole run; the
// destructor commits it. A database that cannot be opened or queried makes
// every file look uncached, so the copy still works, only without memory.
class CacheDb
{
public:
    // What is remembered of one copy; a size that was not recorded is none.
    struct Entry
    {
        qint64 lastDate = 0;
        std::optional<qint64> recordSize;
        std::optional<qint64> copySize;
    };

    explicit CacheDb(const QString &path);
    ~CacheDb();
    CacheDb(const CacheDb &) = delete;
    CacheDb &operator=(const CacheDb &) = delete;

    // Opens the file (creating it with its table when missing), adds the
    // size columns where they are missing and begins the transaction; does
    // nothing when already open. Throws
    // std::runtime_error; a file it created but could not set up is removed
    // again, so the next attempt starts clean.
    void open();
    // Creates the database file and its table from ":/res/cache_db.sql".
    void create();

    // The time stored for the file id; 0 when there is none or the database
    // cannot be used.
    qint64 lastDate(const QString &fileId);
    // Records the time for the file id, with no sizes. Failures are ignored.
    void setLastDate(const QString &fileId, qint64 date);
    // The whole row of the file id; a last date of 0 and no sizes when there
    // is none or the database cannot be used.
    Entry entry(const QString &fileId);
    // Records the whole row of the file id. Failures are ignored.
    void setEntry(const QString &fileId, const Entry &entry);

    // Drops everything recorded since open and closes: the rows of copies
    // that are being removed must not outlive them.
    void discard();

    const QString &path() const { return m_path; }
    bool isOpen() const { return m_db.handle() != nullptr; }

private:
    void addSizeColumns();
    // The row of the file id; throws std::runtime_error.
    std::optional<Entry> find(const QString &fileId);
    void warnOnce(const std::exception &e);

    QString m_path;
    Sqlite3DB m_db;
    bool m_warned = false;
};
