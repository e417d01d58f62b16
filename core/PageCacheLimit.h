#pragma once

#include <QtGlobal>

class Sqlite3DB;

// Lowers a connection's page cache to kib KiB for its lifetime, and puts the
// old size back when it goes (SQLite then frees the pages beyond it). For a
// pass that reads each page once in the file's order: a small cache costs it
// no time, and the memory stays free. A cache set in pages, or smaller
// already, is left as it is.
class PageCacheLimit
{
public:
    PageCacheLimit(Sqlite3DB &db, int kib);
    ~PageCacheLimit();
    PageCacheLimit(const PageCacheLimit &) = delete;
    PageCacheLimit &operator=(const PageCacheLimit &) = delete;

private:
    Sqlite3DB &m_db;
    qint64 m_old = 0;
    bool m_lowered = false;
};
