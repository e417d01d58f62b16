#pragma once

#include <QDir>
#include <QSharedPointer>
#include <QString>

#include "AbsMessageDb.h"

// A device's messages are copied into a cache folder of its own, and a
// backup's into one of the backup's; either way the phone's file system is
// kept under "file-relay", so the messages database lies at this path
// inside the cache folder.
extern const char kCachedSmsDbPath[];

// The reader for the messages database cached in cacheDir: the iOS 5 reader
// when the file has the iOS 5 layout, else the iOS 6 one (never upgrading
// the file, which is the phone's). Throws std::runtime_error when the file
// is missing or is no SQLite database.
QSharedPointer<AbsMessageDb> openCachedMessageDb(const QDir &cacheDir, const QString &country);
