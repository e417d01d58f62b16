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

// The same for a conversation of any service ("SMS", "iMessage"): its guid
// is "<service>;-;<identifier>" and its member belongs to the service. The
// account fields are left empty for the caller to fill.
_MsgChat *makeOneToOneChat(MsgDataSet &set, qint64 key, const QString &identifier, const QString &service);
