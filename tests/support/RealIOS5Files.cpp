#include "RealIOS5Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

QString RealIOS5Files::copyInto(const QString &keptFolder, const QString &sourceFolder)
{
    const QString smsDb = QDir(sourceFolder).filePath(QStringLiteral("file-relay/var/mobile/Library/SMS/sms.db"));
    QDir().mkpath(QFileInfo(smsDb).absolutePath());
    for (const QString &suffix : {QString(), QStringLiteral("-wal")}) {
        const QString to = smsDb + suffix;
        QFile::remove(to);
        if (!QFile::copy(keptFolder + QStringLiteral("/sms.db") + suffix, to)
            || !QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            throw std::runtime_error("cannot copy the real iOS 5 files to " + to.toStdString());
    }
    return smsDb;
}
