#pragma once

#include <QString>

// The file's modification time in whole seconds since 1970-01-01 00:00 UTC;
// 0 when the file cannot be queried (missing, unreadable folder).
qint64 fileModifiedTime(const QString &path);

// Sets the file's access and modification times both to seconds (whole
// seconds since 1970-01-01 UTC); false when the file system refuses.
bool setFileTimes(const QString &path, qint64 seconds);
