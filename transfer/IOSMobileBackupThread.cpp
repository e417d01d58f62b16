#include "IOSMobileBackupThread.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>

#include "Errors.h"
#include "FileUtils.h"
#include "HtmlEscape.h"
#include "IOSDevice.h"
#include "PlistNode.h"
#include "PrivateFiles.h"
#include "ProgressForm.h"
#include "ScopedConnection.h"
#include "SafePath.h"
#include "TempBackupRoot.h"
#include "backup2tool.h"

namespace
{

// Status.plist is a few hundred bytes and Manifest.plist a few megabytes;
// a bigger one is not a backup the tool can bring up to date.
constexpr qint64 kMaxCataloguePlistSize = 64 * 1024 * 1024;

PlistNode readPlist(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxCataloguePlistSize)
        return PlistNode();
    return PlistNode::fromData(file.readAll());
}

// Takes away whatever stands at the path: a folder with all it holds, a
// file, or a link (never what it points to).
bool removeEntry(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir() && !info.isSymLink())
        return removeDirRecursively(path);
    return QFile::remove(path);
}

} // namespace

IOSMobileBackupThread::IOSMobileBackupThread(IOSDevice *device, QObject *form, QObject *parent)
    : QThread(parent)
    , device(device)
    , form(form)
    , m_backupDir(tempBackupRoot())
    , tool(new backup2tool(device->handle, device->uniqueDeviceId, m_backupDir))
{
}

IOSMobileBackupThread::~IOSMobileBackupThread()
{
    if (tool)
        tool->deleteLater();
}

QString IOSMobileBackupThread::deviceBackupPath(const QDir &root, const QString &deviceId)
{
    // The id comes from the device; it names one folder in the root and
    // nothing above it, since that folder may be removed whole.
    if (!isSafePathComponent(deviceId))
        throwError(tr("The device identifier \"%1\" cannot name a backup folder.").arg(htmlEscape(deviceId)));
    return root.absoluteFilePath(deviceId);
}

bool IOSMobileBackupThread::isReusableBackup(const QString &folder, const QString &productVersion)
{
    const QDir dir(folder);
    const QFileInfo info(folder);
    if (!info.isDir() || info.isSymLink())
        return false;
    for (const char *name : {"Status.plist", "Manifest.plist", "Manifest.mbdb"}) {
        if (!QFileInfo(dir.absoluteFilePath(QLatin1String(name))).isFile())
            return false;
    }
    const PlistNode status = readPlist(dir.absoluteFilePath(QStringLiteral("Status.plist")));
    if (status.dictItem(QStringLiteral("SnapshotState")).toString() != QLatin1String("finished"))
        return false;
    const PlistNode version = readPlist(dir.absoluteFilePath(QStringLiteral("Manifest.plist")))
                                  .dictItem(QStringLiteral("Lockdown"))
                                  .dictItem(QStringLiteral("ProductVersion"));
    // A backup that does not say which version it was taken of is not known
    // to be of this one.
    return version.isString() && version.toString() == productVersion;
}

void IOSMobileBackupThread::backupUpdate(double pg, QString, QString)
{
    // Updates still queued when the dialog closed have nobody to show them.
    if (ProgressForm::isCancelled(form))
        return;
    const int progress = std::isfinite(pg) ? int(qBound(-1.0, pg, 100.0)) : -1;
    ProgressForm::postUpdateProgress(form, QString(), progress, QString());
}

void IOSMobileBackupThread::run()
{
    ProgressForm::postUpdateProgress(form, tr("IDS_BACKING_UP_IOS"), 0, QString());
    QString folder;
    try {
        folder = deviceBackupPath(m_backupDir, device->uniqueDeviceId);
        if (!isReusableBackup(folder, device->productVersion) && !removeEntry(folder))
            throwError(tr("Can not remove the earlier backup %1.").arg(htmlEscape(QDir::toNativeSeparators(folder))));
        // A whole phone's data goes in there: nobody but the user may reach
        // it, from the tool's first file on. A volume that keeps no modes
        // takes the backup all the same.
        if (!makePrivateDir(m_backupDir.absolutePath()))
            qWarning("Could not make %s private", qUtf8Printable(m_backupDir.absolutePath()));

        // Both connections end with this block: none outlives the run, and
        // progress is heard on this thread while the tool runs, so nothing
        // is left queued to reach the dialog after it.
        const ScopedConnection progress(
            connect(tool, &backup2tool::update, this, &IOSMobileBackupThread::backupUpdate, Qt::DirectConnection));
        const ScopedConnection cancel(connect(form, SIGNAL(userCacel()), tool, SLOT(cancel())));
        if (ProgressForm::isCancelled(form))
            throw kWorkerCancelled;

        backup2tool_param request;
        request.op = 0;
        tool->run(request);
        // The tool writes with modes of its own; what it left, finished or
        // stopped, stays for the next stages.
        if (QFileInfo(folder).isDir() && !makeTreePrivate(folder))
            qWarning("Could not make all of %s private", qUtf8Printable(folder));
        // The tool returns normally when it was stopped; the dialog has
        // closed then and hears nothing more.
        if (ProgressForm::isCancelled(form))
            throw kWorkerCancelled;
        ProgressForm::postSucceed(form, QString());
    } catch (int) {
        // An interrupted backup stays: the next one checks whether it is
        // complete before building on it.
    } catch (const std::exception &e) {
        if (!folder.isEmpty())
            removeEntry(folder);
        ProgressForm::postErrorOccurred(
            form, htmlEscape(QString::fromUtf8(e.what())) + tr("<br/><br/>Note: You can restart your device to try again."));
    }
}
