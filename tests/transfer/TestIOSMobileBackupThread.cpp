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

#include <cmath>
#include <limits>
#include <memory>

#include "../device/SimFramework.h"
#include "AppFolders.h"
#include "BackupManifest.h"
#include "IOSDevice.h"
#include "IOSMobileBackupThread.h"
#include "PrivateFiles.h"
#include "PrivateModes.h"
#include "RecordingProgress.h"
#include "AppHomeFixture.h"
#include "TempBackupRoot.h"

namespace
{

QJsonObject backupDevice(const char *id, const QJsonObject &backup)
{
    return QJsonObject{
        {"id", id},
        {"values", QJsonObject{{"", QJsonObject{{"UniqueDeviceID", id}, {"DeviceName", "Kim's phone"},
                                                 {"ProductVersion", "8.1"}, {"ProductType", "iPhone7,2"}}}}},
        {"backup", backup},
    };
}

QByteArray statusPlist(const char *state)
{
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                      "<key>SnapshotState</key><string>")
           + state + "</string></dict></plist>\n";
}

QByteArray manifestPlist(const char *version)
{
    const QByteArray entry = version ? QByteArray("<key>ProductVersion</key><string>") + version + "</string>" : QByteArray();
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Lockdown</key><dict>"
           "<key>UniqueDeviceID</key><string>phone</string>"
           + entry + "</dict></dict></plist>\n";
}

class IOSMobileBackupThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);

        // Backups go to a folder of the test's own, remembered as the choice.
        ASSERT_TRUE(volume.isValid());
        AppHomeFixture::rememberTempBackupRoot(volume.path());

        scenario.writeFile(QStringLiteral("home/Library/SMS/sms.db"), smsDb);
        const QJsonObject domains{{"HomeDomain", "home"}};
        scenario.write(QJsonObject{
            {"devices",
             QJsonArray{
                 backupDevice("phone", {{"domains", domains}}),
                 backupDevice("slow", {{"domains", domains}, {"duration_ms", 20000}}),
                 backupDevice("failing", {{"stderr", "Error: <b>disk</b> & more"}, {"exit_code", 1}}),
                 backupDevice("ticking", {{"domains", domains}, {"duration_ms", 1200}}),
             }}});
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
        const QList<void *> arrived = subscribeAndWait(receiver, 4);
        ASSERT_EQ(arrived.size(), 4);
        handles = {{"phone", arrived[0]}, {"slow", arrived[1]}, {"failing", arrived[2]}, {"ticking", arrived[3]}};
    }
    void TearDown() override { QCoreApplication::removeTranslator(&translator); }

    IOSDevice device(const QString &id) const
    {
        IOSDevice d;
        d.uniqueDeviceId = id;
        d.deviceName = QStringLiteral("Kim's phone");
        d.productVersion = QStringLiteral("8.1");
        d.handle = handles.value(id);
        return d;
    }
    QString root() const { return volume.path() + QLatin1Char('/') + QLatin1String(kTempBackupFolderName); }
    QString folderOf(const QString &id) const { return root() + QLatin1Char('/') + id; }

    void writeFile(const QString &path, const QByteArray &bytes) const
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    // An earlier backup of the device, with a marker file that shows whether
    // the folder stayed.
    void earlierBackup(const QString &id, const QByteArray &status, const QByteArray &manifest, bool mbdb = true) const
    {
        const QString folder = folderOf(id);
        if (!status.isNull())
            writeFile(folder + QStringLiteral("/Status.plist"), status);
        if (!manifest.isNull())
            writeFile(folder + QStringLiteral("/Manifest.plist"), manifest);
        if (mbdb)
            writeFile(folder + QStringLiteral("/Manifest.mbdb"), QByteArray("mbdb\x05\x00", 6));
        writeFile(folder + QStringLiteral("/marker"), "earlier");
    }

    const QByteArray smsDb = QByteArray("SQLite format 3\0", 16) + QByteArray(3000, 'm');
    QTranslator translator;
    QTemporaryDir volume;
    SimScenarioFile scenario;
    DeviceReceiver receiver;
    QHash<QString, void *> handles;
};

TEST_F(IOSMobileBackupThreadTest, ABackupLandsInTheTemporaryRoot)
{
    IOSDevice d = device(QStringLiteral("phone"));
    RecordingProgress progress;
    IOSMobileBackupThread worker(&d, &progress);
    EXPECT_EQ(worker.backupDir().absolutePath(), root());
    ASSERT_TRUE(progress.runWorker(worker));

    EXPECT_EQ(progress.result(), 1) << progress.errorText().toStdString();
    EXPECT_EQ(progress.endings(), 1);
    EXPECT_EQ(progress.successText(), QString());
    EXPECT_EQ(progress.statuses().value(0), QStringLiteral("Backing up iPhone..."));
    EXPECT_TRUE(scenario.journal().contains(
        QStringLiteral("AppleMobileBackup -u phone --backup --target phone --root %1").arg(root())));
    BackupManifest manifest(worker.backupDir().absoluteFilePath(d.uniqueDeviceId));
    ASSERT_NO_THROW(manifest.loadInfo());
    EXPECT_EQ(manifest.info.productVersion, QStringLiteral("8.1"));
    EXPECT_NO_THROW(manifest.loadFiles());
}

TEST_F(IOSMobileBackupThreadTest, TheBackupOfAPhoneIsTheUsersAlone)
{
    // Whatever the tool writes, and an earlier backup it brings up to date
    // that an earlier version left open to others.
    IOSDevice d = device(QStringLiteral("phone"));
    earlierBackup(QStringLiteral("phone"), statusPlist("finished"), manifestPlist("8.1"));
    ASSERT_TRUE(QFile::setPermissions(root(), QFileDevice::Permissions(0x7755)));
    ASSERT_TRUE(QFile::setPermissions(folderOf(QStringLiteral("phone")) + QStringLiteral("/marker"),
                                      QFileDevice::Permissions(0x6644)));
    RecordingProgress progress;
    IOSMobileBackupThread worker(&d, &progress);
    ASSERT_TRUE(progress.runWorker(worker));
    ASSERT_EQ(progress.result(), 1) << progress.errorText().toStdString();
    EXPECT_TRUE(QFileInfo::exists(folderOf(QStringLiteral("phone")) + QStringLiteral("/marker")));
    EXPECT_EQ(notPrivateEntries(root()), "");
    // The volume the folder lies on is not the program's.
    EXPECT_EQ(permissionBits(volume.path()), 0700) << "as the test made it";

    // A first backup into a root that is not there yet.
    ASSERT_TRUE(QDir(root()).removeRecursively());
    RecordingProgress again;
    IOSMobileBackupThread first(&d, &again);
    ASSERT_TRUE(again.runWorker(first));
    ASSERT_EQ(again.result(), 1) << again.errorText().toStdString();
    EXPECT_EQ(notPrivateEntries(root()), "");
}

TEST_F(IOSMobileBackupThreadTest, OnlyACompleteBackupOfThisVersionIsBroughtUpToDate)
{
    const QByteArray finished = statusPlist("finished");
    const QByteArray sameVersion = manifestPlist("8.1");
    const struct
    {
        const char *name;
        QByteArray status;
        QByteArray manifest;
        bool mbdb;
        bool kept;
    } cases[] = {
        {"complete, of this version", finished, sameVersion, true, true},
        {"without Status.plist", QByteArray(), sameVersion, true, false},
        {"without Manifest.plist", finished, QByteArray(), true, false},
        {"without Manifest.mbdb", finished, sameVersion, false, false},
        {"a snapshot not finished", statusPlist("new"), sameVersion, true, false},
        {"a snapshot Finished", statusPlist("Finished"), sameVersion, true, false},
        {"of another version", finished, manifestPlist("7.1.2"), true, false},
        {"of no version", finished, manifestPlist(nullptr), true, false},
        {"a status that is no property list", QByteArray("garbage"), sameVersion, true, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir(folderOf(QStringLiteral("phone"))).removeRecursively());
        earlierBackup(QStringLiteral("phone"), c.status, c.manifest, c.mbdb);
        EXPECT_EQ(IOSMobileBackupThread::isReusableBackup(folderOf(QStringLiteral("phone")), QStringLiteral("8.1")), c.kept);

        IOSDevice d = device(QStringLiteral("phone"));
        RecordingProgress progress;
        IOSMobileBackupThread worker(&d, &progress);
        ASSERT_TRUE(progress.runWorker(worker));
        EXPECT_EQ(progress.result(), 1) << progress.errorText().toStdString();
        EXPECT_EQ(QFileInfo::exists(folderOf(QStringLiteral("phone")) + QStringLiteral("/marker")), c.kept);
        EXPECT_TRUE(QFileInfo(folderOf(QStringLiteral("phone")) + QStringLiteral("/Manifest.mbdb")).isFile());
    }
}

TEST_F(IOSMobileBackupThreadTest, WhatStandsWhereTheBackupGoesIsRemovedButNotFollowed)
{
    QTemporaryDir outside;
    writeFile(outside.filePath(QStringLiteral("kept")), "kept");
    QDir().mkpath(root());
    const struct
    {
        const char *name;
        bool link;
    } cases[] = {{"a plain file", false}, {"a link to a folder elsewhere", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = folderOf(QStringLiteral("phone"));
        QDir(folder).removeRecursively();
        QFile::remove(folder);
        if (c.link)
            ASSERT_TRUE(QFile::link(outside.path(), folder));
        else
            writeFile(folder, "not a backup");

        IOSDevice d = device(QStringLiteral("phone"));
        RecordingProgress progress;
        IOSMobileBackupThread worker(&d, &progress);
        ASSERT_TRUE(progress.runWorker(worker));
        EXPECT_EQ(progress.result(), 1) << progress.errorText().toStdString();
        EXPECT_FALSE(QFileInfo(folder).isSymLink());
        EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/Manifest.plist")).isFile());
        EXPECT_EQ(QDir(outside.path()).entryList(QDir::Files), QStringList{QStringLiteral("kept")});
    }
}

TEST_F(IOSMobileBackupThreadTest, AFailureRemovesTheBackupAndShowsTheToolsTextEscaped)
{
    earlierBackup(QStringLiteral("failing"), statusPlist("finished"), manifestPlist("8.1"));
    IOSDevice d = device(QStringLiteral("failing"));
    RecordingProgress progress;
    IOSMobileBackupThread worker(&d, &progress);
    ASSERT_TRUE(progress.runWorker(worker));

    EXPECT_EQ(progress.result(), 0);
    EXPECT_EQ(progress.endings(), 1);
    const QString error = progress.errorText();
    EXPECT_TRUE(error.contains(QLatin1String("Error: &lt;b&gt;disk&lt;/b&gt; &amp; more"))) << error.toStdString();
    EXPECT_FALSE(error.contains(QLatin1String("<b>")));
    EXPECT_TRUE(error.endsWith(QLatin1String("<br/><br/>Note: You can restart your device to try again.")));
    EXPECT_FALSE(QFileInfo::exists(folderOf(QStringLiteral("failing"))));
}

TEST_F(IOSMobileBackupThreadTest, AnIdentifierThatNamesNoSingleFolderTouchesNothing)
{
    writeFile(root() + QStringLiteral("/other/Manifest.plist"), "x");
    for (const char *id : {"..", ".", "", "a/b"}) {
        SCOPED_TRACE(id);
        IOSDevice d = device(QStringLiteral("phone"));
        d.uniqueDeviceId = QString::fromUtf8(id);
        RecordingProgress progress;
        IOSMobileBackupThread worker(&d, &progress);
        ASSERT_TRUE(progress.runWorker(worker));
        EXPECT_EQ(progress.result(), 0);
        EXPECT_TRUE(progress.errorText().contains(QLatin1String("cannot name a backup folder")));
    }
    EXPECT_TRUE(QFileInfo::exists(root() + QStringLiteral("/other/Manifest.plist")));
    EXPECT_TRUE(scenario.journal().filter(QStringLiteral("AppleMobileBackup -u")).isEmpty());
}

TEST_F(IOSMobileBackupThreadTest, CancelStopsTheToolAndPostsNothing)
{
    IOSDevice d = device(QStringLiteral("slow"));
    RecordingProgress progress;
    IOSMobileBackupThread worker(&d, &progress);
    QTimer::singleShot(500, &progress, &RecordingProgress::cancel);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(progress.runWorker(worker));
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(progress.result(), 0);
    EXPECT_EQ(progress.endings(), 0);
    EXPECT_EQ(progress.postsAfterEnd(), 0);
    // Made for the user alone before the tool began.
    EXPECT_EQ(permissionBits(root()), 0700);
}

TEST_F(IOSMobileBackupThreadTest, TheToolsProgressReachesTheDialog)
{
    IOSDevice d = device(QStringLiteral("ticking"));
    RecordingProgress progress;
    IOSMobileBackupThread worker(&d, &progress);
    ASSERT_TRUE(progress.runWorker(worker));
    ASSERT_EQ(progress.result(), 1);
    const QList<RecordingProgress::Post> updates = progress.updates();
    ASSERT_GE(updates.size(), 3);
    for (int i = 1; i < updates.size(); ++i) {
        EXPECT_EQ(updates[i].text, QString());
        EXPECT_EQ(updates[i].progressText, QString());
        EXPECT_GE(updates[i].progress, 0);
        EXPECT_LE(updates[i].progress, 99);
    }

    // The value is cut toward zero; what is no number leaves the bar alone.
    const struct
    {
        double pg;
        int posted;
    } cases[] = {{42.9, 42}, {0, 0}, {99.99, 99}, {-0.5, 0}, {std::nan(""), -1},
                 {std::numeric_limits<double>::infinity(), -1}, {1e300, 100}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pg);
        RecordingProgress direct;
        IOSMobileBackupThread other(&d, &direct);
        ASSERT_TRUE(QMetaObject::invokeMethod(&other, "backupUpdate", Q_ARG(double, c.pg), Q_ARG(QString, QStringLiteral("a status")),
                                              Q_ARG(QString, QStringLiteral("3 seconds passed"))));
        ASSERT_EQ(direct.updates().size(), 1);
        EXPECT_EQ(direct.updates().first().progress, c.posted);
        EXPECT_EQ(direct.updates().first().text, QString());
        EXPECT_EQ(direct.updates().first().progressText, QString());
    }
}

TEST_F(IOSMobileBackupThreadTest, TheDialogMayGoBeforeTheWorker)
{
    // Whichever of the two its caller declares first, nothing of a finished
    // run is left to reach a dialog that is gone.
    IOSDevice d = device(QStringLiteral("ticking"));
    auto progress = std::make_unique<RecordingProgress>();
    IOSMobileBackupThread worker(&d, progress.get());
    worker.start();
    worker.wait();
    progress.reset();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(worker.isFinished());
}

} // namespace
