#pragma once

#include <QString>

#include "MsgDataSet.h"

// A small set as a reader would give it, for writing into local databases:
//
// - chat 1, SMS with +15550000001 (handle 1): messages 1 (received), 2 (sent,
//   with attachment 1 "IMG_0001.JPG") and 3 (received);
// - chat 2, an iMessage group (style 43) with handles 1 and 2
//   (bob@example.com): messages 4 (from handle 2), 5 (from handle 1, with
//   attachments 2 and 3) and 6, an event (item_type 1) in which handle 1
//   added handle 3 (+15550000003, no member).
//
// Dates rise with the key; guids are "MSG-<key>"; attachment files are
// "~/Library/SMS/Attachments/.../<name>" on the device. When fileDir is given,
// each attachment's _local_path names a file created there (attachment 3's
// file is left missing on purpose).
struct SampleConversations
{
    explicit SampleConversations(const QString &fileDir = QString());

    MsgDataSet set;
    QList<_MsgMessage *> messages() const { return set.messageList(); }
    _MsgMessage *message(qint64 key) const { return set.data()->messages.value(key); }
    _MsgChat *chat(qint64 id) const { return set.data()->chats.value(id); }
};
