#pragma once

#include <QImage>
#include <QList>

#include "AbsTreeItemModel.h"
#include "_MsgChat.h"
#include "_MsgChatGroup.h"

// One entry of a source's conversation list: the conversations that share a
// chat identifier. The chats belong to the record set of the source node
// above; this node only points at them.
class _ChatSessionItemNode : public AbsTreeItemModel::_ItemNode
{
public:
    static constexpr int Type = 6;

    _ChatSessionItemNode(_ItemNode *parent, const _MsgChatGroup &group);

    QList<_MsgChat *> chats; // not owned
    int last;                // the newest _last of the chats
    // The first chat came from the recycle database. Taken when the node is
    // made, so that painting never needs the chats again: they may be freed
    // just before the node is taken out of the tree.
    bool recycled;

    // The picture the tree shows, made once: decoding a contact photo on
    // every paint would make scrolling a long list slow.
    QImage decoration;
    bool decorationMade = false;
};
