#pragma once

#include <QString>

#include "_MsgMessage.h"

// One message row of the recycle database: a whole message followed by the
// two texts that file keeps beside it. Unlike the records of a message set,
// which are never copied, a row is a value: lists hold copies of it, and a
// copy carries every field, links included.
struct _MsgRecycledMessage : public _MsgMessage
{
    QString chat_identifier; // the conversation's identifier: an address or a group identifier
    QString handle;          // the sender's address

    _MsgRecycledMessage() = default;
    _MsgRecycledMessage(const _MsgRecycledMessage &other);
    _MsgRecycledMessage &operator=(const _MsgRecycledMessage &other);
    ~_MsgRecycledMessage() = default;

    // A new message with every field of this row's message part, rowid to
    // message_action_type (the _deleted flag and _key included), and no
    // links: ready to be owned and linked by a message set.
    _MsgMessage *newMessage() const;

    // Copies every field from rowid to message_action_type; the links of to
    // are left as they are.
    static void copyMessageData(const _MsgMessage &from, _MsgMessage &to);
};
