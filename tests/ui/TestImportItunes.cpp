#include <QCoreApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTranslator>

#include <gtest/gtest.h>

#include <memory>

#include "AppFolders.h"
#include "AppHomeFixture.h"
#include "BackupFolders.h"
#include "BackupGenerator.h"
#include "BackupManifest.h"
#include "CaseName.h"
#include "DialogSteps.h"
#include "IOS5DbFixture.h"
#include "IOS6MessageDb.h"
#include "IOS6SmsDbFixture.h"
#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "LoadItunesBackupDlg.h"
#include "LocalDbSelForm.h"
#include "MainWindowProbe.h"
#include "MessageBoxAnswerer.h"
#include "ModalDialogDriver.h"
#include "PasscodeDlg.h"
#include "SampleBackups.h"
#include "ServiceUrlScope.h"
#include "_LocalDBItemNode.h"
#include "_RootDeviceItemNode.h"
#include "_RootLocalDBItemNode.h"

namespace
{

using G = BackupGenerator;

const QString kNoSmsDb = QStringLiteral("Found no message database file in this iTunes backup.");
const QString kInvalidPassword = QStringLiteral("Invalid password.");

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A phone's iOS 5 sms.db: two SMS conversations, three messages.
QByteArray ios5SmsDb()
{
    QTemporaryDir dir;
    {
        IOS5DbFixture fx(dir.path(), IOS5DbFixture::BeforeIMessage);
        fx.addGroup(1, 11, 2);
        fx.addMember(1, 1, QStringLiteral("+15550000001"), QString());
        fx.addGroup(2, 22, 3);
        fx.addMember(2, 2, QStringLiteral("+15550000002"), QString());
        const struct
        {
            qint64 rowid, group;
            const char *address, *text;
            int flags;
        } rows[] = {
            {1, 1, "+15550000001", "Hello 1", 2},
            {2, 1, "+15550000001", "Reply 1", 3},
            {3, 2, "+15550000002", "Hello 2", 2},
        };
        for (const auto &r : rows) {
            IOS5DbFixture::Sms s;
            s.rowid = r.rowid;
            s.groupId = r.group;
            s.address = QLatin1String(r.address);
            s.text = QLatin1String(r.text);
            s.flags = r.flags;
            s.date = 1350000000 + r.rowid * 60;
            fx.addSms(s);
        }
    }
    return readAll(IOS5DbFixture::smsDbPath(dir.path()));
}

using SampleBackups::ios6SmsDb;

QList<G::File> backupFiles(const QByteArray &smsDb)
{
    return SampleBackups::smsDbFiles(smsDb);
}

QString writeBackup(const QString &name, const QList<G::File> &files, const G::Options &options = G::Options())
{
    return SampleBackups::writeItunesBackup(name, files, options);
}

// One line per message of a message source: "<identifier>|<sent>|<text>".
QStringList contentOf(AbsMessageDb &db)
{
    MsgDataSet set = MsgDataSet::create();
    db.messages(set, 0);
    db.close();
    QStringList lines;
    for (const _MsgMessage *m : set.messageList())
        lines.append(QStringLiteral("%1|%2|%3").arg(m->chat ? m->chat->chat_identifier : QString())
                         .arg(m->is_from_me)
                         .arg(m->text));
    lines.sort();
    return lines;
}

QStringList localDbContent(const QString &name)
{
    IOS6MessageDb db(QDir(localDatabasesDir().filePath(name)), QString(), false);
    return contentOf(db);
}

// Every entry below a folder, as paths relative to it.
QStringList listing(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out.append(QDir(root).relativeFilePath(it.next()));
    out.sort();
    return out;
}

QString cacheFolderOf(const QString &backupFolder)
{
    return appDataDir().filePath(QStringLiteral("itunes_cache/") + BackupManifest(backupFolder).id());
}

using DialogSteps::confirmName;
using DialogSteps::loadBackup;
using DialogSteps::typePassword;

class ImportItunesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
    }
    void TearDown() override
    {
        EXPECT_EQ(driver.pendingSteps(), 0) << "dialogs that never came";
        EXPECT_TRUE(driver.unexpected().isEmpty()) << driver.unexpected().join(',').toStdString();
        window.reset();
        QCoreApplication::removeTranslator(&translator);
    }

    void build() { window = std::make_unique<MainWindowProbe>(); }

    QStringList localDbNames() const
    {
        QStringList names;
        for (const AbsTreeItemModel::_ItemNode *n : window->mainModel()->localDbRoot()->children)
            names.append(n->name);
        return names;
    }

    void import()
    {
        QString target;
        window->importMessages(target);
        lastTarget = target;
    }

    QTranslator translator;
    ServiceUrlScope url{QStringLiteral("none:")};
    MessageBoxAnswerer boxes;
    ModalDialogDriver driver;
    std::unique_ptr<MainWindowProbe> window;
    QString lastTarget;
};

// --- a backup's messages reach a new local database ---------------------------------

struct KindCase
{
    const char *name;
    bool encrypted;
    bool ios5;
};

void PrintTo(const KindCase &c, std::ostream *os)
{
    *os << c.name;
}

class ImportKindTest : public ImportItunesTest, public ::testing::WithParamInterface<KindCase>
{
};

TEST_P(ImportKindTest, IntoANewDatabaseNamedAfterTheDeviceAndASecondImportAddsNothing)
{
    const KindCase &c = GetParam();
    G::Options options;
    options.deviceName = QStringLiteral("Ann's iPhone");
    options.encrypted = c.encrypted;
    const QString folder = writeBackup("b1", backupFiles(c.ios5 ? ios5SmsDb() : ios6SmsDb(3)), options);
    build();

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        QString proposed;
        driver.then<LoadItunesBackupDlg>(loadBackup(folder));
        if (c.encrypted)
            driver.then<PasscodeDlg>(typePassword(QStringLiteral("secret")));
        driver.then<LocalDbSelForm>(confirmName(&proposed));
        boxes.click(QMessageBox::Ok); // the worker's success

        import();

        EXPECT_EQ(driver.pendingSteps(), 0);
        EXPECT_EQ(proposed, QStringLiteral("Ann's iPhone_Backup"));
        EXPECT_EQ(lastTarget, QStringLiteral("Ann's iPhone_Backup"));
        ASSERT_EQ(boxes.shown().size(), run + 1);
        EXPECT_EQ(boxes.shown().last().icon, QMessageBox::Information);
        EXPECT_EQ(localDbNames(), QStringList{"Ann's iPhone_Backup"});
    }
    // The second run found every message stored already.
    const QStringList stored = localDbContent(QStringLiteral("Ann's iPhone_Backup"));
    if (c.ios5) {
        EXPECT_EQ(stored.size(), 3);
        EXPECT_EQ(stored.filter(QStringLiteral("Hello 1")).size(), 1);
        EXPECT_EQ(stored.filter(QStringLiteral("Reply 1")).size(), 1);
        EXPECT_EQ(stored.filter(QStringLiteral("Hello 2")).size(), 1);
        EXPECT_EQ(stored.filter(QStringLiteral("|1|Reply 1")).size(), 1);
    } else {
        EXPECT_EQ(stored, (QStringList{"+15550000001|0|Hello 1", "+15550000001|1|Reply 1", "+15550000002|0|Hello 2",
                                       "+15550000002|1|Reply 2", "+15550000003|0|Hello 3", "+15550000003|1|Reply 3"}));
    }
    // The tree shows the new database with its conversations.
    auto *node = window->findLocalDb(QStringLiteral("Ann's iPhone_Backup"));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->children.size(), c.ios5 ? 2 : 3);
    EXPECT_EQ(node->dataSet.data()->messages.size(), c.ios5 ? 3 : 6);
}

INSTANTIATE_TEST_SUITE_P(Cases, ImportKindTest,
                         ::testing::Values(KindCase{"PlainIOS6", false, false}, KindCase{"EncryptedIOS6", true, false},
                                           KindCase{"PlainIOS5", false, true}),
                         CaseName());

TEST_F(ImportItunesTest, AWrongPasswordKeepsTheDialogOpenForAnotherTry)
{
    G::Options options;
    options.encrypted = true;
    const QString folder = writeBackup("enc", backupFiles(ios6SmsDb(1)), options);
    build();

    driver.then<LoadItunesBackupDlg>(loadBackup(folder))
        .then<PasscodeDlg>(typePassword(QStringLiteral("wrong")))
        .then<PasscodeDlg>(typePassword(QStringLiteral("secret")))
        .then<LocalDbSelForm>(confirmName(nullptr));
    boxes.click(QMessageBox::Ok).click(QMessageBox::Ok);
    import();

    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(boxes.shown()[0].text, kInvalidPassword);
    EXPECT_EQ(localDbContent(QStringLiteral("Test iPhone_Backup")),
              (QStringList{"+15550000001|0|Hello 1", "+15550000001|1|Reply 1"}));
}

// --- roads that end early leave nothing behind --------------------------------------

TEST_F(ImportItunesTest, CancellingThePasswordEndsSilently)
{
    G::Options options;
    options.encrypted = true;
    const QString folder = writeBackup("enc", backupFiles(ios6SmsDb(1)), options);
    build();

    driver.then<LoadItunesBackupDlg>(loadBackup(folder)).thenReject<PasscodeDlg>();
    import();

    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_TRUE(localDbNames().isEmpty());
    EXPECT_TRUE(listing(localDatabasesDir().absolutePath()).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(cacheFolderOf(folder)));
}

TEST_F(ImportItunesTest, CancellingTheBackupListOrTheNameEndsSilently)
{
    const QString folder = writeBackup("plain", backupFiles(ios6SmsDb(1)));
    build();

    driver.thenReject<LoadItunesBackupDlg>();
    import();
    EXPECT_FALSE(QFileInfo::exists(cacheFolderOf(folder)));

    driver.then<LoadItunesBackupDlg>(loadBackup(folder)).thenReject<LocalDbSelForm>();
    import();
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_TRUE(localDbNames().isEmpty());
    EXPECT_TRUE(listing(localDatabasesDir().absolutePath()).isEmpty());
}

TEST_F(ImportItunesTest, ABackupWithoutMessagesDatabaseSaysSoAndLeavesNothing)
{
    const QString folder = writeBackup("nosms", {G::folder("HomeDomain", ""), G::folder("HomeDomain", "Library"),
                                                 G::folder("HomeDomain", "Library/AddressBook"),
                                                 G::file("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb",
                                                         "book")});
    build();

    driver.then<LoadItunesBackupDlg>(loadBackup(folder));
    boxes.click(QMessageBox::Ok);
    import();

    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.shown()[0].text.contains(kNoSmsDb)) << boxes.shown()[0].text.toStdString();
    EXPECT_TRUE(localDbNames().isEmpty());
    EXPECT_TRUE(listing(localDatabasesDir().absolutePath()).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(cacheFolderOf(folder)));
}

struct HostileCase
{
    const char *name;
    const char *domain;
    const char *path;
};

void PrintTo(const HostileCase &c, std::ostream *os)
{
    *os << c.name;
}

class ImportHostileTest : public ImportItunesTest, public ::testing::WithParamInterface<HostileCase>
{
};

TEST_P(ImportHostileTest, ARecordLeadingOutOfTheCacheWritesNothing)
{
    QList<G::File> files = backupFiles(ios6SmsDb(1));
    files.append(G::file(QLatin1String(GetParam().domain), QLatin1String(GetParam().path), "escaped"));
    const QString folder = writeBackup("hostile", files);
    build();
    const QString home = QDir::homePath();
    const QStringList before = listing(home);

    driver.then<LoadItunesBackupDlg>(loadBackup(folder));
    boxes.click(QMessageBox::Ok);
    import();

    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(localDbNames().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(cacheFolderOf(folder)));
    // Nothing appeared anywhere in the home (the log aside).
    QStringList added;
    for (const QString &entry : listing(home)) {
        if (!before.contains(entry) && !entry.contains(QLatin1String("qlogs")))
            added.append(entry);
    }
    EXPECT_TRUE(added.isEmpty()) << added.join(' ').toStdString();
    for (const QString &root : {home, QDir::tempPath(), QDir::rootPath() + QStringLiteral("tmp")}) {
        QDirIterator it(root, {QStringLiteral("escape*")}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        EXPECT_FALSE(it.hasNext()) << it.next().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImportHostileTest,
    ::testing::Values(HostileCase{"DotDotInPath", "HomeDomain", "Library/SMS/../../../../../../escape-a.db"},
                      HostileCase{"DotDotAppDomain", "AppDomain-../../../../escape-b", "Library/x.db"},
                      HostileCase{"AbsolutePath", "HomeDomain", "/tmp/escape-c.db"},
                      HostileCase{"DotDotUnderSms", "HomeDomain", "Library/SMS/../escape-d.db"}),
    CaseName());

// --- where the import starts --------------------------------------------------------

TEST_F(ImportItunesTest, FromTheFileMenu)
{
    const QString folder = writeBackup("plain", backupFiles(ios6SmsDb(2)));
    build();

    QString proposed;
    driver.then<LoadItunesBackupDlg>(loadBackup(folder)).then<LocalDbSelForm>(confirmName(&proposed));
    boxes.click(QMessageBox::Ok);
    ASSERT_TRUE(window->triggerFileMenuEntry(QStringLiteral("Import SMS from iTunes Backup to Local Database")));

    EXPECT_EQ(proposed, QStringLiteral("Test iPhone_Backup"));
    EXPECT_EQ(localDbNames(), QStringList{"Test iPhone_Backup"});
    EXPECT_EQ(localDbContent(QStringLiteral("Test iPhone_Backup")).size(), 4);
}

TEST_F(ImportItunesTest, FromALocalDatabasesMenuIntoThatDatabase)
{
    const QString folder = writeBackup("plain", backupFiles(ios6SmsDb(2)));
    AppHomeFixture::addLocalDatabase(QStringLiteral("Archive"));
    build();
    auto *archive = window->findLocalDb(QStringLiteral("Archive"));
    ASSERT_NE(archive, nullptr);
    window->makeCurrent(archive);

    QString proposed;
    driver.then<LoadItunesBackupDlg>(loadBackup(folder)).then<LocalDbSelForm>(confirmName(&proposed));
    boxes.click(QMessageBox::Ok);
    ASSERT_TRUE(window->triggerTreeContextEntry(QStringLiteral("Import SMS from iTunes Backup to this Local Database")));

    EXPECT_EQ(proposed, QStringLiteral("Archive"));
    EXPECT_EQ(localDbNames(), QStringList{"Archive"});
    EXPECT_EQ(localDbContent(QStringLiteral("Archive")).size(), 4);
    EXPECT_EQ(archive->children.size(), 2);
    // The database on show shows what it holds now.
    QCoreApplication::processEvents();
    EXPECT_EQ(window->currentNode(), archive);
    EXPECT_EQ(window->smsModel()->messages().size(), 4);
}

TEST_F(ImportItunesTest, FromTheLocalDatabaseRootsMenu)
{
    const QString folder = writeBackup("plain", backupFiles(ios6SmsDb(1)));
    build();
    window->makeCurrent(window->mainModel()->localDbRoot());

    QString proposed;
    driver.then<LoadItunesBackupDlg>(loadBackup(folder)).then<LocalDbSelForm>(confirmName(&proposed));
    boxes.click(QMessageBox::Ok);
    ASSERT_TRUE(window->triggerTreeContextEntry(QStringLiteral("Import SMS from iTunes Backup to Local Database")));
    EXPECT_EQ(proposed, QStringLiteral("Test iPhone_Backup"));
    EXPECT_EQ(localDbNames(), QStringList{"Test iPhone_Backup"});
}

TEST_F(ImportItunesTest, IntoALocalDatabaseOnlyFromALocalDatabase)
{
    AppHomeFixture::addStoredDevice(QStringLiteral("Desk Phone"), 1);
    build();
    // No node, a root, a device and one of its conversations: no dialog.
    const QList<AbsTreeItemModel::_ItemNode *> nodes{
        nullptr, window->mainModel()->localDbRoot(), window->mainModel()->deviceRoot(),
        window->mainModel()->deviceRoot()->children.value(0),
        window->mainModel()->deviceRoot()->children.value(0)->children.value(0)};
    for (AbsTreeItemModel::_ItemNode *node : nodes) {
        window->makeCurrent(node);
        window->invoke("miImportToLocalDb");
    }
    EXPECT_TRUE(driver.handled().isEmpty());
    EXPECT_TRUE(boxes.shown().isEmpty());
}

} // namespace
