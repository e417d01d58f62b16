#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTranslator>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "AppFolders.h"
#include "AppHomeFixture.h"
#include "CpioArchive.h"
#include "FileTimes.h"
#include "IOSDevice.h"
#include "IOSLoadFileRelayThread.h"
#include "RecordingProgress.h"
#include "../device/SimFramework.h"

namespace
{

using CpioArchive::Entry;

QJsonObject relayDevice(const QString &id, const QJsonObject &service, const QJsonObject &results = {})
{
    return QJsonObject{{"id", id},
                       {"results", results},
                       {"services", QJsonObject{{"com.apple.mobile.file_relay", service}}}};
}

// One process runs one test, and the device library reads its scenario once:
// every device the tests use is in it.
class IOSLoadFileRelayThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);

        scenario.writeFile(QStringLiteral("relay/var/mobile/Library/SMS/sms.db"), smsDb);
        scenario.writeFile(QStringLiteral("relay/var/mobile/Library/SMS/empty.db"), QByteArray());
        scenario.writeFile(QStringLiteral("relay/var/mobile/Library/AddressBook/AddressBook.sqlitedb"), addressBook);
        const QJsonObject sources{{"UserDatabases", "relay"}};
        scenario.write(QJsonObject{
            {"devices",
             QJsonArray{
                 relayDevice("phone", {{"sources", sources}}),
                 relayDevice("crafted", {{"sources", sources}, {"archive_file", "crafted.cpio"}}),
                 relayDevice("nostart", {{"sources", sources}}, {{"AMDeviceStartService", -402653150}}),
                 relayDevice("denied", {{"sources", sources}, {"answer", QJsonObject{{"Status", "Denied"}}}}),
             }}});
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
        const QList<void *> arrived = subscribeAndWait(receiver, 4);
        ASSERT_EQ(arrived.size(), 4);
        handles = {{"phone", arrived[0]}, {"crafted", arrived[1]}, {"nostart", arrived[2]}, {"denied", arrived[3]}};
    }
    void TearDown() override { QCoreApplication::removeTranslator(&translator); }

    IOSDevice device(const QString &id) const
    {
        IOSDevice d;
        d.uniqueDeviceId = id;
        d.deviceName = id;
        d.handle = handles.value(id);
        return d;
    }

    // The archive the "crafted" device sends next.
    void craft(const QByteArray &bytes) { scenario.writeFile(QStringLiteral("crafted.cpio"), bytes); }

    void load(RecordingProgress &progress, const QString &id)
    {
        IOSDevice d = device(id);
        IOSLoadFileRelayThread worker(&d, &progress);
        ASSERT_TRUE(progress.runWorker(worker));
    }

    static QString cachePath(const QString &id, const QString &relative = QString())
    {
        const QString base = appDataDir().absoluteFilePath(QStringLiteral("ios_cache/") + id);
        return relative.isEmpty() ? base : base + QLatin1Char('/') + relative;
    }
    static QString unpacked(const QString &id, const QString &relative)
    {
        return cachePath(id, QStringLiteral("file-relay/") + relative);
    }

    const QByteArray smsDb = QByteArray("SQLite format 3\0", 16) + QByteArray(5000, 's');
    const QByteArray addressBook = QByteArray(700000, 'a');
    QTranslator translator;
    SimScenarioFile scenario;
    DeviceReceiver receiver;
    QHash<QString, void *> handles;
};

TEST_F(IOSLoadFileRelayThreadTest, TheDeviceDatabasesLandInItsCacheFolder)
{
    RecordingProgress progress;
    load(progress, QStringLiteral("phone"));

    EXPECT_EQ(progress.result(), 1);
    EXPECT_EQ(progress.endings(), 1);
    EXPECT_EQ(progress.successText(), QString());
    EXPECT_EQ(progress.statuses().value(0), QStringLiteral("Loading SMS from iPhone..."));
    EXPECT_EQ(progress.progressValues().value(0), 0);
    EXPECT_EQ(AppHomeFixture::readFile(unpacked("phone", "var/mobile/Library/SMS/sms.db")), smsDb);
    EXPECT_EQ(AppHomeFixture::readFile(unpacked("phone", "var/mobile/Library/AddressBook/AddressBook.sqlitedb")),
              addressBook);
    EXPECT_TRUE(QFileInfo(unpacked("phone", "var/mobile/Library/SMS/empty.db")).isFile());
    // The archive goes once everything in it is unpacked.
    EXPECT_FALSE(QFileInfo::exists(cachePath("phone", "file-relay.cpio")));
    EXPECT_TRUE(scenario.journalOf(QStringLiteral("phone")).contains(QStringLiteral("file_relay UserDatabases")));

    // Receiving shows the bytes so far with the bar near its end; unpacking
    // names each entry and leaves the bar where it is.
    bool received = false;
    QStringList extracting;
    for (const RecordingProgress::Post &p : progress.updates()) {
        if (p.progressText.startsWith(QLatin1String("Received:"))) {
            received = true;
            EXPECT_EQ(p.progress, 99);
        }
        if (p.text.startsWith(QLatin1String("Extracting "))) {
            EXPECT_EQ(p.progress, -1);
            extracting << p.text;
        }
    }
    EXPECT_TRUE(received);
    EXPECT_TRUE(extracting.contains(QStringLiteral("Extracting sms.db")));
    EXPECT_TRUE(extracting.contains(QStringLiteral("Extracting AddressBook.sqlitedb")));
}

TEST_F(IOSLoadFileRelayThreadTest, EntryNamesStayInsideTheOutputFolder)
{
    const struct
    {
        const char *name;
        const char *target; // nullptr: refused
    } cases[] = {
        {"./var/mobile/Library/SMS/sms.db", "var/mobile/Library/SMS/sms.db"},
        {"var/a.db", "var/a.db"},
        {"./", ""},
        {".", ""},
        {"", ""},
        {"./a:b?c*d\"e<f>g|h.db", "abcdefgh.db"},
        {"a//b/./c", "a/b/c"},
        {"a\\b", "a\\b"},
        {"..", nullptr},
        {"./../x", nullptr},
        {"var/../../x", nullptr},
        {"var/..", nullptr},
        {"/etc/passwd", nullptr},
        {"//etc/passwd", nullptr},
        {".:/../x", nullptr}, // the colon goes first, then the step up shows
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.target) {
            EXPECT_EQ(IOSLoadFileRelayThread::entryTargetName(QString::fromUtf8(c.name)), QString::fromUtf8(c.target));
        } else {
            EXPECT_THROW(IOSLoadFileRelayThread::entryTargetName(QString::fromUtf8(c.name)), std::runtime_error);
        }
    }
}

TEST_F(IOSLoadFileRelayThreadTest, CraftedArchives)
{
    const QByteArray big(300000, 'b');
    const QByteArray wellFormed = CpioArchive::write({CpioArchive::folder("./var"), CpioArchive::file("./var/big.db", big),
                                                      CpioArchive::file("./var/next.db", "next")});
    const qsizetype bigData = CpioArchive::dataOffset(wellFormed, "./var/big.db");
    ASSERT_GT(bigData, 0);
    const qsizetype nextHeader = wellFormed.indexOf("070701", bigData + big.size() - 8);
    ASSERT_GT(nextHeader, 0);

    const struct
    {
        const char *name;
        QByteArray archive;
        QStringList present; // relative to file-relay, with their content after '='
        QStringList absent;
        const char *error; // nullptr: success
    } cases[] = {
        {"a file before its folder",
         CpioArchive::write({CpioArchive::file("./var/mobile/Library/SMS/sms.db", "db")}),
         {"var/mobile/Library/SMS/sms.db=db"},
         {},
         nullptr},
        {"reserved characters leave the name",
         CpioArchive::write({CpioArchive::folder("./"), CpioArchive::file("./a:b?c.db", "abc")}),
         {"abc.db=abc"},
         {},
         nullptr},
        {"links and special files are skipped",
         CpioArchive::write({CpioArchive::folder("./var"),
                             CpioArchive::special("./var/link", Entry::Symlink, "/etc/passwd"),
                             CpioArchive::special("./var/fifo", Entry::Fifo),
                             CpioArchive::special("./var/tty", Entry::CharDevice),
                             CpioArchive::special("./var/socket", Entry::Socket),
                             CpioArchive::file("./var/keep.db", "keep")}),
         {"var/keep.db=keep"},
         {"var/link", "var/fifo", "var/tty", "var/socket"},
         nullptr},
        {"a file of no bytes", CpioArchive::write({CpioArchive::file("./empty.db", {})}), {"empty.db="}, {}, nullptr},
        {"a compressed archive",
         CpioArchive::write({CpioArchive::folder("./var"), CpioArchive::file("./var/z.db", "zipped")}, true),
         {"var/z.db=zipped"},
         {},
         nullptr},
        {"an empty stream", QByteArray(), {}, {"var"}, nullptr},
        {"a step up", CpioArchive::write({CpioArchive::file("./var/../../escape.db", "x")}), {}, {}, "outside its folder"},
        {"an absolute name", CpioArchive::write({CpioArchive::file("/abs.db", "x")}), {}, {}, "outside its folder"},
        {"cut inside a file", wellFormed.left(bigData + 1000), {}, {"var/next.db"}, "read "},
        {"cut inside a header", wellFormed.left(nextHeader + 50), {}, {"var/next.db"}, "read "},
        {"cut before its trailer", wellFormed.left(wellFormed.indexOf("TRAILER!!!") - 110), {}, {}, "read "},
        {"not an archive", QByteArray(2000, 'x'), {}, {}, "open "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir(cachePath("crafted")).removeRecursively());
        craft(c.archive);
        RecordingProgress progress;
        load(progress, QStringLiteral("crafted"));
        EXPECT_EQ(progress.endings(), 1);
        if (c.error) {
            EXPECT_EQ(progress.result(), 0);
            EXPECT_TRUE(progress.errorText().contains(QLatin1String(c.error))) << progress.errorText().toStdString();
            // What was received stays for a look.
            EXPECT_TRUE(QFileInfo(cachePath("crafted", "file-relay.cpio")).isFile());
        } else {
            EXPECT_EQ(progress.result(), 1) << progress.errorText().toStdString();
            EXPECT_FALSE(QFileInfo::exists(cachePath("crafted", "file-relay.cpio")));
        }
        for (const QString &p : c.present) {
            const QString path = p.section(QLatin1Char('='), 0, 0);
            EXPECT_TRUE(QFileInfo(unpacked("crafted", path)).isFile()) << path.toStdString();
            EXPECT_EQ(AppHomeFixture::readFile(unpacked("crafted", path)), p.section(QLatin1Char('='), 1).toUtf8());
        }
        for (const QString &path : c.absent)
            EXPECT_FALSE(QFileInfo(unpacked("crafted", path)).exists()) << path.toStdString();
        // Nothing ever lands beside the output folder or above the cache.
        EXPECT_FALSE(QFileInfo::exists(cachePath("crafted", "escape.db")));
        EXPECT_FALSE(QFileInfo::exists(appDataDir().absoluteFilePath(QStringLiteral("ios_cache/escape.db"))));
        EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/abs.db")));
    }
}

TEST_F(IOSLoadFileRelayThreadTest, AnEarlierLoadIsOverwrittenNotCleared)
{
    const QString db = unpacked("crafted", "var/mobile/Library/SMS/sms.db");
    const QString other = unpacked("crafted", "var/other.db");
    QDir().mkpath(QFileInfo(db).absolutePath());
    for (const QString &path : {db, other}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old contents, longer than the new");
    }
    craft(CpioArchive::write({CpioArchive::folder("./var"), CpioArchive::file("./var/mobile/Library/SMS/sms.db", "new", 1300000000)}));

    RecordingProgress progress;
    load(progress, QStringLiteral("crafted"));
    EXPECT_EQ(progress.result(), 1) << progress.errorText().toStdString();
    // The file keeps the time the archive gives it, for both times (looked
    // at before reading it moves the access time on).
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(db).constData(), &st), 0);
    EXPECT_EQ(st.st_atime, 1300000000);
    EXPECT_EQ(fileModifiedTime(db), 1300000000);
    EXPECT_EQ(AppHomeFixture::readFile(db), QByteArray("new"));
    EXPECT_EQ(AppHomeFixture::readFile(other), QByteArray("old contents, longer than the new"));
}

TEST_F(IOSLoadFileRelayThreadTest, ALinkInTheCacheFolderIsNotWrittenThrough)
{
    QTemporaryDir outside;
    QDir().mkpath(unpacked("crafted", QString()));
    ASSERT_TRUE(QFile::link(outside.path(), unpacked("crafted", "var")));
    craft(CpioArchive::write({CpioArchive::folder("./var"), CpioArchive::file("./var/sms.db", "x")}));

    RecordingProgress progress;
    load(progress, QStringLiteral("crafted"));
    EXPECT_EQ(progress.result(), 0);
    EXPECT_TRUE(progress.errorText().contains(QLatin1String("through the link"))) << progress.errorText().toStdString();
    EXPECT_TRUE(QDir(outside.path()).isEmpty());
}

TEST_F(IOSLoadFileRelayThreadTest, ProgressTextsOfSmallFiles)
{
    craft(CpioArchive::write({CpioArchive::file("./empty.db", {})}));
    RecordingProgress progress;
    load(progress, QStringLiteral("crafted"));
    ASSERT_EQ(progress.result(), 1);

    QStringList texts;
    for (const RecordingProgress::Post &p : progress.updates())
        texts << p.progressText;
    // Under 1024 bytes received shows 0; a file of no bytes shows its one
    // extraction text with both numbers 0.
    EXPECT_EQ(texts.count(QStringLiteral("Received:0KB")), 1);
    EXPECT_EQ(texts.count(QStringLiteral("Extracted: 0KB / 0KB")), 1);
    EXPECT_TRUE(progress.statuses().contains(QStringLiteral("Extracting empty.db")));
}

TEST_F(IOSLoadFileRelayThreadTest, ServiceFailuresWriteNothing)
{
    const struct
    {
        const char *id;
        const char *error;
    } cases[] = {
        {"nostart", "AMDeviceStartService"},
        {"denied", "Denied"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id);
        RecordingProgress progress;
        load(progress, QString::fromUtf8(c.id));
        EXPECT_EQ(progress.result(), 0);
        EXPECT_EQ(progress.endings(), 1);
        EXPECT_TRUE(progress.errorText().contains(QLatin1String(c.error))) << progress.errorText().toStdString();
        EXPECT_FALSE(QFileInfo::exists(cachePath(c.id, "file-relay.cpio")));
        EXPECT_FALSE(QFileInfo::exists(cachePath(c.id, "file-relay")));
    }
}

TEST_F(IOSLoadFileRelayThreadTest, AnIdentifierThatNamesNoSingleFolderIsRefused)
{
    for (const char *id : {"..", "", "a/b"}) {
        SCOPED_TRACE(id);
        IOSDevice d = device(QStringLiteral("phone"));
        d.uniqueDeviceId = QString::fromUtf8(id);
        RecordingProgress progress;
        IOSLoadFileRelayThread worker(&d, &progress);
        ASSERT_TRUE(progress.runWorker(worker));
        EXPECT_EQ(progress.result(), 0);
        EXPECT_TRUE(progress.errorText().contains(QLatin1String("cannot name a cache folder")));
    }
    EXPECT_FALSE(QFileInfo::exists(appDataDir().absoluteFilePath(QStringLiteral("file-relay.cpio"))));
    EXPECT_TRUE(scenario.journalOf(QStringLiteral("phone")).filter(QStringLiteral("file_relay")).isEmpty());
}

TEST_F(IOSLoadFileRelayThreadTest, ACancelStopsSilentlyAndTheNextLoadStartsAgain)
{
    // One chunk arrives (one check), then one check per entry and one per
    // chunk of a file.
    craft(CpioArchive::write({CpioArchive::folder("./var"), CpioArchive::file("./var/a.db", "aaa"),
                              CpioArchive::file("./var/b.db", "bbb")}));
    const struct
    {
        const char *name;
        int checks;
        const char *first; // what var/a.db holds afterwards; nullptr: absent
    } cases[] = {
        {"while receiving", 0, nullptr},
        {"before the first entry", 1, nullptr},
        {"inside the first file", 3, ""},
        {"before the second file", 5, "aaa"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir(cachePath("crafted")).removeRecursively());
        RecordingProgress progress;
        progress.cancelAfterChecks(c.checks);
        load(progress, QStringLiteral("crafted"));
        EXPECT_EQ(progress.endings(), 0);
        EXPECT_TRUE(QFileInfo(cachePath("crafted", "file-relay.cpio")).isFile());
        const QString first = unpacked("crafted", "var/a.db");
        EXPECT_EQ(QFileInfo(first).isFile(), c.first != nullptr);
        if (c.first) {
            EXPECT_EQ(AppHomeFixture::readFile(first), QByteArray(c.first));
        }
        EXPECT_FALSE(QFileInfo::exists(unpacked("crafted", "var/b.db")));
    }

    RecordingProgress again;
    load(again, QStringLiteral("crafted"));
    EXPECT_EQ(again.result(), 1);
    EXPECT_EQ(AppHomeFixture::readFile(unpacked("crafted", "var/b.db")), QByteArray("bbb"));
    EXPECT_EQ(scenario.journalOf(QStringLiteral("crafted")).count(QStringLiteral("file_relay UserDatabases")), 5);
}

} // namespace
