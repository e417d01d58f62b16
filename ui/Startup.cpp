#include "Startup.h"

#include <QApplication>
#include <QTranslator>

#include <memory>

#include "AppFolders.h"
#include "LocalDbUpdateThread.h"
#include "Log.h"
#include "MainWindow.h"
#include "MessageBoxes.h"
#include "MobileDeviceFramework.h"
#include "PrivateFiles.h"
#include "ProgressForm.h"
#include "ServiceUrl.h"
#include "TempBackupRoot.h"

namespace
{

constexpr int kKeptLogFiles = 10;

const char kFrameworkHelpPath[] = "/tutorial/how-to-connect-ios-device-to-quenmarvile-successfully.html";

// The English text carries "%1" where the help page's address goes, so that
// it follows the configured web service.
QString frameworkMissingText()
{
    QString text = QObject::tr("IDS_NONE_INSTALL_ITUNES");
    if (text.contains(QLatin1String("%1")))
        text = text.arg(serviceUrl(QLatin1String(kFrameworkHelpPath)).toString(QUrl::FullyEncoded).toHtmlEscaped());
    return text;
}

// Plain files in the local-databases folder are databases of the old
// single-file format; current ones are folders.
bool hasOldLocalDatabases()
{
    return !localDatabasesDir().entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort).isEmpty();
}

// The main window is never hidden but by closing it.
bool isClosed(const QWidget &window)
{
    return !window.isVisible();
}

} // namespace

int runApplication(QApplication &app, int wrapperVersion)
{
    QTranslator translator;
    // Installed whatever the outcome of loading: without it the texts show
    // as their keys, which still tells a user what went wrong.
    (void)translator.load(QStringLiteral(":/en.qm"), QString(), QString(), QString());
    app.installTranslator(&translator);

    if (wrapperVersion != kSqliteWrapperVersion) {
        showError(QStringLiteral("invalid libsqlite_qt."));
        return 1;
    }

    // Without its folder the program would run with no log and lose every
    // database it makes, so it says why and stops.
    if (const QString fault = appDataDirFault(); !fault.isEmpty()) {
        showError(fault.toHtmlEscaped());
        return 1;
    }

    initLog(appDataDir().absoluteFilePath(QStringLiteral("qlogs")), kKeptLogFiles);
    // Earlier versions left these open to every user of the machine; they
    // hold copies of the user's messages.
    tightenToPrivate(appDataDir().absolutePath());
    if (const QString backups = existingTempBackupRoot(); !backups.isEmpty())
        tightenToPrivate(backups);

    QString frameworkError;
    mobiledevice_load_frameworks(frameworkError);

    MainWindow window;
    window.show();

    if (!mobiledevice_frameworks_loaded())
        showWarning(frameworkMissingText());

    // Declared after the window, so that they go before it.
    std::unique_ptr<ProgressForm> upgradeForm;
    std::unique_ptr<LocalDbUpdateThread> upgradeWorker;
    // The window can be closed inside the loop of a box or of the upgrade
    // (a download accepted from the update check). Closing it ends the
    // program only from inside the program's own loop, which would then
    // start with no window and never end: whatever closed it before that
    // ends the run here. Old databases left unconverted wait for the next
    // start.
    if (!isClosed(window) && hasOldLocalDatabases()) {
        upgradeForm = std::make_unique<ProgressForm>(QString());
        upgradeForm->setCancelEnabled(false);
        upgradeWorker = std::make_unique<LocalDbUpdateThread>(upgradeForm.get());
        upgradeWorker->start(QThread::InheritPriority);
        const int result = upgradeForm->exec();
        const bool converted = result == 1 && !upgradeForm->isCancelled();
        upgradeWorker->wait();
        if (converted) {
            // The converted databases are listed at the next start: the user
            // has just been told to restart, and the window closes by itself.
            QMetaObject::invokeMethod(&window, "close", Qt::QueuedConnection);
        } else {
            upgradeWorker.reset();
            upgradeForm.reset();
        }
    }

    const int result = isClosed(window) ? 0 : app.exec();
    upgradeWorker.reset();
    upgradeForm.reset();
    return result;
}
