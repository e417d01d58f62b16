#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "BackupGenerator.h"

// Phones' message databases and the iTunes backups that hold them, for the
// roads that read from or write into a backup.
namespace SampleBackups
{

// A phone's iOS 6 sms.db with one-to-one SMS conversations of two messages
// each: conversation i with "+1555000000i" holds "Hello i" (received, guid
// "IN-i") and "Reply i" (sent, guid "OUT-i").
QByteArray ios6SmsDb(int conversations);

// The records of a backup whose one file is the sms.db, with its folders.
QList<BackupGenerator::File> smsDbFiles(const QByteArray &smsDb);

// Writes a backup into the user's backup folder, where the backup list finds
// it; its absolute folder path.
QString writeItunesBackup(const QString &name, const QList<BackupGenerator::File> &files,
                          const BackupGenerator::Options &options = BackupGenerator::Options());

// The path of the stored sms.db of a backup folder.
QString storedSmsDb(const QString &backupFolder);

} // namespace SampleBackups
