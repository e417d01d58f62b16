#include <QApplication>
#include <QDate>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include "AppFolders.h"
#include "AppHomeFixture.h"
#include "IOS6SmsDbFixture.h"
#include "LocalDbUpdateThread.h"
#include "OldLocalDbFixture.h"
#include "RecordingShellOpener.h"
#include "ProgressForm.h"
#include "HttpCaptureServer.h"
#include "MainWindow.h"
#include "MessageBoxAnswerer.h"
#include "MessageBoxes.h"
#include "MobileDeviceFramework.h"
#include "PrivateFiles.h"
#include "ServiceUrlScope.h"
#include "Startup.h"
#include "TempBackupRoot.h"

// Each test runs the whole start-up in a process of its own (the log and the
// device framework are set up once per process).

namespace
{

const QString kFakeFrameworkDir = QStringLiteral(LARKSPAN_FAKE_FRAMEWORK_DIR);

MainWindow *shownMainWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<MainWindow *>(w); window && window->isVisible())
            return window;
    }
    return nullptr;
}

bool anyDialogAlive()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<QDialog *>(w))
            return true;
    }
    return false;
}

// Runs the program until its main window is on screen and the program's
// event loop runs with no box in front of it, lets the test look at the window, then closes it as a user would.
// Returns the program's exit code.
int runUntilShown(int wrapperVersion, const std::function<void(MainWindow &)> &inspect = {})
{
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&]() {
        MainWindow *window = shownMainWindow();
        // Only from the program's own event loop: a box that has just been
        // answered is hidden but still inside its loop for a moment.
        if (!window || anyDialogAlive() || QThread::currentThread()->loopLevel() != 1)
            return;
        poll.stop();
        if (inspect)
            inspect(*window);
        window->close();
    });
    poll.start();
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, []() {
        ADD_FAILURE() << "the main window never came up free of boxes";
        QApplication::exit(99);
    });
    guard.start(30000);
    return runApplication(*qApp, wrapperVersion);
}

// The service of every test is a local one, so that nothing is looked up.
class StartupTest : public ::testing::Test
{
protected:
    HttpCaptureServer server;
    ServiceUrlScope url{server.baseUrl().toString()};
    MessageBoxAnswerer boxes;
};

class WrongWrapperTest : public StartupTest, public ::testing::WithParamInterface<int>
{
};

TEST_P(WrongWrapperTest, EndsWithOneBeforeAnythingIsCreated)
{
    boxes.click(QMessageBox::Ok);
    EXPECT_EQ(runUntilShown(GetParam()), 1);
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.shown()[0].text.contains(QLatin1String("invalid libsqlite_qt."))) << boxes.shown()[0].text.toStdString();
    // No application-data folder, so no log and no database either.
    EXPECT_FALSE(QFileInfo::exists(resolveAppDataDir()));
    EXPECT_EQ(shownMainWindow(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Versions, WrongWrapperTest, ::testing::Values(0, 4, 6, -5));

TEST_F(StartupTest, ShowsTheWindowThenWarnsThatTheFrameworkIsMissing)
{
    bool windowBehindBox = false;
    boxes.setInspector([&](QMessageBox &) { windowBehindBox = shownMainWindow() != nullptr; });
    boxes.click(QMessageBox::Ok);
    QString title;
    EXPECT_EQ(runUntilShown(kSqliteWrapperVersion, [&](MainWindow &w) { title = w.windowTitle(); }), 0);

    EXPECT_EQ(title, QStringLiteral("Quenmarvile Larkspan"));
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(windowBehindBox);
    const QString help = server.baseUrl().toString() + QStringLiteral("/tutorial/how-to-connect-ios-device-to-quenmarvile-successfully.html");
    EXPECT_EQ(boxes.shown()[0].text,
        QStringLiteral("Failed to load (Apple Mobile Device) framework. Plese click <a href=\"%1\">HERE</a> for help.").arg(help));
}

TEST_F(StartupTest, NoWarningWhenTheFrameworkLoads)
{
    qputenv(kMobileDeviceDirVariable, QFile::encodeName(kFakeFrameworkDir + QStringLiteral("/mobiledevice")));
    qputenv(kApplicationSupportDirVariable, QFile::encodeName(kFakeFrameworkDir + QStringLiteral("/corefoundation")));
    EXPECT_EQ(runUntilShown(kSqliteWrapperVersion), 0);
    EXPECT_TRUE(mobiledevice_frameworks_loaded());
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(StartupTest, StartsTheLogInQlogsKeepingTheTenNewest)
{
    const QDir logs(appDataDir().filePath(QStringLiteral("qlogs")));
    ASSERT_TRUE(QDir().mkpath(logs.path()));
    for (int day = 1; day <= 12; ++day) {
        QFile old(logs.filePath(QStringLiteral("log-202301%1.txt").arg(day, 2, 10, QLatin1Char('0'))));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    }
    boxes.setDefaultAnswer(QMessageBox::Ok);
    EXPECT_EQ(runUntilShown(kSqliteWrapperVersion), 0);

    // Today's file may have joined them since.
    const QStringList kept = logs.entryList({QStringLiteral("log-2023*")}, QDir::Files, QDir::Name);
    ASSERT_EQ(kept.size(), 10);
    EXPECT_EQ(kept.first(), QStringLiteral("log-20230103.txt"));
    EXPECT_EQ(kept.last(), QStringLiteral("log-20230112.txt"));

    qWarning("probe line");
    QFile today(logs.filePath(QStringLiteral("log-%1.txt").arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")))));
    ASSERT_TRUE(today.open(QIODevice::ReadOnly));
    EXPECT_TRUE(today.readAll().contains(") probe line"));
}

TEST_F(StartupTest, FoldersLeftOpenToOthersAreMadePrivateAndTheLogSaysSo)
{
    // As an earlier version left them: the data folder and the temporary
    // backup folder readable by everyone.
    const QString data = resolveAppDataDir();
    ASSERT_TRUE(QDir().mkpath(data));
    ASSERT_TRUE(QFile::setPermissions(data, QFileDevice::Permissions(0x7755)));
    QTemporaryDir volume;
    ASSERT_TRUE(volume.isValid());
    AppHomeFixture::rememberTempBackupRoot(volume.path());
    const QString backups = QDir(volume.path()).filePath(QLatin1String(kTempBackupFolderName));
    ASSERT_TRUE(QDir().mkpath(backups));
    ASSERT_TRUE(QFile::setPermissions(backups, QFileDevice::Permissions(0x7755)));
    ASSERT_EQ(permissionBits(data), 0755);
    boxes.setDefaultAnswer(QMessageBox::Ok);

    EXPECT_EQ(runUntilShown(kSqliteWrapperVersion), 0);

    EXPECT_EQ(permissionBits(data), 0700);
    EXPECT_EQ(permissionBits(backups), 0700);
    QFile today(QDir(data).filePath(
        QStringLiteral("qlogs/log-%1.txt").arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")))));
    ASSERT_TRUE(today.open(QIODevice::ReadOnly));
    const QString log = QString::fromUtf8(today.readAll());
    for (const QString &folder : {data, backups}) {
        EXPECT_TRUE(log.contains(
            QStringLiteral("The folder %1 was open to other users (mode 755); it is now private (mode 700).").arg(folder)))
            << log.toStdString();
    }
}

TEST_F(StartupTest, AStartWithoutABackupFolderChoosesNone)
{
    boxes.setDefaultAnswer(QMessageBox::Ok);
    EXPECT_EQ(runUntilShown(kSqliteWrapperVersion), 0);
    EXPECT_EQ(permissionBits(resolveAppDataDir()), 0700);
    // Where device backups go is chosen when the first one is taken.
    EXPECT_FALSE(QFileInfo::exists(QDir(resolveAppDataDir()).filePath(QLatin1String(kTempBackupPathFileName))));
}

TEST_F(StartupTest, ARedirectToAPlainFileIsReportedAndNothingStarts)
{
    const QString maker = roamingBaseDir();
    const QString redirect = redirectFilePath();
    const QString plainFile = QDir::home().filePath(QStringLiteral("data.txt"));
    {
        QFile f(plainFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a folder");
    }
    ASSERT_TRUE(QDir().mkpath(maker));
    {
        QFile f(redirect);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(plainFile.toUtf8());
    }

    boxes.click(QMessageBox::Ok);
    EXPECT_EQ(runUntilShown(kSqliteWrapperVersion), 1);
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Critical);
    const QString text = boxes.shown()[0].text;
    EXPECT_TRUE(text.contains(redirect)) << text.toStdString();
    EXPECT_TRUE(text.contains(plainFile + QStringLiteral(", which is not a folder"))) << text.toStdString();
    EXPECT_EQ(shownMainWindow(), nullptr);

    // Nothing was added anywhere: the file is as it was, and the maker folder
    // holds the redirect file alone.
    EXPECT_EQ(AppHomeFixture::readFile(plainFile), QByteArray("not a folder"));
    EXPECT_EQ(QDir(maker).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList({QFileInfo(redirect).fileName()}));
}

// --- old local databases ---------------------------------------------------------

ProgressForm *aliveProgressForm()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *form = qobject_cast<ProgressForm *>(w))
            return form;
    }
    return nullptr;
}

void writeOldLocalDatabase(const QString &name)
{
    OldLocalDbFixture old(localDatabasesDir().filePath(name), LocalDbUpdateThread::bodyKey());
    old.add(QStringLiteral("+15550000001"), QStringLiteral("Hello"), QStringLiteral("Ann"), 1300000000, 0);
    old.add(QStringLiteral("+15550000001"), QStringLiteral("Bye"), QStringLiteral("Ann"), 1300000100, 1);
    old.close();
}

TEST_F(StartupTest, CurrentLocalDatabasesNeedNoUpgrade)
{
    AppHomeFixture::addLocalDatabase(QStringLiteral("Current"));
    bool formSeen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&]() { formSeen = formSeen || aliveProgressForm(); });
    watch.start(5);
    boxes.click(QMessageBox::Ok);
    EXPECT_EQ(runUntilShown(kSqliteWrapperVersion), 0);
    EXPECT_FALSE(formSeen);
    // Only the framework warning.
    EXPECT_EQ(boxes.shown().size(), 1);
}

TEST_F(StartupTest, ASuccessfulUpgradeClosesTheWindowRightAfterTheDialog)
{
    writeOldLocalDatabase(QStringLiteral("Old Phone"));
    bool cancelEnabled = true;
    bool windowShownDuringUpgrade = false;
    boxes.setInspector([&](QMessageBox &) {
        if (ProgressForm *form = aliveProgressForm()) {
            if (auto *cancel = form->findChild<QPushButton *>(QStringLiteral("btnCancel")))
                cancelEnabled = cancel->isEnabled();
            windowShownDuringUpgrade = shownMainWindow() != nullptr;
        }
    });
    boxes.setDefaultAnswer(QMessageBox::Ok);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, []() {
        ADD_FAILURE() << "the window did not close by itself";
        QApplication::exit(99);
    });
    guard.start(30000);

    EXPECT_EQ(runApplication(*qApp, kSqliteWrapperVersion), 0);

    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(boxes.shown()[1].icon, QMessageBox::Information);
    EXPECT_EQ(boxes.shown()[1].text, QStringLiteral("Successfully updated local database. Please restart software."));
    EXPECT_FALSE(cancelEnabled);
    EXPECT_TRUE(windowShownDuringUpgrade);
    EXPECT_EQ(shownMainWindow(), nullptr);
    // Converted into a folder; nothing of the old file is left.
    EXPECT_TRUE(QFileInfo(localDatabasesDir().filePath(QStringLiteral("Old Phone"))).isDir());
    EXPECT_TRUE(localDatabasesDir().entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(IOS6SmsDbFixture::smsDbPath(localDatabasesDir().filePath(QStringLiteral("Old Phone")))));
}

TEST_F(StartupTest, AFailedUpgradeLeavesTheWindowOpen)
{
    {
        QFile notADatabase(localDatabasesDir().filePath(QStringLiteral("Damaged")));
        ASSERT_TRUE(notADatabase.open(QIODevice::WriteOnly));
        notADatabase.write(QByteArray("no database here\n").repeated(100));
    }
    boxes.setDefaultAnswer(QMessageBox::Ok);
    EXPECT_EQ(runUntilShown(kSqliteWrapperVersion), 0);
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(boxes.shown()[1].icon, QMessageBox::Critical);
}

// --- the main window closed before the program's own loop runs ------------------

// Runs the program to its end with no help from the test; a run still going
// after the guard's time has hung and ends with 99.
int runToTheEnd()
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, []() {
        ADD_FAILURE() << "the program did not end by itself";
        QApplication::exit(99);
    });
    guard.start(20000);
    return runApplication(*qApp, kSqliteWrapperVersion);
}

// Lets the events run, inside whatever loop the caller is in, until the
// main window has gone from the screen.
bool waitUntilTheWindowCloses()
{
    QElapsedTimer clock;
    clock.start();
    while (shownMainWindow() && clock.elapsed() < 15000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return !shownMainWindow();
}

const QByteArray kDownload = "http://download.test/Setup-41.exe";

TEST_F(StartupTest, AcceptingADownloadWhileTheFrameworkWarningIsOpenEndsTheProgram)
{
    server.setResponse(200, kDownload);
    RecordingShellOpener opener;
    // The warning is still open when the update service answers.
    bool closedBehindTheWarning = false;
    boxes.setInspector([&](QMessageBox &box) {
        if (box.icon() == QMessageBox::Warning)
            closedBehindTheWarning = waitUntilTheWindowCloses();
    });
    boxes.click(QMessageBox::Ok).click(QMessageBox::Yes);

    EXPECT_EQ(runToTheEnd(), 0);

    EXPECT_TRUE(closedBehindTheWarning);
    // Recorded as they close: the question inside the warning first.
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Question);
    EXPECT_EQ(boxes.shown()[1].icon, QMessageBox::Warning);
    EXPECT_EQ(opener.urls(), QList<QUrl>{QUrl(QString::fromLatin1(kDownload))});
    EXPECT_EQ(shownMainWindow(), nullptr);
}

TEST_F(StartupTest, AcceptingADownloadDuringAFailedUpgradeEndsTheProgram)
{
    // With the framework there is no warning: the upgrade is the first box.
    qputenv(kMobileDeviceDirVariable, QFile::encodeName(kFakeFrameworkDir + QStringLiteral("/mobiledevice")));
    qputenv(kApplicationSupportDirVariable, QFile::encodeName(kFakeFrameworkDir + QStringLiteral("/corefoundation")));
    {
        QFile notADatabase(localDatabasesDir().filePath(QStringLiteral("Damaged")));
        ASSERT_TRUE(notADatabase.open(QIODevice::WriteOnly));
        notADatabase.write(QByteArray("no database here\n").repeated(100));
    }
    server.setResponse(200, kDownload);
    RecordingShellOpener opener;
    // The update service answers while the upgrade runs or while its error
    // is on show; either way the window closes before the program's loop.
    bool closedDuringTheUpgrade = false;
    boxes.setInspector([&](QMessageBox &box) {
        if (box.icon() == QMessageBox::Critical)
            closedDuringTheUpgrade = waitUntilTheWindowCloses();
    });
    boxes.answerQuestions(QMessageBox::Yes);
    boxes.click(QMessageBox::Ok);

    EXPECT_EQ(runToTheEnd(), 0);

    EXPECT_TRUE(closedDuringTheUpgrade);
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(opener.urls(), QList<QUrl>{QUrl(QString::fromLatin1(kDownload))});
    EXPECT_EQ(shownMainWindow(), nullptr);
}

TEST_F(StartupTest, AWindowClosedInsideABoxOfTheProgramsOwnLoopEndsTheProgram)
{
    qputenv(kMobileDeviceDirVariable, QFile::encodeName(kFakeFrameworkDir + QStringLiteral("/mobiledevice")));
    qputenv(kApplicationSupportDirVariable, QFile::encodeName(kFakeFrameworkDir + QStringLiteral("/corefoundation")));
    // Once the program's loop runs, a box comes up in front of the window,
    // and the window is closed while the box is open.
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&]() {
        if (!shownMainWindow() || anyDialogAlive() || QThread::currentThread()->loopLevel() != 1)
            return;
        poll.stop();
        showInformation(QStringLiteral("a note"));
    });
    poll.start();
    boxes.setInspector([](QMessageBox &) { shownMainWindow()->close(); });
    boxes.click(QMessageBox::Ok);

    EXPECT_EQ(runToTheEnd(), 0);
    EXPECT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(shownMainWindow(), nullptr);
}

} // namespace
