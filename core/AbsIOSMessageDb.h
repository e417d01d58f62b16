#pragma once

#include <QString>

#include "AbsMessageDb.h"

// A message database in one of the iPhone's sms.db schemas.
class AbsIOSMessageDb : public AbsMessageDb
{
public:
    AbsIOSMessageDb() = default;
    ~AbsIOSMessageDb() override = default;

    // The schema generation the class reads: 5 or 6.
    virtual int iosVersion() const = 0;

    // The schema generation of the database file at path: 6 when the tables
    // chat, handle, chat_handle_join, message and chat_message_join all exist,
    // otherwise 5. Throws std::runtime_error when the file is missing or is no
    // SQLite database. Uses a connection of its own and closes it before
    // returning, also when it throws.
    static int dbVersion(const QString &path);
};
