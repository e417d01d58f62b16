#pragma once

#include <QRegularExpression>
#include <QString>

// Called for each match of replaceWithCallback; returns its replacement.
using MatchCallback = QString (*)(const QRegularExpressionMatch &match, void *data);
// Called for each emoji with its code point in upper-case hexadecimal
// without leading zeros ("E415", "1F600"); returns its replacement.
using EmojiCallback = QString (*)(const QString &hexCode, void *data);

// Copies source with every match of expression replaced by what callback
// returns for it. An empty match replaces nothing. Half of a surrogate pair
// standing alone (broken UTF-16, which the expression engine refuses to scan)
// is copied unchanged, and the text on either side of it is still scanned.
QString replaceWithCallback(const QString &source, const QRegularExpression &expression, MatchCallback callback,
                            void *data);

// Replaces every emoji: the old private-use emoji U+E000 to U+E537 and a set
// of symbols first, then the pictographs U+1F000 to U+1F7FF. A null callback
// leaves the text as it is.
QString replaceEmoji(const QString &text, EmojiCallback callback, void *data);

// "[EMOJI]" for any emoji.
QString emojiReplacement(const QString &hexCode, void *data);
