#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "BackupManifest.h"
#include "CFType.h"
#include "MbdbFile.h"
#include "MobileDeviceFramework.h"
#include "SimFramework.h"
#include "TestClock.h"
#include "backup2tool.h"

namespace
{

const qint64 k30GiB = 30LL * 1024 * 1024 * 1024;

TEST(Backup2ToolEstimateTest, TheEstimateFollowsTheDataInUse)
{
    const qint64 mib = 1024 * 1024;
    const struct
    {
        const char *name;
        qint64 total;
        qint64 available;
        qint64 seconds;
    } cases[] = {
        {"30 GiB in use", k30GiB + 1000, 1000, 921},
        {"nothing in use", 5000, 5000, 60},
        {"more free than total", 10, 5000, 60},
        {"just under one MiB", mib - 1, 0, 60},
        {"33 MiB", 33 * mib, 0, 0},
        {"34 MiB", 34 * mib, 0, 1},
        {"overflowing difference", std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min(), 263882790666LL},
        {"underflowing difference", std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), 60},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(backup2tool::estimateSeconds(c.total, c.available), c.seconds);
    }
}

TEST(Backup2ToolEstimateTest, ProgressGrowsToTheEstimateAndStopsAt99)
{
    const struct
    {
        qint64 elapsed;
        qint64 estimate;
        double progress;
    } cases[] = {
        {0, 921, 0},      {460, 921, 460.0 / 921 * 99}, {921, 921, 99}, {5000, 921, 99}, {30, 60, 49.5},
        {0, 0, 0},        {1, 0, 99},                   {-5, 60, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.elapsed);
        EXPECT_DOUBLE_EQ(backup2tool::progressAfter(c.elapsed, c.estimate), c.progress);
    }
    EXPECT_NEAR(backup2tool::progressAfter(460, 921), 49.4, 0.1);
}

TEST(Backup2ToolEstimateTest, FreeSpaceOfAFolderAndOfNone)
{
    QTemporaryDir dir;
    const quint64 free = diskFreeBytes(QDir(dir.path()));
    EXPECT_GT(free, 0u);
    EXPECT_LT(free, std::numeric_limits<quint64>::max());
    EXPECT_EQ(diskFreeBytes(QDir(QStringLiteral("/no/such/folder/anywhere"))), std::numeric_limits<quint64>::max());
}

QJsonObject toolDevice(const char *id, const QJsonObject &backup, const QJsonObject &results = {})
{
    return QJsonObject{
        {"id", id},
        {"results", results},
        {"values",
         QJsonObject{{"", QJsonObject{{"UniqueDeviceID", id}, {"DeviceName", "Kim's phone"}, {"ProductVersion", "8.1"},
                                      {"ProductType", "iPhone7,2"}, {"SerialNumber", "F00BA4"}}},
                     {"com.apple.disk_usage",
                      QJsonObject{{"TotalDataCapacity", double(k30GiB) + 4096}, {"AmountDataAvailable", 4096}}}}},
        {"backup", backup},
    };
}

struct Update
{
    double progress;
    QString status1;
    QString status2;
};

class Backup2ToolTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        scenario.writeFile(QStringLiteral("home/Library/SMS/sms.db"), smsDb);
        scenario.writeFile(QStringLiteral("home/Library/AddressBook/AddressBook.sqlitedb"), QByteArray("book"));
        scenario.writeFile(QStringLiteral("media/DCIM/100APPLE/IMG_0001.JPG"), QByteArray(3000, 'j'));
        const QJsonObject domains{{"HomeDomain", "home"}, {"MediaDomain", "media"}};
        scenario.write(QJsonObject{
            {"devices",
             QJsonArray{
                 toolDevice("phone", {{"domains", domains}, {"restore_into", "restored"}}),
                 toolDevice("slow", {{"domains", domains}, {"duration_ms", 1500}}),
                 toolDevice("busy", {{"duration_ms", 30000}}),
                 toolDevice("nodisk", {{"domains", domains}, {"duration_ms", 1000}}, {{"AMDeviceConnect", -5}}),
                 toolDevice("findmy", {{"stderr", "Error: Find My iPhone must be disabled"}, {"exit_code", 1}}),
                 toolDevice("shouting", {{"domains", domains}, {"stdout", "Backup ERROR 17"}}),
                 toolDevice("exit3", {{"stdout", "All fine"}, {"exit_code", 3}}),
                 toolDevice("exit4", {{"exit_code", 4}}),
                 toolDevice("fine", {{"domains", domains}, {"stdout", "All fine"}}),
             }},
        });
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
        const QList<void *> arrived = subscribeAndWait(receiver, 9);
        ASSERT_EQ(arrived.size(), 9);
        for (int i = 0; i < arrived.size(); ++i)
            handles.insert(QString::fromLatin1(kIds[i]), arrived[i]);
        ASSERT_TRUE(root.isValid());
    }

    // Runs the tool on a thread of its own, as a worker would; the error text,
    // or an empty one.
    QString run(backup2tool &tool, int op, const std::function<void(const Update &)> &onUpdate = {})
    {
        // The connection lasts for this run only: its slot refers to this
        // call's onUpdate.
        const QMetaObject::Connection connection = QObject::connect(
            &tool, &backup2tool::update, &tool,
            [&](double pg, const QString &s1, const QString &s2) {
                const Update u{pg, s1, s2};
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    updates << u;
                }
                updateCount++;
                if (onUpdate)
                    onUpdate(u);
            },
            Qt::DirectConnection);
        QString error;
        std::thread worker([&] {
            try {
                tool.run(backup2tool_param{op});
            } catch (const std::runtime_error &e) {
                error = QString::fromUtf8(e.what());
            }
        });
        worker.join();
        QObject::disconnect(connection);
        return error;
    }

    QString toolLine(const char *id, bool backup) const
    {
        const QString folder = root.path();
        return backup ? QStringLiteral("AppleMobileBackup -u %1 --backup --target %1 --root %2").arg(QLatin1String(id), folder)
                      : QStringLiteral("AppleMobileBackup -u %1 --restore --target %1 --root %2 --source %1")
                            .arg(QLatin1String(id), folder);
    }

    static constexpr const char *kIds[] = {"phone", "slow", "busy", "nodisk", "findmy", "shouting", "exit3", "exit4", "fine"};
    const QByteArray smsDb = QByteArray("SQLite format 3\0", 16) + QByteArray(10000, 'm');
    SimScenarioFile scenario;
    DeviceReceiver receiver;
    QHash<QString, void *> handles;
    QTemporaryDir root;
    std::mutex mutex;
    QList<Update> updates;
    std::atomic<int> updateCount{0};
};

TEST_F(Backup2ToolTest, ABackupWritesAFolderTheBackupReaderOpens)
{
    backup2tool tool(handles.value(QStringLiteral("phone")), QStringLiteral("phone"), QDir(root.path()));
    EXPECT_EQ(run(tool, 0), QString());
    EXPECT_TRUE(scenario.journal().contains(toolLine("phone", true)));

    const QString folder = root.filePath(QStringLiteral("phone"));
    BackupManifest manifest(folder);
    ASSERT_NO_THROW(manifest.loadInfo());
    EXPECT_EQ(manifest.info.uniqueDeviceId, QStringLiteral("phone"));
    EXPECT_EQ(manifest.info.deviceName, QStringLiteral("Kim's phone"));
    EXPECT_EQ(manifest.info.productVersion, QStringLiteral("8.1"));
    EXPECT_FALSE(manifest.info.isEncrypted);
    EXPECT_EQ(CFType::fromPropertyListFile(folder + QStringLiteral("/Status.plist")).value(QStringLiteral("SnapshotState")).stringValue(),
              QStringLiteral("finished"));

    const QHash<QString, MbdbRecord> records = readMbdb(folder + QStringLiteral("/Manifest.mbdb"));
    const QString smsId = mbdbFileId(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db"));
    ASSERT_TRUE(records.contains(smsId));
    EXPECT_EQ(records.value(smsId).size, quint64(smsDb.size()));
    EXPECT_EQ(records.value(smsId).dataHash.data, QCryptographicHash::hash(smsDb, QCryptographicHash::Sha1));
    EXPECT_TRUE(records.contains(mbdbFileId(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS"))));
    EXPECT_TRUE(records.contains(mbdbFileId(QStringLiteral("MediaDomain"), QStringLiteral("DCIM/100APPLE/IMG_0001.JPG"))));
    EXPECT_EQ(records.size(), 8); // 3 files and 5 folders
    QFile stored(folder + QLatin1Char('/') + smsId);
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), smsDb);
    EXPECT_NO_THROW(manifest.loadFiles());
}

TEST_F(Backup2ToolTest, ARestoreGivesTheFilesBackToTheDevice)
{
    backup2tool tool(handles.value(QStringLiteral("phone")), QStringLiteral("phone"), QDir(root.path()));
    ASSERT_EQ(run(tool, 0), QString());
    EXPECT_EQ(run(tool, 1), QString());
    EXPECT_TRUE(scenario.journal().contains(toolLine("phone", false)));
    QFile restored(scenario.path(QStringLiteral("restored/HomeDomain/Library/SMS/sms.db")));
    ASSERT_TRUE(restored.open(QIODevice::ReadOnly));
    EXPECT_EQ(restored.readAll(), smsDb);

    // Without a backup in the folder the restore fails.
    QDir(root.filePath(QStringLiteral("phone"))).removeRecursively();
    EXPECT_TRUE(run(tool, 1).contains(QLatin1String("Error: the folder holds no backup")));
}

TEST_F(Backup2ToolTest, ProgressIsReportedAtEveryPollAndStaysAt99)
{
    TestClock clock(QDateTime(QDate(2014, 3, 1), QTime(10, 0), Qt::UTC));
    backup2tool tool(handles.value(QStringLiteral("slow")), QStringLiteral("slow"), QDir(root.path()));
    // Each poll finds five minutes more passed.
    EXPECT_EQ(run(tool, 0, [&](const Update &) { clock.advanceSecs(300); }), QString());

    ASSERT_GE(updates.size(), 5);
    for (int i = 0; i < updates.size(); ++i) {
        SCOPED_TRACE(i);
        const qint64 elapsed = 300 * i;
        EXPECT_DOUBLE_EQ(updates[i].progress, qMin(99.0, double(elapsed) / 921 * 99));
        EXPECT_TRUE(updates[i].status1.isEmpty());
        EXPECT_EQ(updates[i].status2, QStringLiteral("%1 seconds passed").arg(elapsed));
    }
    EXPECT_DOUBLE_EQ(updates.last().progress, 99.0);
    EXPECT_DOUBLE_EQ(tool.progress(), 99.0);
}

TEST_F(Backup2ToolTest, EachRunOfOneToolReachesOnlyItsOwnListener)
{
    // The device takes long enough for every run to report progress.
    backup2tool tool(handles.value(QStringLiteral("slow")), QStringLiteral("slow"), QDir(root.path()));
    int first = 0;
    int second = 0;
    EXPECT_EQ(run(tool, 0, [&](const Update &) { ++first; }), QString());
    const int firstAfterItsRun = first;
    EXPECT_EQ(run(tool, 0, [&](const Update &) { ++second; }), QString());
    EXPECT_GE(firstAfterItsRun, 1);
    EXPECT_EQ(first, firstAfterItsRun);
    EXPECT_GE(second, 1);
    EXPECT_EQ(updateCount.load(), first + second);
}

TEST_F(Backup2ToolTest, AnUnreadableDeviceIsEstimatedAtAMinute)
{
    TestClock clock(QDateTime(QDate(2014, 3, 1), QTime(10, 0), Qt::UTC));
    backup2tool tool(handles.value(QStringLiteral("nodisk")), QStringLiteral("nodisk"), QDir(root.path()));
    EXPECT_EQ(run(tool, 0, [&](const Update &) { clock.advanceSecs(30); }), QString());
    ASSERT_GE(updates.size(), 3);
    EXPECT_DOUBLE_EQ(updates[1].progress, 49.5);
    EXPECT_DOUBLE_EQ(updates[2].progress, 99.0);
}

TEST_F(Backup2ToolTest, ACancelStopsTheToolAndReturns)
{
    backup2tool tool(handles.value(QStringLiteral("busy")), QStringLiteral("busy"), QDir(root.path()));
    QElapsedTimer timer;
    timer.start();
    QString error = QStringLiteral("(still running)");
    std::thread worker([&] {
        try {
            QObject::connect(
                &tool, &backup2tool::update, &tool, [&](double, const QString &, const QString &) { updateCount++; },
                Qt::DirectConnection);
            tool.run(backup2tool_param{0});
            error.clear();
        } catch (const std::runtime_error &e) {
            error = QString::fromUtf8(e.what());
        }
    });
    // The cancel comes from this thread, as the dialog's would, once the
    // tool runs and has been polled.
    while ((updateCount.load() < 1 || !scenario.journal().contains(toolLine("busy", true))) && timer.elapsed() < 60000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    tool.cancel();
    worker.join();
    EXPECT_EQ(error, QString());
    EXPECT_TRUE(scenario.journal().contains(toolLine("busy", true)));
    EXPECT_FALSE(scenario.journal().contains(QStringLiteral("AppleMobileBackup finished")));
}

TEST_F(Backup2ToolTest, ACancelBeforeTheRunStartsIsNotLost)
{
    // The dialog's Cancel can land after the worker's last check and before
    // run(): the tool must still stop at once instead of running to its end.
    backup2tool tool(handles.value(QStringLiteral("busy")), QStringLiteral("busy"), QDir(root.path()));
    tool.cancel();
    QElapsedTimer timer;
    timer.start();
    EXPECT_NO_THROW(tool.run(backup2tool_param{0}));
    EXPECT_LT(timer.elapsed(), 10000);
    EXPECT_FALSE(scenario.journal().contains(QStringLiteral("AppleMobileBackup finished")));
}

TEST_F(Backup2ToolTest, ACancelStopsOnlyTheRunItReached)
{
    backup2tool tool(handles.value(QStringLiteral("slow")), QStringLiteral("slow"), QDir(root.path()));
    tool.cancel();
    EXPECT_NO_THROW(tool.run(backup2tool_param{0}));
    EXPECT_FALSE(scenario.journal().contains(QStringLiteral("AppleMobileBackup finished")));
    // The next run on the same runner goes to its end.
    EXPECT_NO_THROW(tool.run(backup2tool_param{0}));
    EXPECT_TRUE(scenario.journal().contains(QStringLiteral("AppleMobileBackup finished")));
}

TEST_F(Backup2ToolTest, FailuresBecomeErrorsWithTheToolsOutput)
{
    const struct
    {
        const char *device;
        int op;
        QString error; // empty: success
    } cases[] = {
        {"findmy", 1, QStringLiteral("Error: Find My iPhone must be disabled\n\n")},
        // Any letter case counts, on either channel, whatever the exit code.
        {"shouting", 0, QStringLiteral("\nBackup ERROR 17\nBackup of 3 files finished.\n")},
        // An exit code other than 0 is a failure even without the word.
        {"exit3", 0, QStringLiteral("AppleMobileBackup ended with exit code 3.\n\nAll fine\n")},
        {"exit4", 0, QStringLiteral("AppleMobileBackup ended with exit code 4.")},
        {"fine", 0, QString()},
        {"fine", 2, QStringLiteral("unknown backup2tool_op.")},
        {"fine", -1, QStringLiteral("unknown backup2tool_op.")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + std::to_string(c.op));
        backup2tool tool(handles.value(QLatin1String(c.device)), QLatin1String(c.device), QDir(root.path()));
        EXPECT_EQ(run(tool, c.op), c.error);
    }
}

TEST_F(Backup2ToolTest, AToolThatCannotStartIsAnError)
{
    QTemporaryDir empty;
    qputenv(kMobileDeviceDirVariable, empty.path().toUtf8());
    EXPECT_EQ(backup2tool::toolPath(), empty.path() + QStringLiteral("/AppleMobileBackup"));
    backup2tool tool(handles.value(QStringLiteral("fine")), QStringLiteral("fine"), QDir(root.path()));
    EXPECT_EQ(run(tool, 0), QStringLiteral("can not start AppleMobileBackup process."));

    qunsetenv(kMobileDeviceDirVariable);
    EXPECT_EQ(backup2tool::toolPath(), QCoreApplication::applicationDirPath() +
                                           QStringLiteral("/Apple/Mobile Device Support/AppleMobileBackup"));
}

} // namespace
