#pragma once

#include <QString>

// Copies the file at from to a new file at to, in full, with the source's
// permission bits and synced to the disk, or leaves nothing at to. Fails
// (false) when to exists already.
bool copyWholeFile(const QString &from, const QString &to);

// Moves the rest of the open file in into the open file out, from where each
// stands: inside the kernel where the file systems allow it (the bytes never
// pass through this process, and a file system that can share extents
// shares them), through a buffer where they do not. False on a read or
// write error; neither file is closed or synced.
bool copyBytes(int in, int out);

// What syncFolder writes to the disk.
enum class FolderSync {
    // The folder's own entries: names made, renamed or removed in it.
    Entries,
    // Everything the file system holding the folder has in memory, so files
    // copied by the thousand reach the disk in one call instead of one each.
    FileSystem,
};

// Best effort: a folder that cannot be opened is left as it is.
void syncFolder(const QString &path, FolderSync what);
