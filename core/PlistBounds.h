#pragma once

#include <QByteArray>
#include <QString>

#include <plist/plist.h>

// Limits on what a property list read from outside may make the parser
// build. The parser nests one call per container level and copies a shared
// object of a binary list once for every reference to it, so a small file
// could otherwise exhaust the stack or the memory.
inline constexpr int kPlistMaxNesting = 512;
inline constexpr quint64 kPlistMaxNodes = quint64(1) << 22;

//
// Neither form may hold a string or a key with U+0000 in it. XML cannot
// express the character at all, and the library hands texts out as
// NUL-terminated strings while keeping their full length, so such a text
// would read differently through every path (getters, copies, keys,
// serialising); the list is refused instead.

// True when a binary property list ("bplist00") is well-formed in its frame
// (trailer, offset table, object offsets, counts and references all inside
// the file, no reference cycle), holds no text with U+0000 and no UTF-16
// text with a surrogate out of its pair, and the tree it expands to stays
// within the nesting, node and payload limits.
bool binaryPlistWithinBounds(const QByteArray &bytes);

// True when the elements of an XML property list nest no deeper than the
// limit, its comments, sections and tags are terminated, and no NUL byte
// comes before its last tag.
bool xmlPlistWithinBounds(const QByteArray &bytes);

// True when every string and key of a parsed tree is well-formed UTF-8 (an
// ASCII string of a binary list holding other bytes, or UTF-16 with a lone
// surrogate, is not) and no dictionary holds one key twice. Either would make
// a text or an entry read differently through different paths: a key taken
// from a walk would not find its entry again, and a look-up would give the
// first of two entries where a walk keeps the last. Only for a tree that the
// bound checks above let through.
bool plistTextsWellFormed(plist_t root);

// The seconds since 2001 of a date node, exactly as the library keeps them;
// false when they cannot be had. The library's own getter cuts them to
// int32 seconds, losing every date before 1933 or after 2069.
bool plistDateSeconds(plist_t date, double &seconds);

// A string or key of a list decoded from UTF-8, every character kept: unlike
// QString::fromUtf8 it keeps a leading U+FEFF, so that a key read out of a
// dictionary finds its entry again.
QString decodePlistText(const char *text, qsizetype length);
