#pragma once

#include <QString>

#include "_MsgMessage.h"

// The one plain-text rendering of a message, for the list, the conversation
// view, searches, exports and printing: the sentence of a system event, or
// the text without U+FFFC followed by one tag per attachment (in ascending
// attachment rowid order); emoji always replaced by "[EMOJI]". Empty for null.
QString messageText(const _MsgMessage *message);
