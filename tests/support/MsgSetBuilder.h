#pragma once

#include <QString>

#include "MsgDataSet.h"

// Fills a message set the way the database readers do: every record is
// created on the heap, put into the set's hash under its key and linked into
// its conversation, so that the set owns it from then on.
class MsgSetBuilder
{
public:
    MsgSetBuilder();
    explicit MsgSetBuilder(const MsgDataSet &set);

    MsgDataSet set() const { return m_set; }

    // A conversation under chat id rowid.
    _MsgChat *chat(qint64 rowid, const QString &identifier = QString(), int last = 0);
    // A handle in the set and, when chat is given, among its members under the
    // decimal rowid.
    _MsgHandle *handle(_MsgChat *chat, qint64 rowid, const QString &id, const QString &contactName = QString());
    // A message under key (also its rowid), in chat's messages when chat is given.
    _MsgMessage *message(_MsgChat *chat, qint64 key, int date, const QString &text = QString(),
                         _MsgHandle *sender = nullptr);
    // An attachment in the set and among the message's attachments.
    _MsgAttachment *attachment(_MsgMessage *message, qint64 rowid, const QString &filename,
                               const QString &mimeType = QString());

private:
    MsgDataSet m_set;
};
