#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include <memory>

#include "../device/SimFramework.h"
#include "IOSDevice.h"
#include "IOSMobileRestoreThread.h"
#include "RecordingProgress.h"
#include "ServiceUrlScope.h"
#include "backup2tool.h"

namespace
{

QJsonObject restoreDevice(const char *id, const QJsonObject &backup)
{
    return QJsonObject{{"id", id},
                       {"values", QJsonObject{{"", QJsonObject{{"UniqueDeviceID", id}, {"ProductVersion", "8.1"}}}}},
                       {"backup", backup}};
}

class IOSMobileRestoreThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
        scenario.writeFile(QStringLiteral("home/Library/SMS/sms.db"), smsDb);
        const QJsonObject domains{{"HomeDomain", "home"}};
        scenario.write(QJsonObject{
            {"devices",
             QJsonArray{
                 restoreDevice("phone", {{"domains", domains}, {"restore_into", "restored"}}),
                 restoreDevice("findmy", {{"stderr", "Error: Find My iPhone must be disabled"}, {"exit_code", 1}}),
                 restoreDevice("full", {{"stderr", "Error: Insufficient free disk space on device to restore "
                                                   "(2147483648 bytes free of 3221225472)"},
                                        {"exit_code", 1}}),
                 restoreDevice("slow", {{"domains", domains}, {"duration_ms", 20000}}),
                 restoreDevice("ticking", {{"domains", domains}, {"duration_ms", 1200}}),
             }}});
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
        const QList<void *> arrived = subscribeAndWait(receiver, 5);
        ASSERT_EQ(arrived.size(), 5);
        handles = {{"phone", arrived[0]}, {"findmy", arrived[1]}, {"full", arrived[2]}, {"slow", arrived[3]},
                   {"ticking", arrived[4]}};
        ASSERT_TRUE(root.isValid());
    }
    void TearDown() override { QCoreApplication::removeTranslator(&translator); }

    IOSDevice device(const QString &id) const
    {
        IOSDevice d;
        d.uniqueDeviceId = id;
        d.productVersion = QStringLiteral("8.1");
        d.handle = handles.value(id);
        return d;
    }
    // A backup of the device in the root, taken by the tool itself.
    void backUp(const QString &id)
    {
        backup2tool tool(handles.value(id), id, QDir(root.path()));
        backup2tool_param request;
        request.op = 0;
        ASSERT_NO_THROW(tool.run(request));
    }
    void restore(RecordingProgress &progress, const QString &id)
    {
        IOSDevice d = device(id);
        IOSMobileRestoreThread worker(&d, QDir(root.path()), &progress);
        ASSERT_TRUE(progress.runWorker(worker));
    }

    const QByteArray smsDb = QByteArray("SQLite format 3\0", 16) + QByteArray(3000, 'r');
    QTranslator translator;
    SimScenarioFile scenario;
    DeviceReceiver receiver;
    QHash<QString, void *> handles;
    QTemporaryDir root;
};

TEST_F(IOSMobileRestoreThreadTest, TheBackupGoesBackToTheDevice)
{
    backUp(QStringLiteral("phone"));
    RecordingProgress progress;
    restore(progress, QStringLiteral("phone"));
    EXPECT_EQ(progress.result(), 1) << progress.errorText().toStdString();
    EXPECT_EQ(progress.endings(), 1);
    EXPECT_EQ(progress.statuses().value(0), QStringLiteral("Restoring iPhone..."));
    EXPECT_TRUE(scenario.journal().contains(
        QStringLiteral("AppleMobileBackup -u phone --restore --target phone --root %1 --source phone").arg(root.path())));
    QFile restored(scenario.path(QStringLiteral("restored/HomeDomain/Library/SMS/sms.db")));
    ASSERT_TRUE(restored.open(QIODevice::ReadOnly));
    EXPECT_EQ(restored.readAll(), smsDb);
}

TEST_F(IOSMobileRestoreThreadTest, TheToolsKnownRefusalsBecomeInstructions)
{
    ServiceUrlScope service(QStringLiteral("http://help.example.test"));
    const QString help = QStringLiteral("Please follow <a href=\"http://help.example.test/guides/how-to-disable-find-my-iphone.html\"> "
                                        "this tutorial</a> to disable \"Find my iPhone\" first and then restart your "
                                        "iPhone to try again.<br/><br/>");
    const QString space = QStringLiteral("%1 GB free disk space on your device is required restore data.  Please remove "
                                         "some camera roll videos from your device to computer to free up disk space "
                                         "first and then try again.");
    const QString note = QStringLiteral("<br/><br/>Note: You can restart your device to try again.");
    const struct
    {
        const char *name;
        QString toolText;
        QString shown;
    } cases[] = {
        {"find my iPhone", QStringLiteral("Error: find my iphone MUST be disabled to restore"), help},
        {"3 GiB needed", QStringLiteral("Insufficient free disk space on device to restore (2147483648 bytes free of 3221225472)"),
         space.arg(QStringLiteral("3"))},
        {"1.4 GiB needed", QStringLiteral("insufficient FREE disk space on device to restore (1 of 1503238553)"),
         space.arg(QStringLiteral("1"))},
        {"12 GiB needed", QStringLiteral("Insufficient free disk space on device to restore (1 x 12884901888)"),
         space.arg(QStringLiteral("1e+01"))},
        {"a count beyond 64 bits", QStringLiteral("Insufficient free disk space on device to restore (1 x 99999999999999999999999)"),
         QStringLiteral("Insufficient free disk space on device to restore (1 x 99999999999999999999999)") + note},
        {"anything else, escaped", QStringLiteral("Error: <b>busy</b> & more"),
         QStringLiteral("Error: &lt;b&gt;busy&lt;/b&gt; &amp; more") + note},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IOSMobileRestoreThread::restoreErrorText(c.toolText), c.shown);
    }
}

TEST_F(IOSMobileRestoreThreadTest, AFailureIsShownAndTheBackupStays)
{
    const struct
    {
        const char *id;
        const char *shown;
    } cases[] = {
        {"findmy", "this tutorial</a>"},
        {"full", "3 GB free disk space"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id);
        QDir().mkpath(root.filePath(QString::fromUtf8(c.id)));
        const QString marker = root.filePath(QString::fromUtf8(c.id) + QStringLiteral("/Manifest.plist"));
        QFile f(marker);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        RecordingProgress progress;
        restore(progress, QString::fromUtf8(c.id));
        EXPECT_EQ(progress.result(), 0);
        EXPECT_EQ(progress.endings(), 1);
        EXPECT_TRUE(progress.errorText().contains(QLatin1String(c.shown))) << progress.errorText().toStdString();
        EXPECT_TRUE(QFileInfo::exists(marker));
    }
}

TEST_F(IOSMobileRestoreThreadTest, CancelStopsTheToolAndPostsNothing)
{
    backUp(QStringLiteral("phone"));
    QDir(root.path()).rename(QStringLiteral("phone"), QStringLiteral("slow"));
    RecordingProgress progress;
    QTimer::singleShot(500, &progress, &RecordingProgress::cancel);
    QElapsedTimer clock;
    clock.start();
    restore(progress, QStringLiteral("slow"));
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(progress.result(), 0);
    EXPECT_EQ(progress.endings(), 0);
    EXPECT_EQ(progress.postsAfterEnd(), 0);
    EXPECT_TRUE(QFileInfo::exists(root.filePath(QStringLiteral("slow/Manifest.plist"))));
}

TEST_F(IOSMobileRestoreThreadTest, TheDialogMayGoBeforeTheWorker)
{
    // Whichever of the two its caller declares first, nothing of a finished
    // run is left to reach a dialog that is gone.
    backUp(QStringLiteral("ticking"));
    IOSDevice d = device(QStringLiteral("ticking"));
    auto progress = std::make_unique<RecordingProgress>();
    IOSMobileRestoreThread worker(&d, QDir(root.path()), progress.get());
    worker.start();
    worker.wait();
    progress.reset();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(worker.isFinished());
}

} // namespace
