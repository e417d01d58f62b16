#include "_MsgRecycledMessage.h"

_MsgRecycledMessage::_MsgRecycledMessage(const _MsgRecycledMessage &other)
    : _MsgMessage()
    , chat_identifier(other.chat_identifier)
    , handle(other.handle)
{
    copyMessageData(other, *this);
    sender = other.sender;
    chat = other.chat;
    attachments = other.attachments;
    this->other = other.other;
}

_MsgRecycledMessage &_MsgRecycledMessage::operator=(const _MsgRecycledMessage &other)
{
    if (this == &other)
        return *this;
    copyMessageData(other, *this);
    sender = other.sender;
    chat = other.chat;
    attachments = other.attachments;
    this->other = other.other;
    chat_identifier = other.chat_identifier;
    handle = other.handle;
    return *this;
}

_MsgMessage *_MsgRecycledMessage::newMessage() const
{
    auto *m = new _MsgMessage;
    copyMessageData(*this, *m);
    return m;
}

void _MsgRecycledMessage::copyMessageData(const _MsgMessage &from, _MsgMessage &to)
{
    to.rowid = from.rowid;
    to.guid = from.guid;
    to.text = from.text;
    to.replace = from.replace;
    to.service_center = from.service_center;
    to.handle_id = from.handle_id;
    to.subject = from.subject;
    to.country = from.country;
    to.attributedBody = from.attributedBody;
    to.version = from.version;
    to.type = from.type;
    to.service = from.service;
    to.account = from.account;
    to.account_guid = from.account_guid;
    to.error = from.error;
    to.date = from.date;
    to.date_read = from.date_read;
    to.date_delivered = from.date_delivered;
    to.is_delivered = from.is_delivered;
    to.is_finished = from.is_finished;
    to.is_emote = from.is_emote;
    to.is_from_me = from.is_from_me;
    to.is_empty = from.is_empty;
    to.is_delayed = from.is_delayed;
    to.is_auto_reply = from.is_auto_reply;
    to.is_prepared = from.is_prepared;
    to.is_read = from.is_read;
    to.is_system_message = from.is_system_message;
    to.is_sent = from.is_sent;
    to.has_dd_results = from.has_dd_results;
    to.is_service_message = from.is_service_message;
    to.is_forward = from.is_forward;
    to.was_downgraded = from.was_downgraded;
    to.is_archive = from.is_archive;
    to.cache_has_attachments = from.cache_has_attachments;
    to.cache_roomnames = from.cache_roomnames;
    to.was_data_detected = from.was_data_detected;
    to.was_deduplicated = from.was_deduplicated;
    to._deleted = from._deleted;
    to._key = from._key;
    to.is_audio_message = from.is_audio_message;
    to.is_played = from.is_played;
    to.date_played = from.date_played;
    to.item_type = from.item_type;
    to.other_handle = from.other_handle;
    to.group_title = from.group_title;
    to.group_action_type = from.group_action_type;
    to.share_status = from.share_status;
    to.share_direction = from.share_direction;
    to.is_expirable = from.is_expirable;
    to.expire_state = from.expire_state;
    to.message_action_type = from.message_action_type;
}
