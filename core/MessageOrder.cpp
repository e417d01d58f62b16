#include "MessageOrder.h"

#include <QHash>

#include <algorithm>

bool msgLessThan(const _MsgMessage *a, const _MsgMessage *b)
{
    // The distance of two 64-bit keys can exceed the signed range, and that
    // of two 32-bit dates the int range: compute neither in its own type.
    const quint64 keyDiff = a->_key > b->_key ? quint64(a->_key) - quint64(b->_key)
                                              : quint64(b->_key) - quint64(a->_key);
    if (keyDiff > 20)
        return a->date < b->date;
    if (qAbs(qint64(a->date) - qint64(b->date)) > 120)
        return a->date < b->date;
    return a->_key < b->_key;
}

bool msgGreaterThan(const _MsgMessage *a, const _MsgMessage *b)
{
    return msgLessThan(b, a);
}

void sortMessages(QList<_MsgMessage *> &messages, Qt::SortOrder order)
{
    if (order == Qt::AscendingOrder)
        std::stable_sort(messages.begin(), messages.end(), msgLessThan);
    else
        std::stable_sort(messages.begin(), messages.end(), msgGreaterThan);
}

bool qint64LessThan(qint64 a, qint64 b)
{
    return a < b;
}

QList<_MsgChatGroup> groupChatsByIdentifier(const MsgDataSet &set)
{
    QList<_MsgChatGroup> groups;
    QHash<QString, qsizetype> index;
    for (_MsgChat *chat : set.chatList()) {
        auto it = index.constFind(chat->chat_identifier);
        if (it == index.constEnd()) {
            index.insert(chat->chat_identifier, groups.size());
            groups.append(_MsgChatGroup{{chat}, chat->_last});
            continue;
        }
        _MsgChatGroup &g = groups[it.value()];
        g.chats.append(chat);
        if (chat->_last > g.last)
            g.last = chat->_last;
    }
    return groups;
}

bool chatGroupLessThan(const _MsgChatGroup &a, const _MsgChatGroup &b)
{
    return a.last > b.last;
}

void sortChatGroups(QList<_MsgChatGroup> &groups)
{
    std::stable_sort(groups.begin(), groups.end(), chatGroupLessThan);
}
