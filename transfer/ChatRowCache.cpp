#include "ChatRowCache.h"

#include <QList>

#include <algorithm>

#include "IOS6MessageDb.h"

ChatRowCache::ChatRowCache(IOS6MessageDb &db)
    : m_db(db)
{
}

void ChatRowCache::clear()
{
    m_chatIds.clear();
    m_chatOfRecord.clear();
    m_handleIds.clear();
    m_handleOfRecord.clear();
    m_chatHandles.clear();
    m_chatLast.clear();
    m_lastAddressed.clear();
}

qint64 ChatRowCache::chatId(const _MsgChat *chat)
{
    // By record first: the messages of one conversation share it, and its
    // guid need not be hashed.
    const auto known = m_chatOfRecord.constFind(chat);
    if (known != m_chatOfRecord.constEnd())
        return known.value();
    qint64 id = m_chatIds.value(chat->guid);
    if (id == 0) {
        id = m_db.chatRowid(chat->guid);
        if (id == 0)
            id = m_db.insertChat(chat);
        m_chatIds.insert(chat->guid, id);
    }
    m_chatOfRecord.insert(chat, id);
    return id;
}

qint64 ChatRowCache::chatHandleId(qint64 chatId, const _MsgHandle *handle)
{
    if (!handle)
        return 0;
    // The records do not change during a run: a record seen before has the
    // rowid its id and service were given.
    qint64 id = m_handleOfRecord.value(handle);
    if (id == 0) {
        const QPair<QString, QString> key(handle->id, handle->service);
        id = m_handleIds.value(key);
        if (id == 0) {
            id = m_db.handleRowid(handle);
            if (id == 0) {
                id = m_db.insertHandle(handle);
                m_db.addChatHandle(chatId, id);
                m_chatHandles.insert(qMakePair(chatId, id));
            }
            m_handleIds.insert(key, id);
        }
        m_handleOfRecord.insert(handle, id);
    }
    const QPair<qint64, qint64> join(chatId, id);
    if (!m_chatHandles.contains(join)) {
        if (!m_db.hasChatHandle(chatId, id))
            m_db.addChatHandle(chatId, id);
        m_chatHandles.insert(join);
    }
    return id;
}

void ChatRowCache::messageAdded(qint64 chatId, int date)
{
    auto last = m_chatLast.find(chatId);
    if (last == m_chatLast.end())
        m_chatLast.insert(chatId, date);
    else if (date > last.value())
        last.value() = date;
}

void ChatRowCache::addressed(qint64 chatId, const QString &handleId)
{
    m_lastAddressed.insert(chatId, handleId);
}

void ChatRowCache::writeChatUpdates()
{
    QList<qint64> ids = m_chatLast.keys();
    std::sort(ids.begin(), ids.end());
    for (qint64 id : std::as_const(ids))
        m_db.updateChatLast(id, m_chatLast.value(id));
    ids = m_lastAddressed.keys();
    std::sort(ids.begin(), ids.end());
    for (qint64 id : std::as_const(ids))
        m_db.setLastAddressedHandle(id, m_lastAddressed.value(id));
}
