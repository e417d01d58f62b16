#pragma once

#include <QtGlobal>

struct _MsgMessage;

// One message of a merge into a backup's sms.db: a row of the backup's own
// message table, or one of the messages chosen to go in.
struct MergeEntry
{
    // The rowid of the backup's row, or the chosen message's _key.
    qint64 key = 0;
    // Seconds since 2001-01-01 00:00 UTC.
    qint64 date = 0;
    // The chosen message; null for a row of the backup, which is read again
    // by its rowid when its turn comes rather than held for the whole merge.
    const _MsgMessage *message = nullptr;
    bool isExisting = false;
    // Entries that stand for one guid share a slot, which holds the rowid
    // the first of them got in the merged copy; -1 for an entry whose guid
    // no other entry has, or when the copy is asked instead.
    qint32 guidSlot = -1;
};

// The order of a merge. Entries far apart (keys more than 20 apart or dates
// more than 120 seconds apart) go by date; close ones keep the order of
// their keys; at a tie an entry of the backup comes before a chosen one.
//
// Like the message order, it is not transitive across entries of the two
// sources, so it is only ever given to std::stable_sort. Unlike a rule that
// answered "a first" for every tie of two backup rows, it is irreflexive:
// two rows of the backup that tie keep their rowid order.
bool mergeEntryLess(const MergeEntry &a, const MergeEntry &b);
