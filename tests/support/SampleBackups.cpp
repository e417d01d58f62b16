#include "SampleBackups.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "BackupFolders.h"
#include "IOS6SmsDbFixture.h"

namespace SampleBackups
{

QByteArray ios6SmsDb(int conversations)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sms.db"));
    {
        IOS6SmsDbFixture sms(path, IOS6SmsDbFixture::Device);
        sms.begin();
        for (int i = 1; i <= conversations; ++i) {
            const QString number = QStringLiteral("+1555000%1").arg(i, 4, 10, QLatin1Char('0'));
            const qint64 handle = sms.addHandle(number);
            const qint64 chat = sms.addChat(QStringLiteral("SMS;-;") + number, number);
            sms.joinChatHandle(chat, handle);
            sms.addMessage(chat, handle, QStringLiteral("IN-%1").arg(i), QStringLiteral("Hello %1").arg(i),
                           400000000 + i * 100, 0);
            sms.addMessage(chat, handle, QStringLiteral("OUT-%1").arg(i), QStringLiteral("Reply %1").arg(i),
                           400000000 + i * 100 + 50, 1);
        }
        sms.commit();
    }
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<BackupGenerator::File> smsDbFiles(const QByteArray &smsDb)
{
    using G = BackupGenerator;
    return {
        G::folder("HomeDomain", ""),
        G::folder("HomeDomain", "Library"),
        G::folder("HomeDomain", "Library/SMS"),
        G::file("HomeDomain", "Library/SMS/sms.db", smsDb),
    };
}

QString writeItunesBackup(const QString &name, const QList<BackupGenerator::File> &files,
                          const BackupGenerator::Options &options)
{
    const QString folder = itunesBackupRoot().absoluteFilePath(name);
    BackupGenerator::write(folder, files, options);
    return QDir(folder).absolutePath();
}

QString storedSmsDb(const QString &backupFolder)
{
    return QDir(backupFolder)
        .absoluteFilePath(BackupGenerator::storedName(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db")));
}

} // namespace SampleBackups
