#pragma once

#include <QString>

// What the program keeps of a person's messages (the application-data
// folder, the caches of decrypted backup files, temporary device backups) is
// that user's alone: folders 0700, files 0600. These make it so on the file
// systems that keep modes; where one cannot be set they say so by returning
// false, and the callers go on, as the folder is no less usable for it.

// Creates the folder with every missing parent, each made 0700 (the user's
// umask can narrow a mode, never widen it, so each is set afterwards too);
// the folder itself is made 0700 also when it was there already. Existing
// parents are left as they are. False when no folder stands at the path
// afterwards, or a mode could not be set.
bool makePrivateDir(const QString &path);

// Makes the folder and every folder below it 0700 and every file in them
// 0600. Symbolic links below it are neither changed nor followed (the folder
// itself may be one). False when one of
// them could not be changed; the rest are changed all the same.
bool makeTreePrivate(const QString &root);

// At start: a folder that others may read or enter is narrowed to 0700, and
// the log says so; a missing folder, or one already private, is left alone.
// True when the folder is private (or missing) afterwards.
bool tightenToPrivate(const QString &path);

// The permission bits (the low nine bits of the mode) of whatever stands at
// the path, links not followed; -1 when nothing does.
int permissionBits(const QString &path);
