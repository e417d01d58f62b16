#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTranslator>

#include <gtest/gtest.h>

#include <memory>

#include "../device/SimFramework.h"
#include "AppFolders.h"
#include "AppHomeFixture.h"
#include "BackupGenerator.h"
#include "CaseName.h"
#include "DataSourceSelForm.h"
#include "DbInspect.h"
#include "DialogSteps.h"
#include "IOS5DbFixture.h"
#include "IOS5MessageDb.h"
#include "IOS6MessageDb.h"
#include "IOS6SmsDbFixture.h"
#include "IOSDevice.h"
#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "LoadItunesBackupDlg.h"
#include "MainWindowProbe.h"
#include "MessageBoxAnswerer.h"
#include "PrivateModes.h"
#include "ModalDialogDriver.h"
#include "SampleBackups.h"
#include "SampleLocalDb.h"
#include "ServiceUrlScope.h"
#include "_ChatSessionItemNode.h"
#include "_IOSDeviceItemNode.h"
#include "_LocalDBItemNode.h"
#include "_RootDeviceItemNode.h"

namespace
{

using Node = AbsTreeItemModel::_ItemNode;
using DialogSteps::chooseSource;
using DialogSteps::loadBackup;

const char kSmsDb[] = "file-relay/var/mobile/Library/SMS/sms.db";
const QString kHelpHost = QStringLiteral("http://help.example.test");
const QString kTips = QStringLiteral(
    "Notes:<br/>\n"
    "1) If your iPhone is protected with a passcode, please enter your passcode on iPhone first.<br/>\n"
    "2) Please make sure you've turned off \"iCloud Backup\" on your iPhone.<br/>\n"
    "3) \"Find My iPhone\" must be disabled before restoring. Check <a "
    "href=\"http://help.example.test/guides/how-to-disable-find-my-iphone.html\">detail</a>.");
const QString kPadQuestion = QStringLiteral("You can transfer iMessage only to an iPad/iPod. Want to continue?");
const QString kOnlyIOS6 = QStringLiteral("Failed to recover. Only iOS 6 or above is supported.");
const QString kEncrypted =
    QStringLiteral("Failed to export SMS to iTunes backup because your current iTunes backup is encrypted.");

QString recovered(int n)
{
    return QStringLiteral("Successfully recovered %1 SMS to iPhone.").arg(n);
}

// A phone's own sms.db: one conversation per number, a received and a sent
// message in each, guids "<tag>-<i>-in" and "<tag>-<i>-out".
void writePhoneDb(const QString &path, const QString &tag, int conversations)
{
    IOS6SmsDbFixture sms(path, IOS6SmsDbFixture::Device);
    sms.begin();
    for (int i = 1; i <= conversations; ++i) {
        const QString number = QStringLiteral("+49151%1%2").arg(tag.size()).arg(i, 5, 10, QLatin1Char('0'));
        const qint64 handle = sms.addHandle(number);
        const qint64 chat = sms.addChat(QStringLiteral("SMS;-;") + number, number);
        sms.joinChatHandle(chat, handle);
        sms.addMessage(chat, handle, QStringLiteral("%1-%2-in").arg(tag).arg(i), QStringLiteral("Hi %1").arg(i),
                       400000000 + i * 100, 0);
        sms.addMessage(chat, handle, QStringLiteral("%1-%2-out").arg(tag).arg(i), QStringLiteral("Yo %1").arg(i),
                       400000050 + i * 100, 1);
    }
    sms.commit();
}

// The sample database's conversation with +15550000001 (the other one is
// the group "Weekend").
Node *smsConversation(Node *database)
{
    for (Node *n : database->children) {
        if (n->name != QLatin1String("Weekend"))
            return n;
    }
    return nullptr;
}

QStringList guidsOf(const QString &smsDb)
{
    QStringList guids = queryRows(smsDb, QStringLiteral("select guid from message"));
    guids.sort();
    return guids;
}

// Every file below a folder with a digest of its bytes.
QStringList folderDigest(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        out.append(QDir(root).relativeFilePath(path) + QLatin1Char(' ') + QString::fromLatin1(fileDigest(path).toHex()));
    }
    out.sort();
    return out;
}

struct Phone
{
    QString id;
    QString productType = QStringLiteral("iPhone5,2");
    bool ios5 = false;
    bool cloudBackup = false;
    int conversations = 1;
    QString tag; // of the guids of its messages; the id when empty
    int toolMs = 0; // how long each backup and restore of it takes
};

Phone phone(const QString &id)
{
    Phone p;
    p.id = id;
    return p;
}

class TransferToPhoneTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
        // Device backups go to a folder of the test's own.
        ASSERT_TRUE(volume.isValid());
        AppHomeFixture::rememberTempBackupRoot(volume.path());
    }
    void TearDown() override
    {
        EXPECT_EQ(driver.pendingSteps(), 0) << "dialogs that never came";
        EXPECT_TRUE(driver.unexpected().isEmpty()) << driver.unexpected().join(',').toStdString();
        EXPECT_EQ(boxes.pendingAnswers(), 0) << "boxes that never came";
        window.reset();
        QCoreApplication::removeTranslator(&translator);
    }

    // Opens the window (which then lists the local databases) and, when
    // phones are given, connects them: each gets a node with the messages
    // of its own sms.db, as an arrival would leave it. The window is built
    // before the framework loads so that it does not run arrivals itself.
    void start(const QList<Phone> &phones)
    {
        window = std::make_unique<MainWindowProbe>();
        if (phones.isEmpty())
            return;
        QJsonArray devices;
        for (const Phone &p : phones) {
            const QString home = p.id + QStringLiteral("-home");
            writePhoneDb(scenario.path(home + QStringLiteral("/Library/SMS/sms.db")), p.tag.isEmpty() ? p.id : p.tag,
                         p.conversations);
            devices.append(QJsonObject{
                {"id", p.id},
                {"values",
                 QJsonObject{{"", QJsonObject{{"UniqueDeviceID", p.id},
                                              {"DeviceName", QStringLiteral("Phone ") + p.id},
                                              {"MobileSubscriberCountryCode", "262"},
                                              {"ProductVersion", p.ios5 ? "5.1.1" : "6.1.3"},
                                              {"ProductType", p.productType}}},
                             {"com.apple.mobile.backup",
                              QJsonObject{{"CloudBackupEnabled", p.cloudBackup}, {"WillEncrypt", false}}}}},
                {"backup", QJsonObject{{"domains", QJsonObject{{"HomeDomain", home}}},
                                       {"restore_into", p.id + QStringLiteral("-restored")},
                                       {"duration_ms", p.toolMs}}},
            });
        }
        scenario.write(QJsonObject{{"devices", devices}});
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
        const QList<void *> handles = subscribeAndWait(receiver, int(phones.size()));
        ASSERT_EQ(handles.size(), phones.size());
        for (qsizetype i = 0; i < phones.size(); ++i)
            addPhoneNode(phones.at(i), handles.at(i));
    }

    void addPhoneNode(const Phone &p, void *handle)
    {
        auto device = QSharedPointer<IOSDevice>::create();
        device->uniqueDeviceId = p.id;
        device->deviceName = QStringLiteral("Phone ") + p.id;
        device->mobileSubscriberCountryCode = QStringLiteral("262");
        device->productVersion = p.ios5 ? QStringLiteral("5.1.1") : QStringLiteral("6.1.3");
        device->productType = p.productType;
        device->handle = handle;
        const QDir cacheDir(caches.filePath(p.id));
        QSharedPointer<AbsMessageDb> db;
        if (p.ios5) {
            IOS5DbFixture fx(cacheDir.absolutePath());
            fx.addGroup(1, 1, 1);
            fx.addMember(1, 1, QStringLiteral("+4915100000001"), QStringLiteral("de"));
            IOS5DbFixture::Sms sms;
            sms.rowid = 1;
            sms.groupId = 1;
            sms.address = QStringLiteral("+4915100000001");
            sms.text = QStringLiteral("Hallo");
            sms.date = 1357000000;
            fx.addSms(sms);
            db.reset(new IOS5MessageDb(cacheDir, device->mobileSubscriberCountryCode));
        } else {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(cacheDir.absoluteFilePath(kSmsDb)).absolutePath()));
            ASSERT_TRUE(QFile::copy(scenario.path(p.id + QStringLiteral("-home/Library/SMS/sms.db")),
                                    cacheDir.absoluteFilePath(kSmsDb)));
            db.reset(new IOS6MessageDb(cacheDir, device->mobileSubscriberCountryCode, false));
        }
        _IOSDeviceItemNode *node = window->mainModel()->addDevice(db, device, device->deviceName);
        db->chats(node->dataSet);
        window->mainModel()->loadChatSessions(node);
    }

    _IOSDeviceItemNode *phoneNode(const QString &id) const
    {
        for (Node *n : window->mainModel()->deviceRoot()->children) {
            auto *d = static_cast<_IOSDeviceItemNode *>(n);
            if (d->device && d->device->uniqueDeviceId == id)
                return d;
        }
        return nullptr;
    }
    _LocalDBItemNode *localDb(const QString &name) const { return window->findLocalDb(name); }

    QString restoredSmsDb(const QString &id) const
    {
        return scenario.path(id + QStringLiteral("-restored/HomeDomain/Library/SMS/sms.db"));
    }
    QStringList toolRuns() const { return scenario.journal().filter(QStringLiteral("AppleMobileBackup -u")); }

    QStringList boxTexts() const
    {
        QStringList texts;
        for (const MessageBoxAnswerer::Shown &s : boxes.shown())
            texts.append(s.text);
        return texts;
    }

    QTranslator translator;
    ServiceUrlScope url{kHelpHost};
    QTemporaryDir volume;
    QTemporaryDir caches;
    SimScenarioFile scenario;
    DeviceReceiver receiver;
    MessageBoxAnswerer boxes;
    ModalDialogDriver driver;
    std::unique_ptr<MainWindowProbe> window;
};

// --- to another phone ----------------------------------------------------------------

TEST_F(TransferToPhoneTest, APhonesMessagesReachAnotherPhoneThroughItsRestoredBackup)
{
    Phone source = phone(QStringLiteral("src"));
    source.conversations = 2;
    start({source, phone(QStringLiteral("dst"))});
    window->makeCurrent(phoneNode(QStringLiteral("src")));

    QStringList offered;
    driver.then<DataSourceSelForm>(chooseSource(&offered, QStringLiteral("Phone dst")));
    boxes.click(QMessageBox::Yes).click(QMessageBox::Ok);
    window->invoke("miI2IAll");

    EXPECT_EQ(offered, QStringList{"Phone dst"});
    EXPECT_EQ(boxTexts(), (QStringList{kTips, recovered(4)}));
    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Question);
    EXPECT_EQ(boxes.shown()[1].icon, QMessageBox::Information);
    // The target was backed up and that backup, merged, restored to it.
    const QStringList runs = toolRuns();
    ASSERT_EQ(runs.size(), 2) << runs.join('\n').toStdString();
    EXPECT_TRUE(runs[0].contains(QStringLiteral("-u dst --backup --target dst --root ") + volume.path()));
    EXPECT_TRUE(runs[1].contains(QStringLiteral("-u dst --restore --target dst --root ") + volume.path()));
    EXPECT_EQ(guidsOf(restoredSmsDb(QStringLiteral("dst"))),
              (QStringList{"dst-1-in", "dst-1-out", "src-1-in", "src-1-out", "src-2-in", "src-2-out"}));
    // The source phone is not written to; nothing is reloaded.
    EXPECT_FALSE(QFileInfo::exists(restoredSmsDb(QStringLiteral("src"))));
    EXPECT_EQ(window->mainModel()->deviceRoot()->children.size(), 2);
    // What is left of the phone on the computer, its whole backup merged and
    // the messages taken from it, is the user's alone.
    EXPECT_EQ(notPrivateEntries(QDir(volume.path()).filePath(QStringLiteral("__quenmarvile_iosbk_temp"))), "");
    EXPECT_EQ(notPrivateEntries(appDataDir().filePath(QStringLiteral("itunes_cache"))), "");
}

TEST_F(TransferToPhoneTest, MessagesThePhoneHasAlreadyLeaveItsBackupAsItWasAndItIsNotRestored)
{
    // Two phones with the same messages.
    Phone source = phone(QStringLiteral("src"));
    source.tag = QStringLiteral("same");
    Phone target = phone(QStringLiteral("dst"));
    target.tag = QStringLiteral("same");
    start({source, target});
    window->makeCurrent(phoneNode(QStringLiteral("src")));

    driver.then<DataSourceSelForm>(chooseSource(nullptr, QStringLiteral("Phone dst")));
    boxes.click(QMessageBox::Yes).click(QMessageBox::Ok);
    window->invoke("miI2IAll");

    EXPECT_EQ(boxTexts(), (QStringList{kTips, recovered(2)}));
    // Backed up, found to hold every message, and left alone.
    const QStringList runs = toolRuns();
    ASSERT_EQ(runs.size(), 1) << runs.join('\n').toStdString();
    EXPECT_TRUE(runs[0].contains(QStringLiteral("-u dst --backup")));
    EXPECT_FALSE(QFileInfo::exists(restoredSmsDb(QStringLiteral("dst"))));
    const QString backupFolder = QDir(volume.path()).filePath(QStringLiteral("__quenmarvile_iosbk_temp/dst"));
    EXPECT_EQ(QDir(backupFolder).entryList({QStringLiteral("*-*")}, QDir::Files), QStringList())
        << "no file was replaced and kept";
}

TEST_F(TransferToPhoneTest, MessagesAnITunesBackupHasAlreadyLeaveItAsItWas)
{
    SampleLocalDb::write(QStringLiteral("Archive"));
    const QString folder = SampleBackups::writeItunesBackup(
        QStringLiteral("b1"), SampleBackups::smsDbFiles(SampleBackups::ios6SmsDb(1)));
    start({});
    window->makeCurrent(localDb(QStringLiteral("Archive")));
    driver.then<LoadItunesBackupDlg>(loadBackup(folder));
    boxes.click(QMessageBox::Ok);
    window->invoke("miExport2iTunesAll");
    ASSERT_EQ(boxTexts(), QStringList{recovered(5)});
    const QStringList merged = folderDigest(folder);

    // The same messages again: they are all there.
    driver.then<LoadItunesBackupDlg>(loadBackup(folder));
    boxes.click(QMessageBox::Ok);
    window->invoke("miExport2iTunesAll");
    EXPECT_EQ(boxTexts(), (QStringList{recovered(5), recovered(5)}));
    EXPECT_EQ(folderDigest(folder), merged);
}

// Tells the window that a phone has left as the stage dialog of the given
// number (1 for the first) comes up: queued, as the device framework's
// notices come, so that the window hears it inside that dialog's loop.
class LeavesAtStage : public QObject
{
public:
    LeavesAtStage(QObject *window, void *device, int stage)
        : m_window(window)
        , m_device(device)
        , m_stage(stage)
    {
        qApp->installEventFilter(this);
    }
    ~LeavesAtStage() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->inherits("ProgressForm") && ++m_shown == m_stage)
            QMetaObject::invokeMethod(m_window, "iosDeviceDisconnected", Qt::QueuedConnection,
                                      Q_ARG(void *, m_device));
        return false;
    }

private:
    QObject *m_window;
    void *m_device;
    int m_stage;
    int m_shown = 0;
};

struct LeavingCase
{
    const char *name;
    int stage;        // the stage during which the phone leaves; 0: while the notes are read
    bool slowTool;    // the phone's backup and restore take long enough to be left in the middle
};

void PrintTo(const LeavingCase &c, std::ostream *os)
{
    *os << c.name;
}

class TransferLeavingTest : public TransferToPhoneTest, public ::testing::WithParamInterface<LeavingCase>
{
};

TEST_P(TransferLeavingTest, APhoneThatLeavesEndsTheTransferWithAnErrorNamingIt)
{
    const LeavingCase &c = GetParam();
    Phone target = phone(QStringLiteral("dst"));
    if (c.slowTool)
        target.toolMs = 2000;
    start({phone(QStringLiteral("src")), target});
    void *handle = phoneNode(QStringLiteral("dst"))->device->handle;
    window->makeCurrent(phoneNode(QStringLiteral("src")));
    driver.then<DataSourceSelForm>(chooseSource(nullptr, QStringLiteral("Phone dst")));
    boxes.click(QMessageBox::Yes).click(QMessageBox::Ok);
    if (c.stage == 0) {
        boxes.setInspector([&](QMessageBox &box) {
            if (box.text() == kTips)
                QMetaObject::invokeMethod(window.get(), "iosDeviceDisconnected", Q_ARG(void *, handle));
        });
    }
    LeavesAtStage leaves(window.get(), handle, c.stage);

    window->invoke("miI2IAll");

    // No success, and the phone named in the one error.
    ASSERT_EQ(boxes.shown().size(), 2) << boxTexts().join('\n').toStdString();
    EXPECT_EQ(boxes.shown()[0].text, kTips);
    EXPECT_EQ(boxes.shown()[1].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.shown()[1].text.contains(
        QStringLiteral("\"Phone dst\" was disconnected, so the transfer to it was not finished.")))
        << boxes.shown()[1].text.toStdString();
    // The tool may or may not have begun the stage that was left; no later
    // one began.
    const QStringList runs = toolRuns();
    if (c.stage == 0) {
        EXPECT_TRUE(runs.isEmpty()) << runs.join('\n').toStdString();
    }
    if (c.stage < 4) {
        EXPECT_TRUE(runs.filter(QStringLiteral("--restore")).isEmpty()) << runs.join('\n').toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(restoredSmsDb(QStringLiteral("dst"))));
    EXPECT_EQ(phoneNode(QStringLiteral("dst")), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, TransferLeavingTest,
                         ::testing::Values(LeavingCase{"WhileTheNotesAreRead", 0, false},
                                           LeavingCase{"DuringTheBackup", 1, true},
                                           LeavingCase{"DuringTheMessageCache", 2, false},
                                           LeavingCase{"DuringTheMerge", 3, false},
                                           LeavingCase{"DuringTheRestore", 4, true}),
                         CaseName());

TEST_F(TransferToPhoneTest, FromADatabaseEveryPhoneIsOfferedAndOneConversationGoes)
{
    SampleLocalDb::write(QStringLiteral("Archive"));
    start({phone(QStringLiteral("one")), phone(QStringLiteral("two"))});
    _LocalDBItemNode *archive = localDb(QStringLiteral("Archive"));
    ASSERT_NE(archive, nullptr);
    window->makeCurrent(archive);
    Node *chat = smsConversation(archive);
    ASSERT_NE(chat, nullptr);
    window->makeCurrent(chat);
    ASSERT_EQ(window->smsModel()->messages().size(), 3);

    QStringList offered;
    driver.then<DataSourceSelForm>(chooseSource(&offered, QStringLiteral("Phone two")));
    boxes.click(QMessageBox::Yes).click(QMessageBox::Ok);
    window->invoke("miDb2I");

    EXPECT_EQ(offered, (QStringList{"Phone one", "Phone two"}));
    EXPECT_EQ(boxTexts(), (QStringList{kTips, recovered(3)}));
    const QStringList restored = guidsOf(restoredSmsDb(QStringLiteral("two")));
    EXPECT_EQ(restored, (QStringList{"MSG-1", "MSG-2", "MSG-3", "two-1-in", "two-1-out"}));
}

struct TargetsCase
{
    const char *name;
    int phones;      // "p1".."pN"; the first is the one current
    bool fromChat;   // a conversation of p1 is current, else p1 itself
    QStringList offered;
};

void PrintTo(const TargetsCase &c, std::ostream *os)
{
    *os << c.name;
}

class TransferTargetsTest : public TransferToPhoneTest, public ::testing::WithParamInterface<TargetsCase>
{
};

TEST_P(TransferTargetsTest, EveryOtherPhoneIsOfferedAndClosingTheChoiceEndsIt)
{
    const TargetsCase &c = GetParam();
    QList<Phone> phones;
    for (int i = 1; i <= c.phones; ++i)
        phones.append(phone(QStringLiteral("p%1").arg(i)));
    start(phones);
    _IOSDeviceItemNode *first = phoneNode(QStringLiteral("p1"));
    window->makeCurrent(c.fromChat ? first->children.first() : static_cast<Node *>(first));

    QStringList offered{"not asked"};
    driver.then<DataSourceSelForm>(chooseSource(&offered, QString()));
    window->invoke(c.fromChat ? "miI2IChat" : "miI2IAll");

    EXPECT_EQ(offered, c.offered);
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_TRUE(toolRuns().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TransferTargetsTest,
    ::testing::Values(TargetsCase{"OnePhoneOnly", 1, false, {}},
                      TargetsCase{"FromAPhone", 3, false, {"Phone p2", "Phone p3"}},
                      TargetsCase{"FromItsConversation", 3, true, {"Phone p2", "Phone p3"}}),
    CaseName());

TEST_F(TransferToPhoneTest, StoredDevicesAreNeverOffered)
{
    // A folder of stored messages is listed as a device, but there is no
    // phone to back up or restore behind it.
    AppHomeFixture::addStoredDevice(QStringLiteral("Shelf"), 1);
    SampleLocalDb::write(QStringLiteral("Archive"));
    start({phone(QStringLiteral("p1")), phone(QStringLiteral("p2"))});
    ASSERT_EQ(window->deviceCount(), 3);

    const struct
    {
        const char *name;
        Node *current;
        QStringList offered;
    } cases[] = {
        {"from a phone", phoneNode(QStringLiteral("p1")), {"Phone p2"}},
        {"from a local database", localDb(QStringLiteral("Archive")), {"Phone p1", "Phone p2"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(c.current, nullptr);
        window->makeCurrent(c.current);
        QStringList offered{"not asked"};
        driver.then<DataSourceSelForm>(chooseSource(&offered, QString()));
        window->invoke(c.current->type == _LocalDBItemNode::Type ? "miDb2IAll" : "miI2IAll");
        EXPECT_EQ(offered, c.offered);
    }
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_TRUE(toolRuns().isEmpty());
}

// --- refusals before any worker runs --------------------------------------------------

struct RefusalCase
{
    const char *name;
    Phone target;
    QList<QMessageBox::StandardButton> answers;
    QStringList texts; // the boxes shown, in order; "*" for any text
};

void PrintTo(const RefusalCase &c, std::ostream *os)
{
    *os << c.name;
}

Phone target(const char *productType, bool ios5 = false, bool cloud = false)
{
    Phone p = phone(QStringLiteral("dst"));
    p.productType = QLatin1String(productType);
    p.ios5 = ios5;
    p.cloudBackup = cloud;
    return p;
}

class TransferRefusalTest : public TransferToPhoneTest, public ::testing::WithParamInterface<RefusalCase>
{
};

TEST_P(TransferRefusalTest, EndsBeforeTheTargetIsBackedUp)
{
    const RefusalCase &c = GetParam();
    start({phone(QStringLiteral("src")), c.target});
    window->makeCurrent(phoneNode(QStringLiteral("src")));
    driver.then<DataSourceSelForm>(chooseSource(nullptr, QStringLiteral("Phone dst")));
    for (QMessageBox::StandardButton b : c.answers)
        boxes.click(b);

    window->invoke("miI2I");

    const QStringList texts = boxTexts();
    ASSERT_EQ(texts.size(), c.texts.size()) << texts.join('\n').toStdString();
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (c.texts.at(i) != QLatin1String("*")) {
            EXPECT_EQ(texts.at(i), c.texts.at(i));
        }
    }
    EXPECT_TRUE(toolRuns().isEmpty()) << toolRuns().join('\n').toStdString();
    EXPECT_TRUE(QDir(volume.path()).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TransferRefusalTest,
    ::testing::Values(RefusalCase{"AnIOS5Target", target("iPhone4,1", true), {QMessageBox::Ok}, {kOnlyIOS6}},
                      RefusalCase{"ITunesKeepsItsBackupsInTheCloud", target("iPhone5,2", false, true),
                                  {QMessageBox::Ok}, {"*"}},
                      RefusalCase{"AnIPadDeclined", target("iPad3,4"), {QMessageBox::No}, {kPadQuestion}},
                      RefusalCase{"AnIPadAcceptedThenTheNotesDeclined", target("iPad3,4"),
                                  {QMessageBox::Yes, QMessageBox::No}, {kPadQuestion, kTips}},
                      RefusalCase{"AnyLetterCaseOfIPhoneIsAPhone", target("IPHONE5,2"), {QMessageBox::No}, {kTips}}),
    CaseName());

// --- into an iTunes backup ----------------------------------------------------------

TEST_F(TransferToPhoneTest, ADatabasesMessagesGoIntoAPlainITunesBackup)
{
    SampleLocalDb::write(QStringLiteral("Archive"));
    const QString folder = SampleBackups::writeItunesBackup(
        QStringLiteral("b1"), SampleBackups::smsDbFiles(SampleBackups::ios6SmsDb(1)));
    start({});
    window->makeCurrent(localDb(QStringLiteral("Archive")));

    driver.then<LoadItunesBackupDlg>(loadBackup(folder));
    boxes.click(QMessageBox::Ok);
    ASSERT_TRUE(window->triggerTreeContextEntry(QStringLiteral("Export SMS to iTunes Backup")));

    // The group's event (MSG-6) has no place in a database without item
    // types.
    EXPECT_EQ(boxTexts(), QStringList{recovered(5)});
    EXPECT_EQ(guidsOf(SampleBackups::storedSmsDb(folder)),
              (QStringList{"IN-1", "MSG-1", "MSG-2", "MSG-3", "MSG-4", "MSG-5", "OUT-1"}));
    // No device stage ran.
    EXPECT_TRUE(QDir(volume.path()).isEmpty());
}

TEST_F(TransferToPhoneTest, AnEncryptedOrUnchosenBackupIsLeftAsItWas)
{
    SampleLocalDb::write(QStringLiteral("Archive"));
    BackupGenerator::Options options;
    options.encrypted = true;
    const QString folder = SampleBackups::writeItunesBackup(
        QStringLiteral("enc"), SampleBackups::smsDbFiles(SampleBackups::ios6SmsDb(1)), options);
    const QStringList before = folderDigest(folder);
    start({});
    window->makeCurrent(localDb(QStringLiteral("Archive")));

    driver.then<LoadItunesBackupDlg>(loadBackup(folder));
    boxes.click(QMessageBox::Ok);
    window->invoke("miExport2iTunes");
    EXPECT_EQ(boxTexts(), QStringList{kEncrypted});
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Warning);

    driver.thenReject<LoadItunesBackupDlg>();
    window->invoke("miExport2iTunesAll");
    EXPECT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(folderDigest(folder), before);
}

// A phone's iOS 5 sms.db, as its backup stores it.
QByteArray ios5SmsDb(const QString &scratch)
{
    {
        IOS5DbFixture fx(scratch);
        fx.addGroup(1, 1, 1);
        fx.addMember(1, 1, QStringLiteral("+4915100000001"), QStringLiteral("de"));
        IOS5DbFixture::Sms sms;
        sms.rowid = 1;
        sms.groupId = 1;
        sms.address = QStringLiteral("+4915100000001");
        sms.text = QStringLiteral("Hallo");
        sms.date = 1357000000;
        fx.addSms(sms);
    }
    QFile f(IOS5DbFixture::smsDbPath(scratch));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST_F(TransferToPhoneTest, AnIOS5BackupIsRefusedAsAnIOS5PhoneIs)
{
    // The backup says which system it was made of; one that does not say is
    // known by its sms.db, once that is cached.
    const struct
    {
        const char *name;
        const char *version;
        bool cached;
    } cases[] = {
        {"made of iOS 5", "5.1.1", false},
        {"of no stated system", "", true},
    };
    SampleLocalDb::write(QStringLiteral("Archive"));
    QTemporaryDir scratch;
    const QByteArray sms = ios5SmsDb(scratch.path());
    ASSERT_FALSE(sms.isEmpty());
    start({});
    window->makeCurrent(localDb(QStringLiteral("Archive")));
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        BackupGenerator::Options options;
        options.productVersion = QLatin1String(c.version);
        const QString folder = SampleBackups::writeItunesBackup(QStringLiteral("five%1").arg(++n),
                                                                SampleBackups::smsDbFiles(sms), options);
        const QStringList before = folderDigest(folder);
        const qsizetype shown = boxes.shown().size();

        driver.then<LoadItunesBackupDlg>(loadBackup(folder));
        boxes.click(QMessageBox::Ok);
        window->invoke("miExport2iTunesAll");

        ASSERT_EQ(boxes.shown().size(), shown + 1);
        EXPECT_EQ(boxes.shown().last().text.toStdString(), kOnlyIOS6.toStdString());
        EXPECT_EQ(boxes.shown().last().icon, QMessageBox::Warning);
        EXPECT_EQ(folderDigest(folder), before);
        const QString cache = appDataDir().filePath(QStringLiteral("itunes_cache/")
                                                    + QString::fromLatin1(QCryptographicHash::hash(
                                                          QDir(folder).absolutePath().toUtf8(), QCryptographicHash::Md5)
                                                                              .toHex()));
        EXPECT_EQ(QFileInfo::exists(cache), c.cached);
    }
}

struct FamilyCase
{
    const char *name;
    const char *slot;
    bool conversation; // the conversation with +15550000001 is current, else the database
    QList<int> rows;   // rows selected in the list
    int merged;
};

void PrintTo(const FamilyCase &c, std::ostream *os)
{
    *os << c.name;
}

class ExportFamilyTest : public TransferToPhoneTest, public ::testing::WithParamInterface<FamilyCase>
{
};

TEST_P(ExportFamilyTest, TakesTheSelectedRowsElseTheConversationElseTheDatabase)
{
    const FamilyCase &c = GetParam();
    SampleLocalDb::write(QStringLiteral("Archive"));
    const QString folder = SampleBackups::writeItunesBackup(
        QStringLiteral("b1"), SampleBackups::smsDbFiles(SampleBackups::ios6SmsDb(1)));
    start({});
    _LocalDBItemNode *archive = localDb(QStringLiteral("Archive"));
    window->makeCurrent(archive);
    if (c.conversation) {
        window->makeCurrent(smsConversation(archive));
        ASSERT_EQ(window->smsModel()->messages().size(), 3);
    }
    window->selectRows(c.rows);

    driver.then<LoadItunesBackupDlg>(loadBackup(folder));
    boxes.click(QMessageBox::Ok);
    window->invoke(c.slot);

    EXPECT_EQ(boxTexts(), QStringList{recovered(c.merged)});
    EXPECT_EQ(guidsOf(SampleBackups::storedSmsDb(folder)).size(), 2 + c.merged);
}

INSTANTIATE_TEST_SUITE_P(Cases, ExportFamilyTest,
                         ::testing::Values(FamilyCase{"TwoRowsSelected", "miExport2iTunes", true, {0, 2}, 2},
                                           FamilyCase{"TheConversationOnShow", "miExport2iTunes", true, {}, 3},
                                           FamilyCase{"TheWholeDatabase", "miExport2iTunes", false, {}, 5},
                                           FamilyCase{"TheConversationSlotAlone", "miExport2iTunesChat", true, {0}, 3}),
                         CaseName());

TEST_F(TransferToPhoneTest, TheWholeNodeCommandsDoNothingWithoutMessages)
{
    ASSERT_TRUE(QDir().mkpath(localDatabasesDir().filePath(QStringLiteral("Empty"))));
    start({phone(QStringLiteral("p1"))});
    window->makeCurrent(localDb(QStringLiteral("Empty")));
    ASSERT_TRUE(window->messagesOfCurrentNode().isEmpty());

    for (const char *slot : {"miExport2iTunesAll", "miDb2IAll", "miI2IAll"})
        window->invoke(slot);
    // No dialog came up (the driver tells at the end) and no box.
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(TransferToPhoneTest, AnEmptySelectionIsToldAndChangesNothing)
{
    SampleLocalDb::write(QStringLiteral("Archive"));
    const QString folder = SampleBackups::writeItunesBackup(
        QStringLiteral("b1"), SampleBackups::smsDbFiles(SampleBackups::ios6SmsDb(1)));
    const QStringList backupBefore = folderDigest(folder);
    start({phone(QStringLiteral("p1")), phone(QStringLiteral("p2"))});
    const QByteArray archiveBefore = fileDigest(SampleLocalDb::smsDbPath(QStringLiteral("Archive")));

    const struct
    {
        const char *entry;
        Node *current;
    } cases[] = {
        {"Transfer Selected SMS to other iPhone", phoneNode(QStringLiteral("p1"))},
        {"Transfer Selected SMS to iPhone", localDb(QStringLiteral("Archive"))},
        {"Export Selected SMS to iTunes Backup", localDb(QStringLiteral("Archive"))},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.entry);
        ASSERT_NE(c.current, nullptr);
        window->makeCurrent(c.current);
        ASSERT_FALSE(window->smsModel()->messages().isEmpty());
        window->selectRows({});
        const qsizetype before = boxes.shown().size();
        boxes.click(QMessageBox::Ok);
        // No target is asked for: the driver has no step for one.
        ASSERT_TRUE(window->triggerListContextEntry(QLatin1String(c.entry)));
        ASSERT_EQ(boxes.shown().size(), before + 1);
        EXPECT_EQ(boxes.shown().last().icon, QMessageBox::Information);
        EXPECT_EQ(boxes.shown().last().text, QStringLiteral("Can't find any SMS."));
    }
    EXPECT_TRUE(toolRuns().isEmpty());
    EXPECT_TRUE(QDir(volume.path()).isEmpty());
    EXPECT_EQ(folderDigest(folder), backupBefore);
    EXPECT_EQ(fileDigest(SampleLocalDb::smsDbPath(QStringLiteral("Archive"))), archiveBefore);
}

TEST_F(TransferToPhoneTest, TheFileMenuAndTheToolBarReachTheRoad)
{
    SampleLocalDb::write(QStringLiteral("Archive"));
    start({phone(QStringLiteral("p1"))});
    window->makeCurrent(localDb(QStringLiteral("Archive")));
    EXPECT_TRUE(window->db2iAction()->isEnabled());
    EXPECT_FALSE(window->i2iAction()->isEnabled());

    QStringList offered;
    driver.then<DataSourceSelForm>(chooseSource(&offered, QString()));
    ASSERT_TRUE(window->triggerFileMenuEntry(QStringLiteral("Transfer SMS from Database to iPhone")));
    EXPECT_EQ(offered, QStringList{"Phone p1"});
}

} // namespace
