#pragma once

#include <QString>

// The small copy of a real iOS 5.1 phone's sms.db and its write-ahead log
// kept in tests/support/real-ios5 (its SOURCE.md says where the files come
// from and how the copy was made), laid into a message source folder at
// "file-relay/var/mobile/Library/SMS/". The files are copied: opening them
// with the engine would checkpoint the log into the database.
class RealIOS5Files
{
public:
    // Copies sms.db and sms.db-wal from keptFolder (the repository's
    // tests/support/real-ios5) into the source folder; returns the sms.db
    // path. Throws std::runtime_error when a copy fails.
    static QString copyInto(const QString &keptFolder, const QString &sourceFolder);
};
