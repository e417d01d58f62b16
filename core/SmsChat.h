#pragma once

#include <QString>

#include "MsgDataSet.h"

// Creates a one-to-one SMS conversation with address as its identifier and
// its one member, both under key: the conversation in the set's chat hash,
// the handle in its handle hash and, under the address, among the
// conversation's members. The set owns both. key must be free in both
// hashes (a record already there would be orphaned): std::logic_error when
// it is not, or when the set is null.
_MsgChat *makeSmsChat(MsgDataSet &set, qint64 key, const QString &address);
