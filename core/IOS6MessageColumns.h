#pragma once

#include <iterator>

// The columns of the iOS 6 message table that the program reads and writes,
// in the order an insert names them. The reader finds each by name in the
// rows of a file, the writer names and binds each by its place; both take
// the names from here, so neither can leave one out or spell it otherwise.
namespace IOS6MessageColumn
{

enum Column : int {
    Guid,
    Text,
    Replace,
    ServiceCenter,
    HandleId,
    Subject,
    Country,
    AttributedBody,
    Version,
    Type,
    Service,
    Account,
    AccountGuid,
    Error,
    Date,
    DateRead,
    DateDelivered,
    // The flags, written one after the other.
    IsDelivered,
    IsFinished,
    IsEmote,
    IsFromMe,
    IsEmpty,
    IsDelayed,
    IsAutoReply,
    IsPrepared,
    IsRead,
    IsSystemMessage,
    IsSent,
    HasDdResults,
    IsServiceMessage,
    IsForward,
    WasDowngraded,
    IsArchive,
    CacheHasAttachments,
    CacheRoomnames,
    WasDataDetected,
    WasDeduplicated,
    // Added by later versions: a file may lack any of these.
    IsAudioMessage,
    IsPlayed,
    DatePlayed,
    ItemType,
    OtherHandle,
    GroupTitle,
    GroupActionType,
    ShareStatus,
    ShareDirection,
    IsExpirable,
    ExpireState,
    MessageActionType,
    // Ours: the hash a message is recognised by in another database.
    LogicHash,
    Count
};

// The columns later versions added: kLaterCount of them from kFirstLater on.
inline constexpr int kFirstLater = IsAudioMessage;
inline constexpr int kLaterCount = LogicHash - IsAudioMessage;

// Each column's name as the table's CREATE statement spells it.
inline constexpr const char *kNames[] = {
    "guid", "text", "replace", "service_center", "handle_id", "subject", "country", "attributedBody", "version",
    "type", "service", "account", "account_guid", "error", "date", "date_read", "date_delivered", "is_delivered",
    "is_finished", "is_emote", "is_from_me", "is_empty", "is_delayed", "is_auto_reply", "is_prepared", "is_read",
    "is_system_message", "is_sent", "has_dd_results", "is_service_message", "is_forward", "was_downgraded",
    "is_archive", "cache_has_attachments", "cache_roomnames", "was_data_detected", "was_deduplicated",
    "is_audio_message", "is_played", "date_played", "item_type", "other_handle", "group_title",
    "group_action_type", "share_status", "share_direction", "is_expirable", "expire_state", "message_action_type",
    "logic_hash"};

static_assert(std::size(kNames) == Count, "one name for each message column");

} // namespace IOS6MessageColumn
