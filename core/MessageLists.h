#pragma once

#include <QList>

#include "_MsgChat.h"
#include "_MsgMessage.h"

// For each conversation, in the order given, the messages it holds in
// ascending _key order (null entries give an empty list).
QList<QList<_MsgMessage *>> chatsMessageLists(const QList<_MsgChat *> &chats);
