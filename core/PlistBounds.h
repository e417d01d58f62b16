#pragma once

#include <QByteArray>

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
// the file, no reference cycle), holds no text with U+0000, and the tree it
// expands to stays within the nesting, node and payload limits.
bool binaryPlistWithinBounds(const QByteArray &bytes);

// True when the elements of an XML property list nest no deeper than the
// limit, its comments, sections and tags are terminated, and no NUL byte
// comes before its last tag.
bool xmlPlistWithinBounds(const QByteArray &bytes);
