#pragma once

struct _MsgMessage;

// The values an iOS 5 message row does not hold and a record of it needs:
// those the iOS 6 layout gives a plain finished message of that time. The
// reader of the iOS 5 layout, the conversion of old local databases and the
// deleted-row scan fill them from this one place, so that a message reads
// the same whichever way it came.
class IOS5MessageDefaults
{
public:
    // Sets replace, version, type, handle_id and every flag except
    // is_from_me, which each row says itself. A caller that has a row's own
    // replace or version sets them after.
    static void apply(_MsgMessage &m);
    // What an SMS row of the layout gets beside: its service and account,
    // no error, and its one date (seconds since 2001) as the dates it was
    // read and delivered too.
    static void applySms(_MsgMessage &m, int date);
};
