#pragma once

#include <QList>

#include "_MsgChat.h"

// Conversations that share one chat_identifier, shown as one entry.
struct _MsgChatGroup
{
    QList<_MsgChat *> chats; // not owned
    int last = 0;            // the greatest _last among them
};
