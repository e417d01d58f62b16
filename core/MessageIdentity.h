#pragma once

#include <array>

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "_MsgMessage.h"

// Identities of messages and conversations. Every function here is part of
// the stored data (guids, group identifiers and logic hashes in databases
// written earlier), so each must give exactly the same bytes for the same
// input, release after release.

// Seconds from 1970-01-01 00:00:00 UTC to 2001-01-01 00:00:00 UTC, where
// message dates and property-list dates count from.
inline constexpr qint64 kAppleEpochOffset = 978307200;

// The local date and time of a message date (seconds since
// 2001-01-01 00:00:00 UTC). The full int range converts without overflow.
QDateTime appleTimeToDateTime(int date);

// A fresh random GUID: 8-4-4-4-12 upper-case hexadecimal digits, no braces.
QString newGuid();

// The GUID that follows from data: its MD5 in upper-case hexadecimal,
// shaped 8-4-4-4-12.
QString guidFromData(const QByteArray &data);

// "chat" followed by 18 characters derived from seed; the same seed always
// gives the same identifier.
QString makeChatIdentifier(const QString &seed);

// The decimal text of the absolute value of word, as a group identifier
// takes it; -2147483648, which has no positive 32-bit counterpart, keeps its
// minus sign.
QString absDecimal(qint32 word);

// The logic hash: 32 lower-case hexadecimal digits by which the same message
// is recognised in two databases. A system event is hashed by its guid; an
// ordinary message by its sender's id, date, direction, text without U+FFFC
// and the lower-case file names of its attachments. Empty for null.
QString messageFingerprint(const _MsgMessage *message);

// The 16 bytes whose hexadecimal digits messageFingerprint gives, for a
// message that is not null; fingerprintText spells them.
using FingerprintDigest = std::array<unsigned char, 16>;
FingerprintDigest messageFingerprintDigest(const _MsgMessage &message);
QString fingerprintText(const FingerprintDigest &digest);
