#include "MergeBackupFixture.h"

#include <QFile>

#include <stdexcept>

namespace
{

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return f.readAll();
}

} // namespace

MergeBackupFixture::MergeBackupFixture(const QString &root, bool laterColumns, const QString &guidColumn)
    : m_root(root)
{
    QDir().mkpath(root);
    m_sms = std::make_unique<IOS6SmsDbFixture>(cachedSmsDb(), IOS6SmsDbFixture::Device, laterColumns, guidColumn);
}

MergeBackupFixture::~MergeBackupFixture() = default;

IOS6SmsDbFixture &MergeBackupFixture::sms()
{
    if (!m_sms)
        throw std::logic_error("the cached sms.db is closed once the backup is written");
    return *m_sms;
}

QDir MergeBackupFixture::cacheDir() const
{
    return QDir(QDir(m_root).absoluteFilePath(QStringLiteral("cache")));
}

QDir MergeBackupFixture::backupDir() const
{
    return QDir(QDir(m_root).absoluteFilePath(QStringLiteral("backup")));
}

QString MergeBackupFixture::cachedSmsDb() const
{
    return IOS6SmsDbFixture::smsDbPath(cacheDir());
}

QString MergeBackupFixture::storedSmsDb() const
{
    return backupDir().absoluteFilePath(smsDbFileId());
}

QString MergeBackupFixture::catalogue() const
{
    return backupDir().absoluteFilePath(QStringLiteral("Manifest.mbdb"));
}

QString MergeBackupFixture::smsDbFileId()
{
    return BackupGenerator::storedName(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db"));
}

void MergeBackupFixture::writeBackup(const BackupGenerator::Options &options,
                                     const QList<BackupGenerator::File> &extraFiles)
{
    m_sms.reset();
    const QString home = QStringLiteral("HomeDomain");
    const QString media = QStringLiteral("MediaDomain");
    QList<BackupGenerator::File> files = {
        BackupGenerator::folder(home, QStringLiteral("Library")),
        BackupGenerator::folder(home, QStringLiteral("Library/SMS")),
        BackupGenerator::file(home, QStringLiteral("Library/SMS/sms.db"), readAll(cachedSmsDb())),
        BackupGenerator::folder(home, QStringLiteral("Library/Preferences")),
        BackupGenerator::file(home, QStringLiteral("Library/Preferences/com.example.settings.plist"),
                              QByteArray("<plist>settings</plist>")),
        BackupGenerator::folder(media, QStringLiteral("Library")),
        BackupGenerator::folder(media, QStringLiteral("Library/SMS")),
        BackupGenerator::folder(media, QStringLiteral("Library/SMS/Attachments")),
    };
    files += extraFiles;
    BackupGenerator::write(backupDir().absolutePath(), files, options);
}

void MergeBackupFixture::recache()
{
    QFile::remove(cachedSmsDb());
    if (!QFile::copy(storedSmsDb(), cachedSmsDb()))
        throw std::runtime_error("cannot copy the backup's sms.db into the cache");
}
