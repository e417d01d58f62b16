#pragma once

#include <QList>
#include <QtGlobal>

#include "MsgDataSet.h"
#include "_MsgChatGroup.h"
#include "_MsgMessage.h"

// Orders of messages, ids and conversation groups.
//
// msgLessThan is irreflexive and asymmetric but not transitive (keys close
// together keep their store order against the dates), so it is no strict
// weak order: std::sort may read out of range with it. Sort with
// std::stable_sort, or with sortMessages below, which does.

// a is older than b: by date when the keys are more than 20 apart or the
// dates more than 120 seconds apart, else by _key.
bool msgLessThan(const _MsgMessage *a, const _MsgMessage *b);
// Newest first: msgLessThan with the arguments swapped.
bool msgGreaterThan(const _MsgMessage *a, const _MsgMessage *b);
// Sorts with std::stable_sort, oldest first for Qt::AscendingOrder.
void sortMessages(QList<_MsgMessage *> &messages, Qt::SortOrder order);

bool qint64LessThan(qint64 a, qint64 b);
// Records by their rowid.
template<typename Record>
bool qint64LessThan(const Record *a, const Record *b)
{
    return a->rowid < b->rowid;
}

// The conversations of the set grouped by chat_identifier (exact text), in
// the order of MsgDataSet::chatList; each group keeps its chats in that order.
QList<_MsgChatGroup> groupChatsByIdentifier(const MsgDataSet &set);
// Newest group first: a.last > b.last (a strict order).
bool chatGroupLessThan(const _MsgChatGroup &a, const _MsgChatGroup &b);
// Sorts newest first; groups with equal last dates keep their order.
void sortChatGroups(QList<_MsgChatGroup> &groups);
