#pragma once

#include <QDir>
#include <QList>
#include <QString>

#include <memory>

#include "BackupGenerator.h"
#include "IOS6SmsDbFixture.h"

// A backup folder and the message cache of it, as a merge into the backup
// finds them: root/"cache" holds the cached sms.db
// ("file-relay/var/mobile/Library/SMS/sms.db"), root/"backup" the backup
// (Manifest.plist, Manifest.mbdb and the stored files), whose sms.db has the
// same bytes as the cached one. The backup also holds a stored file of its
// own besides the sms.db, and its home and media folder records.
//
// Rows go into the cached sms.db through sms() first; writeBackup() then
// closes it and writes the backup around it.
class MergeBackupFixture
{
public:
    // guidColumn: see IOS6SmsDbFixture.
    explicit MergeBackupFixture(const QString &root, bool laterColumns = true, const QString &guidColumn = QString());
    ~MergeBackupFixture();

    // The cached sms.db in the device's layout, until writeBackup.
    IOS6SmsDbFixture &sms();

    void writeBackup(const BackupGenerator::Options &options = BackupGenerator::Options(),
                     const QList<BackupGenerator::File> &extraFiles = {});

    QDir cacheDir() const;
    QDir backupDir() const;
    QString cachedSmsDb() const;
    // The backup's stored sms.db.
    QString storedSmsDb() const;
    QString catalogue() const;
    // The file id of HomeDomain "Library/SMS/sms.db".
    static QString smsDbFileId();

    // What the message cache does before the next merge: the backup's stored
    // sms.db becomes the cached one.
    void recache();

private:
    QString m_root;
    std::unique_ptr<IOS6SmsDbFixture> m_sms;
};
