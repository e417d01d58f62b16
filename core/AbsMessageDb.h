#pragma once

#include "AbsDb.h"
#include "MsgDataSet.h"

// A message source: a database whose conversations and messages are read
// into a MsgDataSet. The set must not be null (MsgDataSet::create).
class AbsMessageDb : public AbsDb
{
public:
    AbsMessageDb() = default;
    ~AbsMessageDb() override = default;

    // Puts every conversation into the set's chat hash, each with its
    // handles (into the handle hash and the conversation's handles hash), its
    // _last date and, where the address book knows them, the contact names.
    virtual void chats(MsgDataSet &set) = 0;

    // Puts messages into the set's message hash under their _key, links each
    // to its conversation (already in the set from chats), its sender and its
    // other handle, and adds it to the conversation's messages hash.
    // chatId 0 selects every conversation, a positive id one conversation; a
    // source whose ids are all positive treats any id <= 0 as all, a source
    // with a second kind of conversation under negative ids selects that one.
    virtual void messages(MsgDataSet &set, qint64 chatId) = 0;
};
