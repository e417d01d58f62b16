#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include <memory>

#include "../device/SimFramework.h"
#include "AbsIOSMessageDb.h"
#include "AppFolders.h"
#include "AppHomeFixture.h"
#include "BackupGenerator.h"
#include "IOS5DbFixture.h"
#include "IOS6MessageDb.h"
#include "IOS6SmsDbFixture.h"
#include "IOSDevice.h"
#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "MessageBoxAnswerer.h"
#include "MobileDeviceFramework.h"
#include "MyTreeView.h"
#include "ModalWatcher.h"
#include "OpenMainWindow.h"
#include "Sqlite3DB.h"
#include "TempBackupRoot.h"
#include "_ChatSessionItemNode.h"
#include "_IOSDeviceItemNode.h"
#include "_LocalDBItemNode.h"
#include "_RootDeviceItemNode.h"

namespace
{

using Node = AbsTreeItemModel::_ItemNode;

const QString kPasscodeNote = QStringLiteral("<p><b>Notes:</b> If your iPhone is protected with a passcode, please enter "
                                             "your passcode on iPhone first.</p>");
const QString kCountryNote = QStringLiteral("Failed to load country code from your phone. Please click \"OK\" button to "
                                            "select a country code manually.");

// An iOS 6 sms.db with one-to-one conversations of two messages each.
void writeIOS6Db(const QString &path, int conversations)
{
    IOS6SmsDbFixture sms(path, IOS6SmsDbFixture::Device);
    sms.begin();
    for (int i = 1; i <= conversations; ++i) {
        const QString number = QStringLiteral("+4915112345%1").arg(i, 3, 10, QLatin1Char('0'));
        const qint64 handle = sms.addHandle(number);
        const qint64 chat = sms.addChat(QStringLiteral("SMS;-;") + number, number);
        sms.joinChatHandle(chat, handle);
        sms.addMessage(chat, handle, QStringLiteral("in-%1").arg(i), QStringLiteral("Hello %1").arg(i), 400000000 + i * 100, 0);
        sms.addMessage(chat, handle, QStringLiteral("out-%1").arg(i), QStringLiteral("Reply %1").arg(i), 400000050 + i * 100, 1);
    }
    sms.commit();
}

// An iOS 5 sms.db (in a message source folder) with one conversation per
// number.
void writeIOS5Db(const QString &sourceFolder, const QStringList &numbers)
{
    IOS5DbFixture fx(sourceFolder);
    fx.begin();
    qint64 rowid = 10;
    for (int g = 1; g <= numbers.size(); ++g) {
        fx.addGroup(g, g, rowid);
        fx.addMember(g, g, numbers.at(g - 1), QStringLiteral("de"));
        IOS5DbFixture::Sms sms;
        sms.rowid = rowid++;
        sms.address = numbers.at(g - 1);
        sms.date = 1357000000 + g;
        sms.text = QStringLiteral("Hallo %1").arg(g);
        sms.groupId = g;
        fx.addSms(sms);
    }
    fx.commit();
}

QByteArray fileBytes(const QString &path)
{
    return AppHomeFixture::readFile(path);
}

struct PhoneSetup
{
    QString id;
    QString lockdownId; // the id the device gives, when not the scenario's
    QString version = QStringLiteral("6.1.3");
    QString mcc = QStringLiteral("262");
    QJsonObject results;
    QJsonObject fileRelay; // replaces the service's settings when not empty
    QJsonObject backup;    // merged into the backup settings
    bool cloudBackup = false;
};

PhoneSetup phone(const QString &id)
{
    PhoneSetup d;
    d.id = id;
    return d;
}

class DeviceArrivalTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
        // Device backups go to a folder of the test's own.
        ASSERT_TRUE(volume.isValid());
        AppHomeFixture::rememberTempBackupRoot(volume.path());
        boxes.setDefaultAnswer(QMessageBox::Ok);
    }
    void TearDown() override
    {
        window.reset();
        QCoreApplication::removeTranslator(&translator);
    }

    // Where a device's file_relay service and its backup take the device's
    // files from.
    QString relayFolder(const QString &id) const { return scenario.path(id + QStringLiteral("-relay")); }
    QString homeFolder(const QString &id) const { return scenario.path(id + QStringLiteral("-home")); }
    QString relaySmsDb(const QString &id) const { return relayFolder(id) + QStringLiteral("/var/mobile/Library/SMS/sms.db"); }
    QString homeSmsDb(const QString &id) const { return homeFolder(id) + QStringLiteral("/Library/SMS/sms.db"); }
    // The same iOS 6 database on both ways.
    void giveIOS6Db(const QString &id, int conversations) const
    {
        writeIOS6Db(relaySmsDb(id), conversations);
        QDir().mkpath(QFileInfo(homeSmsDb(id)).absolutePath());
        ASSERT_TRUE(QFile::copy(relaySmsDb(id), homeSmsDb(id)));
    }

    static QJsonObject deviceJson(const PhoneSetup &d)
    {
        QJsonObject relay = d.fileRelay;
        if (relay.isEmpty())
            relay = QJsonObject{{"sources", QJsonObject{{"UserDatabases", d.id + QStringLiteral("-relay")}}}};
        QJsonObject backup{{"domains", QJsonObject{{"HomeDomain", d.id + QStringLiteral("-home")}}}};
        for (auto it = d.backup.begin(); it != d.backup.end(); ++it)
            backup.insert(it.key(), it.value());
        return QJsonObject{
            {"id", d.id},
            {"values",
             QJsonObject{{"", QJsonObject{{"UniqueDeviceID", d.lockdownId.isEmpty() ? d.id : d.lockdownId},
                                          {"DeviceName", QStringLiteral("Phone ") + d.id},
                                          {"MobileSubscriberCountryCode", d.mcc},
                                          {"ProductVersion", d.version},
                                          {"ProductType", "iPhone5,2"}}},
                         {"com.apple.mobile.backup", QJsonObject{{"CloudBackupEnabled", d.cloudBackup}, {"WillEncrypt", false}}}}},
            {"results", d.results},
            {"services", QJsonObject{{"com.apple.mobile.file_relay", relay}}},
            {"backup", backup},
        };
    }

    // Writes the scenario, loads the simulated framework and opens the
    // window, which subscribes to the devices' events.
    void start(const QList<PhoneSetup> &devices, const QJsonArray &events = {})
    {
        QJsonArray list;
        for (const PhoneSetup &d : devices)
            list.append(deviceJson(d));
        QJsonObject s{{"devices", list}};
        if (!events.isEmpty())
            s.insert("events", events);
        scenario.write(s);
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
        window = std::make_unique<OpenMainWindow>();
    }

    QList<_IOSDeviceItemNode *> deviceNodes() const
    {
        QList<_IOSDeviceItemNode *> nodes;
        for (Node *n : window->mainModel()->deviceRoot()->children) {
            if (n->type == _IOSDeviceItemNode::Type)
                nodes.append(static_cast<_IOSDeviceItemNode *>(n));
        }
        return nodes;
    }
    QStringList deviceNames() const
    {
        QStringList names;
        for (const _IOSDeviceItemNode *n : deviceNodes())
            names.append(n->name);
        return names;
    }
    _IOSDeviceItemNode *nodeOf(const QString &id) const
    {
        for (_IOSDeviceItemNode *n : deviceNodes()) {
            if (n->device && n->device->uniqueDeviceId == id)
                return n;
        }
        return nullptr;
    }
    // Texts of the boxes shown so far, of one icon.
    QStringList boxTexts(int icon) const
    {
        QStringList texts;
        for (const MessageBoxAnswerer::Shown &s : boxes.shown()) {
            if (s.icon == icon)
                texts.append(s.text);
        }
        return texts;
    }
    int passcodeNotes() const { return int(boxTexts(QMessageBox::Information).count(kPasscodeNote)); }
    bool usedFileRelay(const QString &id) const
    {
        return scenario.journalOf(id).contains(QStringLiteral("file_relay UserDatabases"));
    }
    bool usedBackupTool(const QString &id) const
    {
        return !scenario.journal().filter(QStringLiteral("AppleMobileBackup -u %1 --backup").arg(id)).isEmpty();
    }
    // Waits until every arrival of the scenario has run its road: as many
    // passcode notes as arrivals, and no dialog or box left open.
    bool waitForRoads(int arrivals, int timeoutMs = 60000)
    {
        return QTest::qWaitFor(
            [&]() { return passcodeNotes() >= arrivals && !QApplication::activeModalWidget(); }, timeoutMs);
    }

    QTranslator translator;
    QTemporaryDir volume;
    SimScenarioFile scenario;
    MessageBoxAnswerer boxes;
    std::unique_ptr<OpenMainWindow> window;
};

TEST_F(DeviceArrivalTest, AnIOS6PhoneArrivesWithItsConversationsAndLeaves)
{
    giveIOS6Db(QStringLiteral("six"), 3);
    int copiedBeforeNote = -1;
    boxes.setInspector([&](QMessageBox &box) {
        if (box.text() == kPasscodeNote)
            copiedBeforeNote = int(scenario.journalOf(QStringLiteral("six")).filter(QStringLiteral("AMDeviceCopyValue")).size());
    });
    start({phone(QStringLiteral("six"))},
          QJsonArray{QJsonObject{{"after_ms", 0}, {"device", "six"}, {"message", 1}},
                     QJsonObject{{"after_ms", 12000}, {"device", "six"}, {"message", 2}}});

    ASSERT_TRUE(QTest::qWaitFor([&]() { return nodeOf(QStringLiteral("six")) != nullptr; }, 11000));
    _IOSDeviceItemNode *node = nodeOf(QStringLiteral("six"));
    // The user is asked for the passcode before anything is read.
    EXPECT_EQ(copiedBeforeNote, 0);
    EXPECT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(node->name, QStringLiteral("Phone six"));
    EXPECT_EQ(node->device->deviceName, QStringLiteral("Phone six"));
    EXPECT_EQ(node->device->mobileSubscriberCountryCode, QStringLiteral("262"));
    EXPECT_EQ(node->device->productVersion, QStringLiteral("6.1.3"));
    EXPECT_EQ(node->device->productType, QStringLiteral("iPhone5,2"));
    EXPECT_NE(node->device->handle, nullptr);
    EXPECT_EQ(node->children.size(), 3);
    for (const Node *child : node->children)
        EXPECT_EQ(child->type, _ChatSessionItemNode::Type);
    EXPECT_TRUE(usedFileRelay(QStringLiteral("six")));
    EXPECT_FALSE(usedBackupTool(QStringLiteral("six")));
    EXPECT_EQ(fileBytes(IOSDevice(*node->device).cacheDir().absoluteFilePath(QStringLiteral("file-relay/var/mobile/Library/SMS/sms.db"))),
              fileBytes(relaySmsDb(QStringLiteral("six"))));

    // The five values are read one after the other in one session, in
    // this order: no session ends or starts between them.
    const QStringList lockdown = scenario.journalOf(QStringLiteral("six"));
    qsizetype first = 0;
    while (first < lockdown.size() && !lockdown.at(first).startsWith(QLatin1String("AMDeviceCopyValue")))
        ++first;
    EXPECT_EQ(lockdown.mid(first, 5), (QStringList{QStringLiteral("AMDeviceCopyValue - UniqueDeviceID"),
                                                   QStringLiteral("AMDeviceCopyValue - DeviceName"),
                                                   QStringLiteral("AMDeviceCopyValue - MobileSubscriberCountryCode"),
                                                   QStringLiteral("AMDeviceCopyValue - ProductVersion"),
                                                   QStringLiteral("AMDeviceCopyValue - ProductType")}))
        << lockdown.join(QLatin1Char('\n')).toStdString();

    // The node becomes current and its conversation shows; when the phone
    // goes, so do its node and what the list showed of it.
    ASSERT_TRUE(QTest::qWaitFor([&]() { return window->currentNode() == node; }, 5000));
    window->makeCurrent(node->children.first());
    EXPECT_EQ(window->smsModel()->messages().size(), 2);
    ASSERT_TRUE(QTest::qWaitFor([&]() { return deviceNodes().isEmpty(); }, 20000));
    EXPECT_TRUE(window->smsModel()->messages().isEmpty());
}

TEST_F(DeviceArrivalTest, TheSystemVersionChoosesTheWay)
{
    const struct
    {
        const char *id;
        const char *version;
        bool fileRelay;
    } cases[] = {
        {"four", "4.3.5", false}, {"five", "5.0", true},    {"seven", "7.1.2", true},
        {"eight", "8.1", false},  {"none", "", true},       {"beta", "beta", true},
        {"nine", "9.3.5", false},
    };
    QList<PhoneSetup> devices;
    for (const auto &c : cases) {
        PhoneSetup d = phone(QString::fromUtf8(c.id));
        d.version = QString::fromUtf8(c.version);
        devices.append(d);
        giveIOS6Db(d.id, 1);
    }
    // All arrive at once; they are loaded one after the other, in order.
    start(devices);
    ASSERT_TRUE(QTest::qWaitFor([&]() { return deviceNodes().size() == int(std::size(cases)); }, 120000))
        << deviceNames().join(QLatin1Char(',')).toStdString();
    QStringList expectedNames;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id);
        const QString id = QString::fromUtf8(c.id);
        expectedNames << QStringLiteral("Phone ") + id;
        EXPECT_EQ(usedFileRelay(id), c.fileRelay);
        EXPECT_EQ(usedBackupTool(id), !c.fileRelay);
        ASSERT_NE(nodeOf(id), nullptr);
        EXPECT_EQ(nodeOf(id)->children.size(), 1);
    }
    EXPECT_EQ(deviceNames(), expectedNames);
    EXPECT_EQ(passcodeNotes(), int(std::size(cases)));
    EXPECT_TRUE(boxTexts(QMessageBox::Critical).isEmpty());
}

TEST_F(DeviceArrivalTest, APhoneOnIOS10OrLaterIsRefusedBeforeAnyBackup)
{
    giveIOS6Db(QStringLiteral("ten"), 1);
    giveIOS6Db(QStringLiteral("after"), 1);
    PhoneSetup ten = phone(QStringLiteral("ten"));
    ten.version = QStringLiteral("10.3.3");
    PhoneSetup after = phone(QStringLiteral("after"));
    start({ten, after});
    ASSERT_TRUE(QTest::qWaitFor([&]() { return nodeOf(QStringLiteral("after")) != nullptr; }, 60000));

    // The error names the phone's system before anything is backed up.
    const QStringList errors = boxTexts(QMessageBox::Critical);
    ASSERT_EQ(errors.size(), 1) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(errors.first().contains(QLatin1String("iOS 10.3.3"))) << errors.first().toStdString();
    EXPECT_FALSE(usedBackupTool(QStringLiteral("ten")));
    EXPECT_FALSE(usedFileRelay(QStringLiteral("ten")));
    EXPECT_EQ(deviceNames(), QStringList{QStringLiteral("Phone after")});
}

TEST_F(DeviceArrivalTest, AnUnknownCountryIsAskedFor)
{
    writeIOS5Db(scenario.path(QStringLiteral("five-src")), {QStringLiteral("+4915112345678")});
    giveIOS6Db(QStringLiteral("unknown"), 2);
    giveIOS6Db(QStringLiteral("known"), 1);
    PhoneSetup five = phone(QStringLiteral("five"));
    five.version = QStringLiteral("5.1.1");
    five.mcc = QString();
    five.fileRelay = QJsonObject{{"sources", QJsonObject{{"UserDatabases", "five-src/file-relay"}}}};
    PhoneSetup unknown = phone(QStringLiteral("unknown"));
    unknown.mcc = QStringLiteral("001");
    PhoneSetup known = phone(QStringLiteral("known"));

    QStringList countries{QStringLiteral("germany"), QStringLiteral("france")};
    ModalWatcher picker("CountrySelForm", [&](QWidget *dialog) {
        QTest::keyClicks(dialog->findChild<QLineEdit *>(QStringLiteral("txtKW")), countries.takeFirst());
        auto *list = dialog->findChild<QListWidget *>(QStringLiteral("ltCountries"));
        ASSERT_GE(list->count(), 1);
        list->setCurrentRow(0);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
    });
    // Per asking phone: the passcode note, the country note, and the
    // country dialog's confirmation.
    boxes.click(QMessageBox::Ok).click(QMessageBox::Ok).click(QMessageBox::Yes);
    boxes.click(QMessageBox::Ok).click(QMessageBox::Ok).click(QMessageBox::Yes);
    start({five, unknown, known});
    ASSERT_TRUE(QTest::qWaitFor([&]() { return deviceNodes().size() == 3; }, 60000));

    EXPECT_EQ(picker.handled(), 2);
    EXPECT_EQ(boxTexts(QMessageBox::Information).count(kCountryNote), 2);
    EXPECT_EQ(nodeOf(QStringLiteral("five"))->device->mobileSubscriberCountryCode, QStringLiteral("262"));
    EXPECT_EQ(nodeOf(QStringLiteral("unknown"))->device->mobileSubscriberCountryCode, QStringLiteral("208"));
    EXPECT_EQ(nodeOf(QStringLiteral("known"))->device->mobileSubscriberCountryCode, QStringLiteral("262"));
    // The iOS 5 database is read with its own reader.
    auto *db = dynamic_cast<AbsIOSMessageDb *>(nodeOf(QStringLiteral("five"))->db.data());
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->iosVersion(), 5);
    EXPECT_EQ(nodeOf(QStringLiteral("five"))->children.size(), 1);
    EXPECT_EQ(dynamic_cast<AbsIOSMessageDb *>(nodeOf(QStringLiteral("known"))->db.data())->iosVersion(), 6);
}

TEST_F(DeviceArrivalTest, ALaterPhoneArrivesThroughADeviceBackup)
{
    giveIOS6Db(QStringLiteral("eight"), 2);
    PhoneSetup eight = phone(QStringLiteral("eight"));
    eight.version = QStringLiteral("8.1");
    start({eight});
    ASSERT_TRUE(QTest::qWaitFor([&]() { return nodeOf(QStringLiteral("eight")) != nullptr; }, 60000));

    EXPECT_TRUE(usedBackupTool(QStringLiteral("eight")));
    EXPECT_FALSE(usedFileRelay(QStringLiteral("eight")));
    EXPECT_EQ(nodeOf(QStringLiteral("eight"))->children.size(), 2);
    const QDir cache = IOSDevice(*nodeOf(QStringLiteral("eight"))->device).cacheDir();
    EXPECT_EQ(fileBytes(cache.absoluteFilePath(QStringLiteral("file-relay/var/mobile/Library/SMS/sms.db"))),
              fileBytes(homeSmsDb(QStringLiteral("eight"))));
    // The device backup stays in the temporary root for the next time.
    EXPECT_TRUE(QFileInfo(volume.path() + QStringLiteral("/") + QLatin1String(kTempBackupFolderName)
                          + QStringLiteral("/eight/Manifest.mbdb"))
                    .isFile());
}

TEST_F(DeviceArrivalTest, ABackupThatICloudKeepsIsNotTaken)
{
    giveIOS6Db(QStringLiteral("cloudy"), 1);
    PhoneSetup cloudy = phone(QStringLiteral("cloudy"));
    cloudy.version = QStringLiteral("9.3");
    cloudy.cloudBackup = true;
    start({cloudy});
    ASSERT_TRUE(waitForRoads(1));
    QTest::qWait(200);

    EXPECT_TRUE(deviceNodes().isEmpty());
    EXPECT_FALSE(usedBackupTool(QStringLiteral("cloudy")));
    const QStringList warnings = boxTexts(QMessageBox::Warning);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.first().contains(QLatin1String("iCloud")));
    EXPECT_TRUE(boxTexts(QMessageBox::Critical).isEmpty());
}

TEST_F(DeviceArrivalTest, AnEncryptedBackupAsksForItsPassword)
{
    // A backup tool that hands over prepared encrypted backups.
    QTemporaryDir prepared;
    QTemporaryDir toolDir;
    QTemporaryDir dbDir;
    const QString dbPath = dbDir.filePath(QStringLiteral("sms.db"));
    writeIOS6Db(dbPath, 2);
    const QByteArray db = fileBytes(dbPath);
    for (const char *id : {"locked", "unlocked"}) {
        BackupGenerator::Options options;
        options.encrypted = true;
        options.uniqueId = QString::fromUtf8(id);
        options.productVersion = QStringLiteral("8.1");
        BackupGenerator::write(prepared.filePath(QString::fromUtf8(id)),
                               {BackupGenerator::folder(QStringLiteral("HomeDomain"), QStringLiteral("Library")),
                                BackupGenerator::folder(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS")),
                                BackupGenerator::file(QStringLiteral("HomeDomain"), QStringLiteral("Library/SMS/sms.db"), db)},
                               options);
    }
    const QString tool = toolDir.filePath(QStringLiteral("AppleMobileBackup"));
    {
        QFile script(tool);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nroot=\"\"; id=\"\"\n"
                     "while [ $# -gt 0 ]; do case \"$1\" in --root) root=\"$2\"; shift;; -u) id=\"$2\"; shift;; esac; shift; done\n"
                     "mkdir -p \"$root\" && rm -rf \"$root/$id\" && cp -R \""
                     + QFile::encodeName(prepared.path()) + "/$id\" \"$root/$id\"\n");
    }
    QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    PhoneSetup locked = phone(QStringLiteral("locked"));
    locked.version = QStringLiteral("8.1");
    PhoneSetup unlocked = phone(QStringLiteral("unlocked"));
    unlocked.version = QStringLiteral("8.1");
    int asked = 0;
    ModalWatcher passcode("PasscodeDlg", [&](QWidget *dialog) {
        // The first one is given up, the second one answered.
        if (asked++ == 0) {
            QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btnCancel")), Qt::LeftButton);
        } else {
            QTest::keyClicks(dialog->findChild<QLineEdit *>(QStringLiteral("txtPasscode")), QStringLiteral("secret"));
            QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
        }
    });
    start({locked, unlocked});
    // The libraries are loaded; from now on the tool is looked for here.
    qputenv(kMobileDeviceDirVariable, QFile::encodeName(toolDir.path()));

    ASSERT_TRUE(QTest::qWaitFor([&]() { return nodeOf(QStringLiteral("unlocked")) != nullptr; }, 60000));
    EXPECT_EQ(passcode.handled(), 2);
    EXPECT_EQ(nodeOf(QStringLiteral("locked")), nullptr);
    EXPECT_EQ(nodeOf(QStringLiteral("unlocked"))->children.size(), 2);
    EXPECT_TRUE(boxTexts(QMessageBox::Critical).isEmpty());
    EXPECT_TRUE(boxTexts(QMessageBox::Warning).isEmpty());
}

TEST_F(DeviceArrivalTest, FailuresAreShownAndAddNoNode)
{
    giveIOS6Db(QStringLiteral("denied"), 1);
    QDir().mkpath(QFileInfo(relaySmsDb(QStringLiteral("damaged"))).absolutePath());
    {
        QFile damaged(relaySmsDb(QStringLiteral("damaged")));
        ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
        damaged.write(QByteArray("no database here\n").repeated(100));
    }
    // The five tables of the iOS 6 schema, but none of their columns.
    QDir().mkpath(QFileInfo(relaySmsDb(QStringLiteral("bare"))).absolutePath());
    {
        Sqlite3DB bare;
        bare.openThrow(relaySmsDb(QStringLiteral("bare")), Sqlite3DB::ReadWriteCreate);
        QString error;
        ASSERT_EQ(bare.exec(QStringLiteral("create table chat(x); create table handle(x); create table "
                                           "chat_handle_join(x); create table message(x); create table "
                                           "chat_message_join(x);"),
                            error),
                  0)
            << error.toStdString();
    }
    giveIOS6Db(QStringLiteral("ok"), 1);

    // A device that calls itself "..": nothing may be written above ios_cache.
    PhoneSetup dots = phone(QStringLiteral("dots"));
    dots.lockdownId = QStringLiteral("..");
    PhoneSetup noSession = phone(QStringLiteral("nosession"));
    noSession.results = QJsonObject{{"AMDeviceStartSession", -5}};
    PhoneSetup denied = phone(QStringLiteral("denied"));
    denied.fileRelay = QJsonObject{{"sources", QJsonObject{{"UserDatabases", "denied-relay"}}},
                                   {"answer", QJsonObject{{"Status", "Denied"}}}};
    PhoneSetup damaged = phone(QStringLiteral("damaged"));
    PhoneSetup bare = phone(QStringLiteral("bare"));
    PhoneSetup ok = phone(QStringLiteral("ok"));
    start({dots, noSession, denied, damaged, bare, ok});
    ASSERT_TRUE(QTest::qWaitFor([&]() { return nodeOf(QStringLiteral("ok")) != nullptr; }, 60000));

    const QStringList errors = boxTexts(QMessageBox::Critical);
    ASSERT_EQ(errors.size(), 5) << errors.join(QStringLiteral("\n")).toStdString();
    EXPECT_TRUE(errors[0].contains(QLatin1String("cannot name a cache folder"))) << errors[0].toStdString();
    EXPECT_TRUE(errors[1].contains(QLatin1String("Please restart your iPhone and computer"))) << errors[1].toStdString();
    EXPECT_TRUE(errors[2].contains(QLatin1String("Denied"))) << errors[2].toStdString();
    EXPECT_FALSE(errors[3].contains(QLatin1String("line:404"))) << errors[3].toStdString();
    EXPECT_TRUE(errors[4].contains(QLatin1String(", line:404"))) << errors[4].toStdString();
    EXPECT_FALSE(usedFileRelay(QStringLiteral("dots")));
    EXPECT_FALSE(QFileInfo::exists(appDataDir().absoluteFilePath(QStringLiteral("file-relay"))));
    // Only the database whose conversations could not be read keeps its
    // node, empty.
    EXPECT_EQ(deviceNames(), (QStringList{QStringLiteral("Phone bare"), QStringLiteral("Phone ok")}));
    EXPECT_TRUE(nodeOf(QStringLiteral("bare"))->children.isEmpty());
    EXPECT_EQ(nodeOf(QStringLiteral("ok"))->children.size(), 1);
}

TEST_F(DeviceArrivalTest, ACancelledBackupEndsTheRoadQuietly)
{
    giveIOS6Db(QStringLiteral("slow"), 1);
    giveIOS6Db(QStringLiteral("after"), 1);
    PhoneSetup slow = phone(QStringLiteral("slow"));
    slow.version = QStringLiteral("8.1");
    slow.backup = QJsonObject{{"duration_ms", 30000}};
    PhoneSetup after = phone(QStringLiteral("after"));
    // The first stage dialog is cancelled, once the backup tool runs for the
    // first phone: on a busy machine it may start only after a while.
    ModalWatcher canceller("ProgressForm", [this](QWidget *dialog) {
        static bool cancelled = false;
        if (cancelled)
            return;
        cancelled = true;
        auto *cancel = dialog->findChild<QPushButton *>(QStringLiteral("btnCancel"));
        auto *poll = new QTimer(cancel);
        QObject::connect(poll, &QTimer::timeout, cancel, [this, poll, cancel]() {
            if (!usedBackupTool(QStringLiteral("slow")))
                return;
            poll->stop();
            QTest::mouseClick(cancel, Qt::LeftButton);
        });
        poll->start(50);
    });
    start({slow, after});
    // The road ends without a box, and the next phone is loaded.
    ASSERT_TRUE(QTest::qWaitFor([&]() { return nodeOf(QStringLiteral("after")) != nullptr; }, 60000));
    EXPECT_EQ(deviceNames(), QStringList{QStringLiteral("Phone after")});
    EXPECT_TRUE(usedBackupTool(QStringLiteral("slow")));
    // Stopped, not run to its end.
    EXPECT_TRUE(scenario.journal().filter(QStringLiteral("AppleMobileBackup finished")).isEmpty());
    EXPECT_TRUE(boxTexts(QMessageBox::Critical).isEmpty());
}

TEST_F(DeviceArrivalTest, APhoneThatLeavesOnTheWayGetsNoNode)
{
    giveIOS6Db(QStringLiteral("fleeting"), 1);
    // The passcode note stays open until the phone has gone.
    boxes.setInspector([&](QMessageBox &box) {
        if (box.text() == kPasscodeNote)
            QTest::qWait(1500);
    });
    start({phone(QStringLiteral("fleeting"))},
          QJsonArray{QJsonObject{{"after_ms", 0}, {"device", "fleeting"}, {"message", 1}},
                     QJsonObject{{"after_ms", 300}, {"device", "fleeting"}, {"message", 2}}});
    ASSERT_TRUE(waitForRoads(1));
    QTest::qWait(300);
    EXPECT_TRUE(deviceNodes().isEmpty());
    EXPECT_TRUE(boxTexts(QMessageBox::Critical).isEmpty());
    EXPECT_FALSE(usedFileRelay(QStringLiteral("fleeting")));
}

TEST_F(DeviceArrivalTest, APhoneThatLeavesDuringItsBackupEndsItAtOnceAndQuietly)
{
    giveIOS6Db(QStringLiteral("gone"), 1);
    PhoneSetup gone = phone(QStringLiteral("gone"));
    gone.version = QStringLiteral("8.1");
    gone.backup = QJsonObject{{"duration_ms", 30000}};
    // Unplugged while its backup runs: the backup stage starts as soon as the
    // passcode note is answered.
    bool backupRunning = false;
    ModalWatcher watcher("ProgressForm", [&](QWidget *) { backupRunning = true; });
    QElapsedTimer clock;
    clock.start();
    start({gone}, QJsonArray{QJsonObject{{"after_ms", 0}, {"device", "gone"}, {"message", 1}},
                             QJsonObject{{"after_ms", 3000}, {"device", "gone"}, {"message", 2}}});
    ASSERT_TRUE(waitForRoads(1));
    ASSERT_TRUE(QTest::qWaitFor([&]() { return backupRunning && !QApplication::activeModalWidget(); }, 20000));
    // Not the tool's thirty seconds: the stage ended when the phone went.
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_TRUE(deviceNodes().isEmpty());
    EXPECT_TRUE(boxTexts(QMessageBox::Critical).isEmpty());
    EXPECT_TRUE(usedBackupTool(QStringLiteral("gone")));
}

// Removal and unmounting, on nodes put into the tree directly.
class DeviceRemovalTest : public ::testing::Test
{
public:
    _IOSDeviceItemNode *addDevice(const QString &name, void *handle, int conversations = 1)
    {
        const QDir folder = AppHomeFixture::addStoredDevice(name, conversations);
        auto device = QSharedPointer<IOSDevice>::create();
        device->deviceName = name;
        device->uniqueDeviceId = folder.absolutePath();
        device->handle = handle;
        auto *db = new IOS6MessageDb(folder, QString(), true);
        _IOSDeviceItemNode *node = window.mainModel()->addDevice(QSharedPointer<AbsMessageDb>(db), device, name);
        db->chats(node->dataSet);
        window.mainModel()->loadChatSessions(node);
        return node;
    }
    QStringList names() const
    {
        QStringList list;
        for (const Node *n : window.mainModel()->deviceRoot()->children)
            list << n->name;
        return list;
    }
    void disconnect(void *handle) { ASSERT_TRUE(QMetaObject::invokeMethod(&window, "iosDeviceDisconnected", Q_ARG(void *, handle))); }
    void unmount() { ASSERT_TRUE(QMetaObject::invokeMethod(&window, "miUnmoutDevice")); }

    int h1 = 0, h2 = 0, h3 = 0;
    OpenMainWindow window;
};

TEST_F(DeviceRemovalTest, OnlyTheFirstNodeOfTheHandleGoes)
{
    const struct
    {
        const char *name;
        void *handle;
        QStringList left;
    } cases[] = {
        {"a handle listed twice", &h1, {"b", "c", "stored"}},
        {"a handle nobody has", &h3, {"a", "b", "c", "stored"}},
        {"no handle", nullptr, {"a", "b", "c", "stored"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        window.mainModel()->removeChildren(window.mainModel()->deviceRoot());
        addDevice(QStringLiteral("a"), &h1);
        addDevice(QStringLiteral("b"), &h2);
        addDevice(QStringLiteral("c"), &h1);
        addDevice(QStringLiteral("stored"), nullptr);
        disconnect(c.handle);
        EXPECT_EQ(names(), c.left);
    }
}

TEST_F(DeviceRemovalTest, TheListLetsGoOfARemovedPhonesMessages)
{
    _IOSDeviceItemNode *a = addDevice(QStringLiteral("a"), &h1, 2);
    _IOSDeviceItemNode *b = addDevice(QStringLiteral("b"), &h2, 2);
    window.makeCurrent(b->children.first());
    ASSERT_EQ(window.smsModel()->messages().size(), 2);
    // Another phone going leaves the list as it is.
    disconnect(&h1);
    EXPECT_EQ(window.smsModel()->messages().size(), 2);
    Q_UNUSED(a);
    disconnect(&h2);
    EXPECT_TRUE(window.smsModel()->messages().isEmpty());
    EXPECT_TRUE(names().isEmpty());
}

TEST_F(DeviceRemovalTest, UnmountingForgetsTheCurrentDeviceOnly)
{
    const struct
    {
        const char *name;
        std::function<Node *(DeviceRemovalTest &)> current;
        QStringList left;
    } cases[] = {
        {"a phone", [](DeviceRemovalTest &t) { return t.window.mainModel()->deviceRoot()->children.at(0); }, {"s1", "s2"}},
        {"the second stored device",
         [](DeviceRemovalTest &t) { return t.window.mainModel()->deviceRoot()->children.at(2); },
         {"a", "s1"}},
        {"a conversation of a phone",
         [](DeviceRemovalTest &t) { return t.window.mainModel()->deviceRoot()->children.at(0)->children.at(0); },
         {"a", "s1", "s2"}},
        {"the device root", [](DeviceRemovalTest &t) { return t.window.mainModel()->deviceRoot(); }, {"a", "s1", "s2"}},
        {"nothing current", [](DeviceRemovalTest &) { return nullptr; }, {"a", "s1", "s2"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        window.mainModel()->removeChildren(window.mainModel()->deviceRoot());
        addDevice(QStringLiteral("a"), &h1);
        addDevice(QStringLiteral("s1"), nullptr);
        addDevice(QStringLiteral("s2"), nullptr);
        Node *current = c.current(*this);
        if (current)
            window.makeCurrent(current);
        else
            window.sourceTree()->setCurrentIndex(QModelIndex());
        unmount();
        EXPECT_EQ(names(), c.left);
    }
}

// The six data actions as the window shows them, and as the rule gives them
// for the tree the window holds.
QList<bool> shownActions(const OpenMainWindow &w)
{
    return {w.backupAction()->isEnabled(), w.i2iAction()->isEnabled(), w.db2iAction()->isEnabled(),
            w.exportAction()->isEnabled(), w.printAction()->isEnabled(), w.deleteAction()->isEnabled()};
}

QList<bool> ruleActions(const OpenMainWindow &w, const Node *current)
{
    const Node *source = current && current->type == _ChatSessionItemNode::Type ? current->parent : current;
    const int type = source && (source->type == _IOSDeviceItemNode::Type || source->type == _LocalDBItemNode::Type)
                         ? source->type
                         : 0;
    const MainWindow::DataActions a = MainWindow::dataActionsFor(type, w.deviceCount());
    return {a.backup, a.i2i, a.db2i, a.exportFile, a.print, a.del};
}

TEST_F(DeviceRemovalTest, TheActionsFollowTheTreeLeftByARemoval)
{
    const struct
    {
        const char *name;
        bool unplug; // else "Disconnect Device" on the current phone
        bool currentGoes;
    } cases[] = {
        {"the current phone unplugged", true, true},
        {"the current phone disconnected", false, true},
        {"another phone unplugged", true, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        window.mainModel()->removeChildren(window.mainModel()->deviceRoot());
        _IOSDeviceItemNode *a = addDevice(QStringLiteral("a"), &h1);
        _IOSDeviceItemNode *b = addDevice(QStringLiteral("b"), &h2);
        window.makeCurrent(c.currentGoes ? a : b);
        ASSERT_TRUE(window.i2iAction()->isEnabled());

        if (!c.unplug) {
            window.onMenu = [](QMenu &menu) {
                for (QAction *entry : menu.actions()) {
                    if (entry->text() == QLatin1String("Disconnect Device"))
                        entry->trigger();
                }
            };
            window.onMainTreeContextMenu();
            window.onMenu = nullptr;
        } else {
            disconnect(&h1);
        }

        ASSERT_EQ(names(), QStringList{"b"});
        EXPECT_EQ(window.deviceCount(), 1);
        EXPECT_FALSE(window.i2iAction()->isEnabled());
        EXPECT_EQ(shownActions(window), ruleActions(window, window.currentNode()));
    }
}

} // namespace
