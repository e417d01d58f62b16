#include "IOSMobileRestoreThread.h"

#include <QRegularExpression>

#include <cmath>
#include <stdexcept>

#include "Errors.h"
#include "HtmlEscape.h"
#include "IOSDevice.h"
#include "ProgressForm.h"
#include "ScopedConnection.h"
#include "ServiceUrl.h"
#include "backup2tool.h"

IOSMobileRestoreThread::IOSMobileRestoreThread(IOSDevice *device, const QDir &backupRoot, QObject *form,
                                               QObject *parent)
    : QThread(parent)
    , device(device)
    , backupRoot(backupRoot)
    , form(form)
    , tool(new backup2tool(device->handle, device->uniqueDeviceId, backupRoot))
{
}

IOSMobileRestoreThread::~IOSMobileRestoreThread()
{
    if (tool)
        tool->deleteLater();
}

QString IOSMobileRestoreThread::restoreErrorText(const QString &toolText)
{
    const QString text = htmlEscape(toolText);
    if (text.contains(QLatin1String("Find My iPhone must be disabled"), Qt::CaseInsensitive)) {
        const QString page = serviceUrl(QStringLiteral("/guides/how-to-disable-find-my-iphone.html")).toString();
        return tr("Please follow <a href=\"%1\"> this tutorial</a> to disable \"Find my iPhone\" first and then "
                  "restart your iPhone to try again.<br/><br/>")
            .arg(htmlEscape(page));
    }
    static const QRegularExpression noSpace(
        QStringLiteral("Insufficient free disk space on device to restore \\((\\d+) [^\\d]+ (\\d+)\\)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = noSpace.match(text);
    bool counted = false;
    const qulonglong required = match.hasMatch() ? match.captured(2).toULongLong(&counted) : 0;
    if (counted) {
        const double gib = double(required) / 1024 / 1024 / 1024;
        return tr("%1 GB free disk space on your device is required restore data.  Please remove some camera roll "
                  "videos from your device to computer to free up disk space first and then try again.")
            .arg(QString::number(gib, 'g', 1));
    }
    return text + tr("<br/><br/>Note: You can restart your device to try again.");
}

void IOSMobileRestoreThread::backupUpdate(double pg, QString, QString)
{
    // Updates still queued when the dialog closed have nobody to show them.
    if (ProgressForm::isCancelled(form))
        return;
    const int progress = std::isfinite(pg) ? int(qBound(-1.0, pg, 100.0)) : -1;
    ProgressForm::postUpdateProgress(form, QString(), progress, QString());
}

void IOSMobileRestoreThread::run()
{
    ProgressForm::postUpdateProgress(form, tr("IDS_RESTORING_BACKUP_TO_IOS"), 0, QString());
    try {
        // Both connections end with this block: none outlives the run, and
        // progress is heard on this thread while the tool runs, so nothing
        // is left queued to reach the dialog after it.
        const ScopedConnection progress(
            connect(tool, &backup2tool::update, this, &IOSMobileRestoreThread::backupUpdate, Qt::DirectConnection));
        const ScopedConnection cancel(connect(form, SIGNAL(userCacel()), tool, SLOT(cancel())));
        if (ProgressForm::isCancelled(form))
            throw kWorkerCancelled;

        backup2tool_param request;
        request.op = 1;
        tool->run(request);
        if (ProgressForm::isCancelled(form))
            throw kWorkerCancelled;
        ProgressForm::postSucceed(form, QString());
    } catch (int) {
        // The dialog has closed already.
    } catch (const std::exception &e) {
        ProgressForm::postErrorOccurred(form, restoreErrorText(QString::fromUtf8(e.what())));
    }
}
