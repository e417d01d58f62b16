#include "MessageLists.h"

#include <algorithm>

QList<QList<_MsgMessage *>> chatsMessageLists(const QList<_MsgChat *> &chats)
{
    QList<QList<_MsgMessage *>> lists;
    lists.reserve(chats.size());
    for (const _MsgChat *chat : chats) {
        QList<_MsgMessage *> messages;
        if (chat) {
            messages.reserve(chat->messages.size());
            for (_MsgMessage *m : chat->messages) {
                if (m)
                    messages.append(m);
            }
            // A set holds one message per _key; the pointer breaks the tie of
            // a faulty reader so the order stays strict.
            std::sort(messages.begin(), messages.end(), [](const _MsgMessage *a, const _MsgMessage *b) {
                if (a->_key != b->_key)
                    return a->_key < b->_key;
                return std::less<const _MsgMessage *>()(a, b);
            });
        }
        lists.append(messages);
    }
    return lists;
}
