#include "backup2tool.h"

#include "Clock.h"
#include "Errors.h"
#include "Lockdown.h"
#include "MobileDeviceFramework.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStorageInfo>
#include <QtDebug>

#include <limits>

namespace
{

constexpr int kStartTimeoutMs = 60000;
constexpr int kPollMs = 200;
constexpr qint64 kDefaultEstimate = 60;

QString outputOf(QProcess &process)
{
    QByteArray all = process.readAllStandardError() + '\n' + process.readAllStandardOutput();
    const qsizetype nul = all.indexOf('\0');
    if (nul >= 0)
        all.truncate(nul);
    return QString::fromLocal8Bit(all);
}

void stop(QProcess &process)
{
    process.kill();
    process.waitForFinished(-1);
}

} // namespace

backup2tool::backup2tool(void *device, const QString &deviceId, const QDir &backupFolder, QObject *parent)
    : QObject(parent)
    , m_device(device)
    , m_deviceId(deviceId)
    , m_backupFolder(backupFolder)
{
}

double backup2tool::progress() const
{
    return m_progress.load();
}

void backup2tool::cancel()
{
    m_cancelled = true;
}

QString backup2tool::toolPath()
{
    QString folder = readInstallDir(kMobileDeviceDirVariable);
    if (folder.isEmpty())
        folder = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("Apple/Mobile Device Support"));
    return QDir(folder).absoluteFilePath(QStringLiteral("AppleMobileBackup"));
}

qint64 backup2tool::estimateSeconds(qint64 totalDataCapacity, qint64 amountDataAvailable)
{
    // Device values are outside data: the difference must not overflow.
    qint64 used = 0;
    if (__builtin_sub_overflow(totalDataCapacity, amountDataAvailable, &used))
        used = totalDataCapacity > amountDataAvailable ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    const qint64 mebibytes = used / 1024 / 1024;
    if (mebibytes <= 0)
        return kDefaultEstimate;
    return qint64(double(mebibytes) * 0.03);
}

double backup2tool::progressAfter(qint64 elapsedSeconds, qint64 estimate)
{
    // An estimate of 0 (under 34 MiB in use) counts as one second, so that
    // the progress is 0 at the start and 99 afterwards.
    const double seconds = double(qMax<qint64>(estimate, 1));
    return qMin(99.0, double(qMax<qint64>(elapsedSeconds, 0)) / seconds * 99.0);
}

qint64 backup2tool::readEstimate() const
{
    try {
        const QList<CFType> values =
            mobiledevice_copy_values(m_device, {QString()}, QStringLiteral("com.apple.disk_usage"));
        if (!values.isEmpty() && values.first().ref()) {
            const CFType &usage = values.first();
            return estimateSeconds(usage.value(QStringLiteral("TotalDataCapacity")).toLongLong(0),
                                   usage.value(QStringLiteral("AmountDataAvailable")).toLongLong(0));
        }
    } catch (const std::exception &) {
        // Without the device's figures the estimate is the default one.
    }
    return kDefaultEstimate;
}

void backup2tool::run(const backup2tool_param &request)
{
    // The cancel flag is not cleared on the way in: a cancel that arrives
    // between the worker's last check and this call must still stop the
    // tool. It is cleared on the way out, so that it stops this run only.
    struct ClearCancelOnExit
    {
        std::atomic<bool> &flag;
        ~ClearCancelOnExit() { flag = false; }
    } clearCancel{m_cancelled};
    m_progress = 0;
    const qint64 estimate = readEstimate();

    const QString folder = QDir::toNativeSeparators(m_backupFolder.absolutePath());
    QStringList arguments;
    if (request.op == 0) {
        arguments << QStringLiteral("-u") << m_deviceId << QStringLiteral("--backup") << QStringLiteral("--target")
                  << m_deviceId << QStringLiteral("--root") << folder;
    } else if (request.op == 1) {
        arguments << QStringLiteral("-u") << m_deviceId << QStringLiteral("--restore") << QStringLiteral("--target")
                  << m_deviceId << QStringLiteral("--root") << folder << QStringLiteral("--source") << m_deviceId;
    } else {
        throwError(QStringLiteral("unknown backup2tool_op."));
    }

    QProcess process;
    process.start(toolPath(), arguments);
    if (!process.waitForStarted(kStartTimeoutMs)) {
        stop(process);
        throwError(QStringLiteral("can not start AppleMobileBackup process."));
    }
    const qint64 started = Clock::currentSecsSinceEpoch();
    if (m_cancelled) {
        stop(process);
        return;
    }
    while (process.state() != QProcess::NotRunning && !process.waitForFinished(kPollMs)) {
        const qint64 elapsed = Clock::currentSecsSinceEpoch() - started;
        const double progress = progressAfter(elapsed, estimate);
        m_progress = progress;
        emit update(progress, QString(), QStringLiteral("%1 seconds passed").arg(elapsed));
        if (m_cancelled) {
            stop(process);
            return;
        }
    }

    const QString text = outputOf(process);
    qDebug().noquote() << text;
    if (text.contains(QLatin1String("error"), Qt::CaseInsensitive))
        throwError(text);
    // A tool that died or reported failure through its exit code has not
    // done its work, whatever it printed.
    const QString shown = text.trimmed().isEmpty() ? QString() : QLatin1Char('\n') + text;
    if (process.exitStatus() != QProcess::NormalExit)
        throwError(tr("AppleMobileBackup stopped unexpectedly.") + shown);
    if (process.exitCode() != 0)
        throwError(tr("AppleMobileBackup ended with exit code %1.").arg(process.exitCode()) + shown);
}

quint64 diskFreeBytes(const QDir &folder)
{
    const QStorageInfo storage(folder.absolutePath());
    if (!storage.isValid() || !storage.isReady() || storage.bytesAvailable() < 0)
        return std::numeric_limits<quint64>::max();
    return quint64(storage.bytesAvailable());
}
