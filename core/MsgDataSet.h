#pragma once

#include <QHash>
#include <QList>
#include <QSharedPointer>

#include "_MsgAttachment.h"
#include "_MsgChat.h"
#include "_MsgHandle.h"
#include "_MsgMessage.h"

// The records of one load. A value handle: copies share one set, and the
// set, with every record in its four hashes, is deleted when the last handle
// goes. The reference count is atomic, so handles may be copied and dropped
// on any thread; the records themselves are not locked.
//
// A reader creates each record with new and puts it into exactly one hash of
// exactly one set; from then on the set owns it. Pointers between records are
// never owning and stay inside one set.
class MsgDataSet
{
public:
    struct Data
    {
        QHash<qint64, _MsgChat *> chats;              // chat id (the id messages() takes)
        QHash<qint64, _MsgHandle *> handles;          // handle rowid
        QHash<qint64, _MsgMessage *> messages;        // _key
        QHash<qint64, _MsgAttachment *> attachments;  // attachment rowid

        Data() = default;
        Data(const Data &) = delete;
        Data &operator=(const Data &) = delete;
        ~Data();
    };

    // A null handle: data() is null and the lists are empty.
    MsgDataSet() = default;
    static MsgDataSet create();

    bool isNull() const { return d.isNull(); }
    Data *data() const { return d.data(); }

    // The conversations in ascending chat id, the messages in ascending _key:
    // a fixed order for the same data, where iterating the hash would give a
    // different one every run.
    QList<_MsgChat *> chatList() const;
    QList<_MsgMessage *> messageList() const;

private:
    QSharedPointer<Data> d;
};
