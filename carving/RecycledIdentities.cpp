#include "RecycledIdentities.h"

#include "MessageRecycleDb.h"
#include "_MsgMessage.h"

namespace
{
qint64 tripleKey(qint64 date, int isFromMe)
{
    return date * 2 + (isFromMe ? 1 : 0);
}
} // namespace

void RecycledIdentities::load(MessageRecycleDb &recycle)
{
    recycle.ensureOpen();
    Sqlite3Cursor c = recycle.queryThrow(Sqlite3Sql("select guid, date, is_from_me, text from message"));
    while (c.moveNext()) {
        m_guids.insert(c.getText(QStringLiteral("guid")));
        m_texts.insert(tripleKey(c.getInt64(QStringLiteral("date")), c.getInt(QStringLiteral("is_from_me"))),
                       c.getText(QStringLiteral("text")));
    }
}

bool RecycledIdentities::contains(const _MsgMessage &m) const
{
    if (m_guids.contains(m.guid))
        return true;
    const qint64 key = tripleKey(m.date, m.is_from_me);
    for (auto it = m_texts.constFind(key); it != m_texts.constEnd() && it.key() == key; ++it) {
        if (it.value() == m.text)
            return true;
    }
    return false;
}

void RecycledIdentities::add(const _MsgMessage &m)
{
    m_guids.insert(m.guid);
    m_texts.insert(tripleKey(m.date, m.is_from_me), m.text);
}
