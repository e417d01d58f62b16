#include "Startup.h"

#include <QApplication>
#include <QTranslator>

#include "AppFolders.h"
#include "Log.h"
#include "MainWindow.h"
#include "MessageBoxes.h"
#include "MobileDeviceFramework.h"
#include "ServiceUrl.h"

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

    initLog(appDataDir().absoluteFilePath(QStringLiteral("qlogs")), kKeptLogFiles);

    QString frameworkError;
    mobiledevice_load_frameworks(frameworkError);

    MainWindow window;
    window.show();

    if (!mobiledevice_frameworks_loaded())
        showWarning(frameworkMissingText());

    return app.exec();
}
