#include "PageCacheLimit.h"

#include <QDebug>

#include <exception>

#include "Sqlite3DB.h"

PageCacheLimit::PageCacheLimit(Sqlite3DB &db, int kib)
    : m_db(db)
{
    {
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("PRAGMA cache_size"));
        if (!c.moveNext())
            return;
        m_old = c.getInt64(0);
    }
    // Only a cache given in KiB, as the connection sets it, and larger.
    if (m_old >= -kib)
        return;
    db.executeThrow(Sqlite3Sql(QStringLiteral("PRAGMA cache_size=%1").arg(-kib)));
    m_lowered = true;
}

PageCacheLimit::~PageCacheLimit()
{
    if (!m_lowered)
        return;
    try {
        m_db.executeThrow(Sqlite3Sql(QStringLiteral("PRAGMA cache_size=%1").arg(m_old)));
    } catch (const std::exception &e) {
        qWarning("The page cache could not be set back. %s", e.what());
    }
}
