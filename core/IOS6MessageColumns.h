#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <limits>
#include <utility>

#include "_MsgMessage.h"

// The columns of the iOS 6 message table that the program reads and writes,
// in the order an insert names them, each with its declaration, the record
// field it holds and how it is read. The reader, the writer, the recycle
// database and the deleted-record scan all take the row from here, so none
// can leave a column out or spell it otherwise.
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

// How the reader takes a column into its record: a text made on the
// stepping thread, a text the records share (names and codes that repeat),
// the body, a number, a rowid, a date of the file (seconds or, from iOS 11 on,
// nanoseconds since 2001), or not at all.
enum class Read { Text, Shared, Blob, Int, Int64, Date, None };

// A date of the file as the whole seconds since 2001 that records hold.
// From iOS 11 on phones keep dates in nanoseconds since 2001: a value on that
// scale (10^11 seconds would lie past the year 5000) is taken as such.
inline int secondsSince2001(qint64 date)
{
    constexpr qint64 kNanosecondScale = 100000000000LL;
    constexpr qint64 kNanosecondsPerSecond = 1000000000LL;
    const qint64 seconds = date > kNanosecondScale ? date / kNanosecondsPerSecond : date;
    return int(std::clamp<qint64>(seconds, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// The record field a column goes to; at most one of these is set.
struct Field
{
    constexpr Field() = default;
    constexpr Field(QString _MsgMessage::*f) : text(f) {}
    constexpr Field(QByteArray _MsgMessage::*f) : blob(f) {}
    constexpr Field(int _MsgMessage::*f) : number(f) {}
    constexpr Field(qint64 _MsgMessage::*f) : id(f) {}

    QString _MsgMessage::*text = nullptr;
    QByteArray _MsgMessage::*blob = nullptr;
    int _MsgMessage::*number = nullptr;
    qint64 _MsgMessage::*id = nullptr;
};

struct ColumnDefinition
{
    // The name, type and default as the table's CREATE statement spells
    // them (no default: none there).
    const char *name;
    const char *type;
    const char *defaultValue;
    Read read;
    Field field;
    // Written as NULL (left out) when empty, as the phone leaves it.
    bool nullWhenEmpty = false;
    // The constraint the statement declares after the type, if any.
    const char *constraint = nullptr;
};

// One row per column, in the order of the enum.
inline constexpr ColumnDefinition kColumns[] = {
    {"guid", "TEXT", nullptr, Read::Text, &_MsgMessage::guid, false, "UNIQUE NOT NULL"},
    {"text", "TEXT", nullptr, Read::Text, &_MsgMessage::text},
    {"replace", "INTEGER", "0", Read::Int, &_MsgMessage::replace},
    {"service_center", "TEXT", nullptr, Read::Shared, &_MsgMessage::service_center, true},
    {"handle_id", "INTEGER", "0", Read::Int64, &_MsgMessage::handle_id},
    {"subject", "TEXT", nullptr, Read::Text, &_MsgMessage::subject, true},
    {"country", "TEXT", nullptr, Read::Shared, &_MsgMessage::country, true},
    {"attributedBody", "BLOB", nullptr, Read::Blob, &_MsgMessage::attributedBody, true},
    {"version", "INTEGER", "0", Read::Int, &_MsgMessage::version},
    {"type", "INTEGER", "0", Read::Int, &_MsgMessage::type},
    {"service", "TEXT", nullptr, Read::Shared, &_MsgMessage::service},
    {"account", "TEXT", nullptr, Read::Shared, &_MsgMessage::account},
    {"account_guid", "TEXT", nullptr, Read::Shared, &_MsgMessage::account_guid},
    {"error", "INTEGER", "0", Read::Int, &_MsgMessage::error},
    {"date", "INTEGER", nullptr, Read::Date, &_MsgMessage::date},
    {"date_read", "INTEGER", nullptr, Read::Date, &_MsgMessage::date_read},
    {"date_delivered", "INTEGER", nullptr, Read::Date, &_MsgMessage::date_delivered},
    {"is_delivered", "INTEGER", "0", Read::Int, &_MsgMessage::is_delivered},
    {"is_finished", "INTEGER", "0", Read::Int, &_MsgMessage::is_finished},
    {"is_emote", "INTEGER", "0", Read::Int, &_MsgMessage::is_emote},
    {"is_from_me", "INTEGER", "0", Read::Int, &_MsgMessage::is_from_me},
    {"is_empty", "INTEGER", "0", Read::Int, &_MsgMessage::is_empty},
    {"is_delayed", "INTEGER", "0", Read::Int, &_MsgMessage::is_delayed},
    {"is_auto_reply", "INTEGER", "0", Read::Int, &_MsgMessage::is_auto_reply},
    {"is_prepared", "INTEGER", "0", Read::Int, &_MsgMessage::is_prepared},
    {"is_read", "INTEGER", "0", Read::Int, &_MsgMessage::is_read},
    {"is_system_message", "INTEGER", "0", Read::Int, &_MsgMessage::is_system_message},
    {"is_sent", "INTEGER", "0", Read::Int, &_MsgMessage::is_sent},
    {"has_dd_results", "INTEGER", "0", Read::Int, &_MsgMessage::has_dd_results},
    {"is_service_message", "INTEGER", "0", Read::Int, &_MsgMessage::is_service_message},
    {"is_forward", "INTEGER", "0", Read::Int, &_MsgMessage::is_forward},
    {"was_downgraded", "INTEGER", "0", Read::Int, &_MsgMessage::was_downgraded},
    {"is_archive", "INTEGER", "0", Read::Int, &_MsgMessage::is_archive},
    {"cache_has_attachments", "INTEGER", "0", Read::Int, &_MsgMessage::cache_has_attachments},
    {"cache_roomnames", "TEXT", nullptr, Read::Shared, &_MsgMessage::cache_roomnames},
    {"was_data_detected", "INTEGER", "0", Read::Int, &_MsgMessage::was_data_detected},
    {"was_deduplicated", "INTEGER", "0", Read::Int, &_MsgMessage::was_deduplicated},
    {"is_audio_message", "INTEGER", "0", Read::Int, &_MsgMessage::is_audio_message},
    {"is_played", "INTEGER", "0", Read::Int, &_MsgMessage::is_played},
    {"date_played", "INTEGER", nullptr, Read::Date, &_MsgMessage::date_played},
    {"item_type", "INTEGER", "0", Read::Int, &_MsgMessage::item_type},
    {"other_handle", "INTEGER", "-1", Read::Int, &_MsgMessage::other_handle},
    {"group_title", "TEXT", nullptr, Read::Text, &_MsgMessage::group_title, true},
    {"group_action_type", "INTEGER", "0", Read::Int, &_MsgMessage::group_action_type},
    {"share_status", "INTEGER", nullptr, Read::Int, &_MsgMessage::share_status},
    {"share_direction", "INTEGER", nullptr, Read::Int, &_MsgMessage::share_direction},
    {"is_expirable", "INTEGER", "0", Read::Int, &_MsgMessage::is_expirable},
    {"expire_state", "INTEGER", "0", Read::Int, &_MsgMessage::expire_state},
    {"message_action_type", "INTEGER", "0", Read::Int, &_MsgMessage::message_action_type},
    // The reader has no use for it; the writer makes it from the message.
    {"logic_hash", "TEXT", nullptr, Read::None, {}},
};

static_assert(std::size(kColumns) == Count, "one row for each message column");

// The names alone, by place, for statements that name columns by index.
template <std::size_t... I>
constexpr std::array<const char *, Count> namesOf(std::index_sequence<I...>)
{
    return {kColumns[I].name...};
}
inline constexpr std::array<const char *, Count> kNames = namesOf(std::make_index_sequence<Count>());

} // namespace IOS6MessageColumn
