#include "SimFramework.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QThread>

#include <gtest/gtest.h>

#include "MobileDeviceFramework.h"
#include "device_notification_target.h"

#include <list>

QString simFrameworkDir()
{
    return QStringLiteral(LARKSPAN_SIM_DIR);
}

bool loadSimFramework(QString *error)
{
    qputenv(kMobileDeviceDirVariable, QFile::encodeName(simFrameworkDir()));
    qputenv(kApplicationSupportDirVariable, QFile::encodeName(simFrameworkDir()));
    QString message;
    const bool loaded = mobiledevice_load_frameworks(message);
    if (error)
        *error = message;
    return loaded;
}

SimScenarioFile::SimScenarioFile()
{
    EXPECT_TRUE(m_dir.isValid());
}

QString SimScenarioFile::path(const QString &relative) const
{
    return relative.isEmpty() ? m_dir.path() : m_dir.filePath(relative);
}

void SimScenarioFile::writeFile(const QString &relative, const QByteArray &bytes) const
{
    const QString target = path(relative);
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << target.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

void SimScenarioFile::write(const QJsonObject &scenario) const
{
    writeFile(QStringLiteral("scenario.json"), QJsonDocument(scenario).toJson());
    qputenv("LARKSPAN_DEVICE_SCENARIO", QFile::encodeName(path(QStringLiteral("scenario.json"))));
    qputenv("LARKSPAN_DEVICE_JOURNAL", QFile::encodeName(path(QStringLiteral("journal.txt"))));
}

QStringList SimScenarioFile::journal() const
{
    QFile f(path(QStringLiteral("journal.txt")));
    if (!f.open(QIODevice::ReadOnly))
        return QStringList();
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList SimScenarioFile::journalOf(const QString &deviceId) const
{
    QStringList lines;
    for (const QString &line : journal()) {
        QStringList words = line.split(QLatin1Char(' '));
        if (words.size() >= 2 && words.at(1) == deviceId) {
            words.removeAt(1);
            lines << words.join(QLatin1Char(' '));
        }
    }
    return lines;
}

bool DeviceReceiver::waitForEvents(int n, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (m_events.size() < n && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return m_events.size() >= n;
}

void DeviceReceiver::iosDeviceConnected(void *device)
{
    m_events.append(Event{true, device, QThread::currentThread()});
}

void DeviceReceiver::iosDeviceDisconnected(void *device)
{
    m_events.append(Event{false, device, QThread::currentThread()});
}

QList<void *> subscribeAndWait(DeviceReceiver &receiver, int n)
{
    // The library keeps every target it was given and may call it at any
    // time: none is changed or freed.
    static auto *targets = new std::list<device_notification_target>();
    targets->emplace_back(&receiver, "iosDeviceConnected", "iosDeviceDisconnected");
    QList<void *> handles;
    EXPECT_EQ(mobiledevice_subscribe(&targets->back()), 0);
    EXPECT_TRUE(receiver.waitForEvents(n)) << "only " << receiver.events().size() << " of " << n << " events";
    for (const DeviceReceiver::Event &e : receiver.events()) {
        if (e.arrived)
            handles << e.device;
    }
    return handles;
}
