#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

// Fills the application-data folder of the test's home with what the main
// window finds at start: local-database folders, stored devices of
// "virtual_ios" with conversations, damaged message databases. Failures
// throw std::runtime_error.
namespace AppHomeFixture
{

// <local databases>/<name>, created empty.
QDir addLocalDatabase(const QString &name);

// <application data>/virtual_ios/<name> holding a phone's sms.db with the
// given number of one-to-one conversations, each of two messages.
QDir addStoredDevice(const QString &name, int conversations);

// <application data>/virtual_ios/<name>, created empty.
QDir addStoredDeviceFolder(const QString &name);

// The bytes written as the sms.db of the message source folder root: no
// SQLite file at all.
QByteArray writeDamagedSmsDb(const QDir &root);

// Remembers folder as the chosen root of device backups, so that they go to
// a folder of the test's own.
void rememberTempBackupRoot(const QString &folder);

// The file's bytes; empty when it cannot be read.
QByteArray readFile(const QString &path);

} // namespace AppHomeFixture
