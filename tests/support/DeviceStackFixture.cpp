#include "DeviceStackFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <stdexcept>

#include "MobileDeviceFramework.h"

QString deviceStackDir()
{
    return QStringLiteral(LARKSPAN_DEVICE_STACK_DIR);
}

bool loadDeviceStack(QString *error)
{
    qputenv(kMobileDeviceDirVariable, QFile::encodeName(deviceStackDir()));
    qputenv(kApplicationSupportDirVariable, QFile::encodeName(deviceStackDir()));
    QString message;
    const bool loaded = mobiledevice_load_frameworks(message);
    if (error)
        *error = message;
    return loaded;
}

FakePhoneSetup::FakePhoneSetup()
{
    if (!m_dir.isValid())
        throw std::runtime_error("no folder for the fake phone");
}

QString FakePhoneSetup::path(const QString &relative) const
{
    return relative.isEmpty() ? m_dir.path() : m_dir.filePath(relative);
}

void FakePhoneSetup::writeFile(const QString &relative, const QByteArray &bytes) const
{
    const QString target = path(relative);
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile f(target);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + target.toStdString());
}

bool FakePhoneSetup::start(const QJsonObject &scenario, QString *error)
{
    writeFile(QStringLiteral("scenario.json"), QJsonDocument(scenario).toJson());
    m_daemon = std::make_unique<FakeUsbmuxd>(path(QStringLiteral("scenario.json")));
    return m_daemon->start(error);
}

QStringList FakePhoneSetup::lockdownOf(const QString &udid) const
{
    const QString prefix = QStringLiteral("lockdown %1 ").arg(udid);
    QStringList lines;
    for (const QString &line : journal()) {
        if (line.startsWith(prefix))
            lines << line.mid(prefix.size());
    }
    return lines;
}
