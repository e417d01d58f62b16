#pragma once

#include <QDir>
#include <QObject>
#include <QString>

#include <atomic>

// What backup2tool::run is asked to do.
struct backup2tool_param
{
    int op = 0; // 0 backup, 1 restore
};

// Runs the device backup tool as a child process for one backup or restore,
// estimates its progress from the data in use on the device, lets it be
// cancelled and turns its failures into exceptions. run() is called on a
// worker thread; cancel() may come from any thread.
class backup2tool : public QObject
{
    Q_OBJECT
public:
    backup2tool(void *device, const QString &deviceId, const QDir &backupFolder, QObject *parent = nullptr);

    // Returns when the tool has finished or was cancelled; throws
    // std::runtime_error when it could not be started or failed: its output
    // names an error, it stopped unexpectedly or it ended with an exit code
    // other than 0. A cancel returns normally.
    void run(const backup2tool_param &request);
    double progress() const;

    // <device-support folder>/AppleMobileBackup, the folder being the one the
    // framework loader uses (LARKSPAN_MOBILE_DEVICE_DIR, else beside the
    // executable).
    static QString toolPath();
    // Seconds the tool is expected to take for the data in use on the device.
    static qint64 estimateSeconds(qint64 totalDataCapacity, qint64 amountDataAvailable);
    // 0 to 99 after elapsed seconds of an estimate.
    static double progressAfter(qint64 elapsedSeconds, qint64 estimate);

public slots:
    void cancel();

signals:
    void update(double pg, QString status1, QString status2);

private:
    qint64 readEstimate() const;

    void *m_device;
    QString m_deviceId;
    QDir m_backupFolder;
    std::atomic<double> m_progress{0};
    std::atomic<bool> m_cancelled{false};
};

// Bytes free to this user on the folder's volume; all bits set when unknown.
quint64 diskFreeBytes(const QDir &folder);
