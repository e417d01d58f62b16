#pragma once

#include <QString>

// The name without the characters \ / : * ? " < > |, then trimmed at both
// ends. Never fails; the result may be empty.
QString sanitizeFileName(const QString &name);

// MD5 of the UTF-8 bytes of the text as 32 lower-case hexadecimal digits.
QString md5Hex(const QString &text);

// The path itself when nothing of that name exists; otherwise the first free
// "<base>(<n>).<suffixes>" in the same folder, n = 1, 2, ...
QString uniqueFilePath(const QString &path);

// Deletes the folder with everything below it, hidden entries included.
// Symbolic links are removed as links, never followed. Returns true when no
// folder is left at the path (a missing folder counts as removed); false when
// something could not be deleted, or when a plain file stands at the path.
bool removeDirRecursively(const QString &path);
