#pragma once

#include <QStringView>

// Names taken from outside data (a backup's catalogue, a device's archive or
// folder listing, a device identifier, a database name) are joined to a
// folder of ours; these checks make sure nothing so built leaves that folder.

// Whether a backslash in a name separates components or is a plain
// character. Names that stand for folders of our own refuse it, since a
// folder copied to another system would read it as a separator; names of a
// device's own files may hold it.
enum class Backslash { Separator, Character };

// Exactly one entry of a folder: not empty, not "." or "..", and holding no
// "/", no NUL and (unless it counts as a character) no "\".
bool isSafePathComponent(QStringView name, Backslash backslash = Backslash::Separator);

// A relative path of one or more "/"-separated components, each one entry
// as above with the backslash a plain character: no leading or trailing "/",
// no empty, "." or ".." component, no NUL.
bool isSafeRelativePath(QStringView path);
