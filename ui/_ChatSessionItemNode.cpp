#include "_ChatSessionItemNode.h"

namespace
{

// The recycle database gives its conversations ids from one below this
// downwards.
constexpr qint64 kRecycledChatIdBound = -1947483646;

const _MsgChat *firstChat(const _MsgChatGroup &group)
{
    return group.chats.isEmpty() ? nullptr : group.chats.first();
}

} // namespace

_ChatSessionItemNode::_ChatSessionItemNode(_ItemNode *parent, const _MsgChatGroup &group)
    : _ItemNode(Type, firstChat(group) ? firstChat(group)->displayName(false) : QString(), parent)
    , chats(group.chats)
    , last(group.last)
    , recycled(firstChat(group) && firstChat(group)->rowid < kRecycledChatIdBound)
{
}
