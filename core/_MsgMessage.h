#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include "_MsgAttachment.h"
#include "_MsgChat.h"
#include "_MsgHandle.h"

// One message. The fields follow the message table of the local-database
// schema column by column (rowid to was_deduplicated), then the program's own
// fields, then the columns later iOS versions added, then the links. Dates
// are whole seconds since 2001-01-01 00:00:00 UTC.
//
// The links are not owned: they point into the MsgDataSet that owns this
// record and every record it links to.
struct _MsgMessage
{
    qint64 rowid = 0;
    QString guid;
    QString text; // U+FFFC marks where attachments stand
    int replace = 0;
    QString service_center;
    qint64 handle_id = 0;
    QString subject;
    QString country;
    QByteArray attributedBody;
    int version = 10;
    int type = 0;
    QString service; // "SMS" or "iMessage"
    QString account;
    QString account_guid;
    int error = 0;
    int date = 0;
    int date_read = 0;
    int date_delivered = 0;
    int is_delivered = 0;
    int is_finished = 0;
    int is_emote = 0;
    int is_from_me = 0;
    int is_empty = 0;
    int is_delayed = 0;
    int is_auto_reply = 0;
    int is_prepared = 0;
    int is_read = 0;
    int is_system_message = 0;
    int is_sent = 0;
    int has_dd_results = 0;
    int is_service_message = 0;
    int is_forward = 0;
    int was_downgraded = 0;
    int is_archive = 0;
    int cache_has_attachments = 0;
    QString cache_roomnames;
    int was_data_detected = 0;
    int was_deduplicated = 0;

    // Read from the recycle database rather than from the source itself.
    bool _deleted = false;
    // The id under which the set holds the message: the source rowid, or the
    // negated rowid of a recycled message.
    qint64 _key = 0;

    int is_audio_message = 0;
    int is_played = 0;
    int date_played = 0;
    // 0 an ordinary message; 1 a member was added; 2 the conversation was
    // named; 3 a member left; 4 location sharing; other values system events.
    int item_type = 0;
    int other_handle = -1; // rowid of the second handle of an event, -1 for none
    QString group_title;
    int group_action_type = 0;
    int share_status = 0; // item_type 4: 0 sharing started, else stopped
    int share_direction = 0;
    int is_expirable = 0;
    int expire_state = 0;
    int message_action_type = 0;

    _MsgHandle *sender = nullptr;
    _MsgChat *chat = nullptr;
    // Only the values are used; the keys are whatever the reader chose.
    QHash<QString, _MsgAttachment *> attachments;
    _MsgHandle *other = nullptr;

    _MsgMessage() = default;
    _MsgMessage(const _MsgMessage &) = delete;
    _MsgMessage &operator=(const _MsgMessage &) = delete;

    // The conversation's name, with " (sender)" in a group conversation;
    // "unknown" without a conversation.
    QString senderName() const;
    // The text without the attachment placeholders U+FFFC.
    QString cleanText() const;
    // The attachments in ascending rowid order.
    QList<_MsgAttachment *> attachmentIds() const;
};
