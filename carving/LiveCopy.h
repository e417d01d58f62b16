#pragma once

#include <QByteArray>
#include <QTemporaryDir>

#include <memory>

class Sqlite3DB;

// A private copy of a database file and its write-ahead log, written from
// the bytes a scan read, for the engine to read the live rows from. Opening
// a database in log mode lets the engine change it (it writes its index of
// the log, and the last connection to close checkpoints the log into the
// file and deletes it, overwriting the older images a scan is after), so the
// engine never opens the scanned files themselves: only this copy, which it
// may change as it likes. The copy lives in a folder of its own, private to
// the user, and goes with the object. A file in rollback-journal mode without
// a log needs no copy on disk: the engine reads the scan's bytes in place as
// a read-only database in memory.
class LiveCopy
{
public:
    // file: the database file's bytes, which must stay as they are while
    // the object lives (a file without a log is read from them in place);
    // log: its log's (empty when it has none). Throws std::runtime_error when the copy cannot be written or
    // the engine cannot open it.
    LiveCopy(const uchar *file, qint64 size, const QByteArray &log);
    ~LiveCopy();
    LiveCopy(const LiveCopy &) = delete;
    LiveCopy &operator=(const LiveCopy &) = delete;

    Sqlite3DB &db() { return *m_db; }

private:
    QTemporaryDir m_folder;
    std::unique_ptr<Sqlite3DB> m_db;
};
