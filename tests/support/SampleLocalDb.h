#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

// Local databases with known content for the main window's tests.
namespace SampleLocalDb
{
// <local databases>/<name> holding the sample conversations (see
// SampleConversations): "+15550000001" with messages 1 to 3 and the group
// "Weekend" with messages 4 to 6; messages 2 and 5 carry pictures. Written by
// the program's own local-database writer. Throws std::runtime_error.
QDir write(const QString &name);
// The path of the database file of <local databases>/<name>.
QString smsDbPath(const QString &name);
// The guids of the messages in the file, in rowid order; empty when there
// is no such file.
QStringList messageGuids(const QString &name);
// How many conversations the file holds.
int chatCount(const QString &name);
} // namespace SampleLocalDb
