#include "MessageJoins.h"

#include <algorithm>

#include "IOS6MessageDb.h"

namespace
{

bool byMessage(const std::pair<qint64, qint64> &a, const std::pair<qint64, qint64> &b)
{
    return a.first < b.first;
}

} // namespace

void MessageJoins::read(IOS6MessageDb &db, const char *sql)
{
    m_pairs.clear();
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(sql));
    while (c.moveNext())
        m_pairs.emplace_back(c.getInt64(0), c.getInt64(1));
    std::stable_sort(m_pairs.begin(), m_pairs.end(), byMessage);
}

std::pair<MessageJoins::Pairs::const_iterator, MessageJoins::Pairs::const_iterator>
MessageJoins::of(qint64 messageRowid) const
{
    return std::equal_range(m_pairs.begin(), m_pairs.end(), std::make_pair(messageRowid, qint64(0)), byMessage);
}
