#include "AppHomeFixture.h"

#include <QFile>
#include <QFileInfo>

#include <stdexcept>

#include "AppFolders.h"
#include "IOS6SmsDbFixture.h"
#include "TempBackupRoot.h"

namespace AppHomeFixture
{

namespace
{

QDir makeFolder(const QString &path)
{
    if (!QDir().mkpath(path))
        throw std::runtime_error("cannot create " + path.toStdString());
    return QDir(path);
}

} // namespace

QDir addLocalDatabase(const QString &name)
{
    return makeFolder(localDatabasesDir().filePath(name));
}

QDir addStoredDeviceFolder(const QString &name)
{
    return makeFolder(appDataDir().filePath(QStringLiteral("virtual_ios/") + name));
}

QDir addStoredDevice(const QString &name, int conversations)
{
    const QDir root = addStoredDeviceFolder(name);
    IOS6SmsDbFixture sms(IOS6SmsDbFixture::smsDbPath(root), IOS6SmsDbFixture::Device);
    sms.begin();
    for (int i = 1; i <= conversations; ++i) {
        const QString number = QStringLiteral("+1555000%1").arg(i, 4, 10, QLatin1Char('0'));
        const qint64 handle = sms.addHandle(number);
        const qint64 chat = sms.addChat(QStringLiteral("SMS;-;") + number, number);
        sms.joinChatHandle(chat, handle);
        sms.addMessage(chat, handle, QStringLiteral("%1-in").arg(name + QString::number(i)),
            QStringLiteral("Hello %1").arg(i), 400000000 + i * 100, 0);
        sms.addMessage(chat, handle, QStringLiteral("%1-out").arg(name + QString::number(i)),
            QStringLiteral("Reply %1").arg(i), 400000000 + i * 100 + 50, 1);
    }
    sms.commit();
    return root;
}

QByteArray writeDamagedSmsDb(const QDir &root)
{
    const QString path = IOS6SmsDbFixture::smsDbPath(root);
    makeFolder(QFileInfo(path).absolutePath());
    const QByteArray bytes = QByteArray("this is no database file\n").repeated(200);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
    return bytes;
}

void rememberTempBackupRoot(const QString &folder)
{
    QFile file(appDataDir().absoluteFilePath(QLatin1String(kTempBackupPathFileName)));
    if (!file.open(QIODevice::WriteOnly) || file.write(folder.toUtf8()) != folder.toUtf8().size())
        throw std::runtime_error("cannot write " + file.fileName().toStdString());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace AppHomeFixture
