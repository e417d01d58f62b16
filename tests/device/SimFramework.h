#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class QThread;

// The simulated device framework (devicesim): both libraries and the backup
// tool lie in one folder of the build tree.
QString simFrameworkDir();

// Points both install folders at the simulated framework and loads it; true
// when both libraries loaded, otherwise false with the loader's message.
bool loadSimFramework(QString *error = nullptr);

// A scenario for the simulated devices in a folder of its own, named by the
// environment together with a journal of the library's calls. The library
// reads the scenario once, at its first call, so write() comes first.
class SimScenarioFile
{
public:
    SimScenarioFile();

    QString path(const QString &relative = QString()) const;
    // Writes bytes to a file inside the folder, creating its parent folders.
    void writeFile(const QString &relative, const QByteArray &bytes) const;
    void write(const QJsonObject &scenario) const;

    QStringList journal() const;
    // The journal lines of one device, without the device's name:
    // "AMDeviceConnect", "AMDeviceCopyValue - DeviceName", ...
    QStringList journalOf(const QString &deviceId) const;

private:
    QTemporaryDir m_dir;
};

// Stands in for the main window as the receiver of device notifications.
class DeviceReceiver : public QObject
{
    Q_OBJECT
public:
    struct Event
    {
        bool arrived = false;
        void *device = nullptr;
        QThread *thread = nullptr;
    };

    const QList<Event> &events() const { return m_events; }
    // Delivers queued calls until n events have arrived or the time is up.
    bool waitForEvents(int n, int timeoutMs = 10000);

public slots:
    void iosDeviceConnected(void *device);
    void iosDeviceDisconnected(void *device);

private:
    QList<Event> m_events;
};

// Subscribes the receiver (through a target that lives for the process) and
// waits for n arrivals; the handles in the order the devices arrived.
QList<void *> subscribeAndWait(DeviceReceiver &receiver, int n);
