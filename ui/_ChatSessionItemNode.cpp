#include "_ChatSessionItemNode.h"

_ChatSessionItemNode::_ChatSessionItemNode(_ItemNode *parent, const _MsgChatGroup &group)
    : _ItemNode(Type, group.chats.isEmpty() || !group.chats.first() ? QString() : group.chats.first()->displayName(false),
                parent)
    , chats(group.chats)
    , last(group.last)
{
}
