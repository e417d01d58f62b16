#include <QApplication>
#include <QLabel>
#include <QCoreApplication>
#include <QFileInfo>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTranslator>

#include <gtest/gtest.h>

#include <memory>

#include "AppFolders.h"
#include "AppHomeFixture.h"
#include "CaseName.h"
#include "DialogSteps.h"
#include "ExportFileReader.h"
#include "IOS6SmsDbFixture.h"
#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "LoadItunesBackupDlg.h"
#include "LocalDbSelForm.h"
#include "MainWindowProbe.h"
#include "MessageBoxAnswerer.h"
#include "ModalDialogDriver.h"
#include "MsgSetBuilder.h"
#include "ProgressForm.h"
#include "SMSPrinter.h"
#include "SampleLocalDb.h"
#include "SaveFileAnswerer.h"
#include "ServiceUrlScope.h"
#include "TestClock.h"
#include "_ChatSessionItemNode.h"
#include "_IOSDeviceItemNode.h"
#include "_LocalDBItemNode.h"
#include "_RootDeviceItemNode.h"
#include "_RootLocalDBItemNode.h"

namespace
{

using Node = AbsTreeItemModel::_ItemNode;
using DialogSteps::confirmName;

const QString kText = QStringLiteral("Text Files(*.txt)");
const QString kDoc = QStringLiteral("Doc Files(*.doc)");
const QString kCsv = QStringLiteral("CSV Files(*.csv)");
const QString kPdf = QStringLiteral("PDF Files(*.pdf)");
const QString kHtml = QStringLiteral("HTML Files(*.html)");

// The stored device of the tests: conversations 1 to 3 with "+1555000000<n>",
// each a received "Hello <n>" and a sent "Reply <n>", dated in that order.
const QString kDevice = QStringLiteral("Desk Phone");
const QStringList kAllKeys{"1-in", "1-out", "2-in", "2-out", "3-in", "3-out"};

QString textOfKey(const QString &key)
{
    const QString n = key.section('-', 0, 0);
    return (key.endsWith(QLatin1String("-in")) ? QStringLiteral("Hello ") : QStringLiteral("Reply ")) + n;
}

QString guidOfKey(const QString &key)
{
    return kDevice + key;
}

int pdfPages(const QByteArray &pdf)
{
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"));
    int n = 0;
    auto it = page.globalMatch(QString::fromLatin1(pdf));
    while (it.hasNext()) {
        it.next();
        ++n;
    }
    return n;
}

// Stands in for the print preview: paints what would be shown into a PDF
// file and counts the previews.
class PreviewRecorder
{
public:
    explicit PreviewRecorder(const QString &pdfPath)
    {
        m_previous = setPrintPreviewRunner([this, pdfPath](QPrintPreviewDialog &dialog) {
            ++runs;
            QPrinter *printer = dialog.printer();
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(pdfPath);
            emit dialog.paintRequested(printer);
            pages = pdfPages(readExportedFile(pdfPath));
            return 0;
        });
    }
    ~PreviewRecorder() { setPrintPreviewRunner(std::move(m_previous)); }

    int runs = 0;
    int pages = 0;

private:
    PrintPreviewRunner m_previous;
};

class TransferTest : public ::testing::Test
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
        EXPECT_EQ(boxes.pendingAnswers(), 0) << "boxes that never came";
        window.reset();
        QCoreApplication::removeTranslator(&translator);
    }

    void build()
    {
        window = std::make_unique<MainWindowProbe>();
        QCoreApplication::processEvents();
    }

    Node *localDb(const QString &name) const { return window->findLocalDb(name); }
    Node *device(const QString &name) const
    {
        for (Node *n : window->mainModel()->deviceRoot()->children) {
            if (n->name == name)
                return n;
        }
        return nullptr;
    }
    // The conversation of the source with this chat identifier.
    static Node *session(Node *source, const QString &identifier)
    {
        for (Node *n : source->children) {
            auto *s = static_cast<_ChatSessionItemNode *>(n);
            if (!s->chats.isEmpty() && s->chats.first()->chat_identifier == identifier)
                return n;
        }
        return nullptr;
    }
    void makeCurrent(Node *node)
    {
        window->makeCurrent(node);
        QCoreApplication::processEvents();
    }
    QStringList localDbNames() const
    {
        QStringList names;
        for (const Node *n : window->mainModel()->localDbRoot()->children)
            names.append(n->name);
        return names;
    }

    QTranslator translator;
    ServiceUrlScope url{QStringLiteral("none:")};
    MessageBoxAnswerer boxes;
    ModalDialogDriver driver;
    SaveFileAnswerer saves;
    QTemporaryDir out;
    std::unique_ptr<MainWindowProbe> window;
};

// --- the bare commands choose the selected rows, the conversation or the source -----

enum class Place
{
    None,
    DeviceRoot,
    LocalDbRoot,
    Device,
    Conversation2,
    EmptyDevice
};

struct ChoiceCase
{
    const char *name;
    Place place;
    QList<int> rows; // selected rows of the list
    QStringList keys; // the messages taken; none: the command does nothing
};

void PrintTo(const ChoiceCase &c, std::ostream *os)
{
    *os << c.name;
}

class DispatchTest : public TransferTest, public ::testing::WithParamInterface<ChoiceCase>
{
protected:
    void SetUp() override
    {
        TransferTest::SetUp();
        AppHomeFixture::addStoredDevice(kDevice, 3);
        AppHomeFixture::addStoredDevice(QStringLiteral("Quiet Phone"), 0);
        build();
        Node *node = nullptr;
        switch (GetParam().place) {
        case Place::None:
            break;
        case Place::DeviceRoot:
            node = window->mainModel()->deviceRoot();
            break;
        case Place::LocalDbRoot:
            node = window->mainModel()->localDbRoot();
            break;
        case Place::Device:
            node = device(kDevice);
            break;
        case Place::Conversation2:
            node = session(device(kDevice), QStringLiteral("+15550000002"));
            break;
        case Place::EmptyDevice:
            node = device(QStringLiteral("Quiet Phone"));
            break;
        }
        if (GetParam().place != Place::None) {
            ASSERT_NE(node, nullptr);
        }
        makeCurrent(node);
        window->selectRows(GetParam().rows);
    }
};

TEST_P(DispatchTest, Export)
{
    const QString path = out.filePath("choice.txt");
    saves.answer(path, kText);
    const QStringList &keys = GetParam().keys;
    if (!keys.isEmpty())
        boxes.click(QMessageBox::Ok);
    window->invoke("miExport");

    if (keys.isEmpty()) {
        EXPECT_TRUE(saves.asked().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(path));
        EXPECT_TRUE(boxes.shown().isEmpty());
        return;
    }
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("Successfully exported %1 SMS.").arg(keys.size()));
    const QString written = QString::fromUtf8(readExportedFile(path));
    for (const QString &key : kAllKeys)
        EXPECT_EQ(written.contains(textOfKey(key)), keys.contains(key)) << key.toStdString();
}

TEST_P(DispatchTest, Backup)
{
    const QStringList &keys = GetParam().keys;
    QString proposed;
    if (!keys.isEmpty()) {
        driver.then<LocalDbSelForm>(confirmName(&proposed));
        boxes.click(QMessageBox::Ok);
    }
    window->invoke("miBackup");

    if (keys.isEmpty()) {
        EXPECT_TRUE(driver.handled().isEmpty());
        EXPECT_TRUE(localDbNames().isEmpty());
        EXPECT_TRUE(boxes.shown().isEmpty());
        return;
    }
    // A conversation stands for its device.
    EXPECT_EQ(proposed, kDevice + QStringLiteral("_Backup"));
    QStringList expected;
    for (const QString &key : keys)
        expected.append(guidOfKey(key));
    QStringList stored = SampleLocalDb::messageGuids(proposed);
    stored.sort();
    expected.sort();
    EXPECT_EQ(stored, expected);
}

TEST_P(DispatchTest, Print)
{
    PreviewRecorder preview(out.filePath("print.pdf"));
    window->invoke("miPrint");
    EXPECT_EQ(preview.runs, GetParam().keys.isEmpty() ? 0 : 1);
    EXPECT_TRUE(boxes.shown().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DispatchTest,
    ::testing::Values(ChoiceCase{"SelectedRowsOfADevice", Place::Device, {0, 3}, {"1-in", "2-out"}},
                      ChoiceCase{"SelectedRowsWinOverTheConversation", Place::Conversation2, {1}, {"2-out"}},
                      ChoiceCase{"TheConversationOnShow", Place::Conversation2, {}, {"2-in", "2-out"}},
                      ChoiceCase{"TheWholeDevice", Place::Device, {}, kAllKeys},
                      ChoiceCase{"ADeviceWithoutMessages", Place::EmptyDevice, {}, {}},
                      ChoiceCase{"TheDeviceRoot", Place::DeviceRoot, {}, {}},
                      ChoiceCase{"TheLocalDatabaseRoot", Place::LocalDbRoot, {}, {}},
                      ChoiceCase{"NoCurrentNode", Place::None, {}, {}}),
    CaseName());

// --- backup into a local database ---------------------------------------------------

class BackupTest : public TransferTest
{
protected:
    void SetUp() override
    {
        TransferTest::SetUp();
        AppHomeFixture::addStoredDevice(kDevice, 3);
    }
    // Backs the whole device up under the name typed in the dialog.
    void backupDeviceAs(const QString &name, QString *proposed = nullptr)
    {
        makeCurrent(device(kDevice));
        driver.then<LocalDbSelForm>(confirmName(proposed, name));
        boxes.click(QMessageBox::Ok);
        window->invoke("miBackupAll");
    }
};

TEST_F(BackupTest, ANewDatabaseIsCreatedListedReadAgainAndMadeCurrent)
{
    build();
    QString proposed;
    backupDeviceAs(QStringLiteral("Fresh"), &proposed);
    QCoreApplication::processEvents();

    EXPECT_EQ(proposed, QStringLiteral("Desk Phone_Backup"));
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("Successfully Backup 6 SMS to local Database."));
    EXPECT_EQ(localDbNames(), QStringList{"Fresh"});
    Node *fresh = localDb(QStringLiteral("Fresh"));
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(QFileInfo::exists(SampleLocalDb::smsDbPath(QStringLiteral("Fresh"))));
    // Read back from the file: the three conversations and their messages.
    EXPECT_EQ(fresh->children.size(), 3);
    EXPECT_EQ(static_cast<_LocalDBItemNode *>(fresh)->dataSet.data()->messages.size(), 6);
    EXPECT_NE(session(fresh, QStringLiteral("+15550000003")), nullptr);
    EXPECT_EQ(window->currentNode(), fresh);
    EXPECT_EQ(window->smsModel()->messages().size(), 6);
}

TEST_F(BackupTest, ANameInOtherLetterCaseWritesIntoThatDatabaseAndAddsNoNode)
{
    SampleLocalDb::write(QStringLiteral("Archive"));
    build();
    backupDeviceAs(QStringLiteral("ARCHIVE"));

    EXPECT_EQ(localDbNames(), QStringList{"Archive"});
    EXPECT_FALSE(QFileInfo::exists(localDatabasesDir().filePath(QStringLiteral("ARCHIVE"))));
    const QStringList guids = SampleLocalDb::messageGuids(QStringLiteral("Archive"));
    EXPECT_EQ(guids.size(), 6 + 6);
    for (const QString &key : kAllKeys)
        EXPECT_TRUE(guids.contains(guidOfKey(key))) << key.toStdString();
    // The sample's two conversations and the device's three, of which the
    // first has the identifier of the sample's first: one entry for both.
    EXPECT_EQ(localDb(QStringLiteral("Archive"))->children.size(), 4);
}

// What the tree shows of a source: each conversation entry in order, with
// its last date, its number of chats and of messages.
QStringList sessionLines(const Node *source)
{
    QStringList lines;
    for (const Node *n : source->children) {
        const auto *s = static_cast<const _ChatSessionItemNode *>(n);
        int messages = 0;
        for (const _MsgChat *chat : s->chats)
            messages += int(chat->messages.size());
        lines.append(QStringLiteral("%1 last=%2 chats=%3 messages=%4")
                         .arg(s->name)
                         .arg(s->last)
                         .arg(s->chats.size())
                         .arg(messages));
    }
    return lines;
}

TEST_F(BackupTest, ADatabaseOnShowShowsWhatAFreshReadOfItsFileShows)
{
    // A phone whose conversation with the sample's +15550000001 is newer
    // than anything in the database: after the backup it comes first.
    const QDir phone = AppHomeFixture::addStoredDeviceFolder(QStringLiteral("Late Phone"));
    {
        IOS6SmsDbFixture sms(IOS6SmsDbFixture::smsDbPath(phone), IOS6SmsDbFixture::Device);
        sms.begin();
        const qint64 handle = sms.addHandle(QStringLiteral("+15550000001"));
        const qint64 chat = sms.addChat(QStringLiteral("SMS;-;+15550000001"), QStringLiteral("+15550000001"));
        sms.joinChatHandle(chat, handle);
        sms.addMessage(chat, handle, QStringLiteral("LATE-in"), QStringLiteral("Still there?"), 400000900, 0);
        sms.addMessage(chat, handle, QStringLiteral("LATE-out"), QStringLiteral("Yes"), 400000950, 1);
        sms.commit();
    }
    SampleLocalDb::write(QStringLiteral("Archive"));
    build();
    makeCurrent(localDb(QStringLiteral("Archive")));
    const QStringList before = sessionLines(localDb(QStringLiteral("Archive")));
    ASSERT_EQ(before.size(), 2);
    ASSERT_TRUE(before[0].startsWith(QStringLiteral("Weekend "))) << before.join('\n').toStdString();

    makeCurrent(device(QStringLiteral("Late Phone")));
    driver.then<LocalDbSelForm>(confirmName(nullptr, QStringLiteral("Archive")));
    boxes.click(QMessageBox::Ok);
    ASSERT_TRUE(window->triggerTreeContextEntry(QStringLiteral("Backup SMS to Local Database")));
    QCoreApplication::processEvents();
    ASSERT_EQ(SampleLocalDb::messageGuids(QStringLiteral("Archive")).size(), 6 + 2);

    Node *archive = localDb(QStringLiteral("Archive"));
    const QStringList shown = sessionLines(archive);
    EXPECT_EQ(window->currentNode(), archive);
    const int shownCount = int(window->smsModel()->messages().size());
    const QString shownLabel = window->countLabel()->text();

    // A window opened now reads the file afresh.
    window.reset();
    build();
    makeCurrent(localDb(QStringLiteral("Archive")));
    const QStringList fresh = sessionLines(localDb(QStringLiteral("Archive")));
    EXPECT_EQ(shown.join('\n').toStdString(), fresh.join('\n').toStdString());
    ASSERT_EQ(fresh.size(), 2);
    EXPECT_TRUE(fresh[0].contains(QStringLiteral(" last=400000950 "))) << fresh.join('\n').toStdString();
    EXPECT_EQ(shownCount, window->smsModel()->messages().size());
    EXPECT_EQ(shownLabel, window->countLabel()->text());
}

TEST_F(BackupTest, TheSameMessagesTwiceAreStoredOnce)
{
    build();
    backupDeviceAs(QStringLiteral("Twice"));
    backupDeviceAs(QStringLiteral("Twice"));
    EXPECT_EQ(localDbNames(), QStringList{"Twice"});
    EXPECT_EQ(SampleLocalDb::messageGuids(QStringLiteral("Twice")).size(), 6);
    EXPECT_EQ(localDb(QStringLiteral("Twice"))->children.size(), 3);
}

TEST_F(BackupTest, CancellingTheNameDoesNothing)
{
    build();
    makeCurrent(device(kDevice));
    driver.thenReject<LocalDbSelForm>();
    window->invoke("miBackupAll");
    EXPECT_TRUE(localDbNames().isEmpty());
    EXPECT_TRUE(QDir(localDatabasesDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_TRUE(boxes.shown().isEmpty());
}

// Messages whose conversation the database refuses: the backup fails on
// its first message.
struct Refused
{
    Refused()
    {
        _MsgChat *chat = b.chat(1, QStringLiteral("someone@example.com"), 400000000);
        chat->service_name = QStringLiteral("Email");
        chat->guid = QStringLiteral("Email;-;someone@example.com");
        b.message(chat, 1, 400000000, QStringLiteral("lost"));
    }
    MsgSetBuilder b;
};

TEST_F(BackupTest, AFailedBackupTakesAwayTheDatabaseItMade)
{
    build();
    Refused refused;
    driver.then<LocalDbSelForm>(confirmName(nullptr));
    boxes.click(QMessageBox::Ok);
    window->backupMessagesToLocalDb(QStringLiteral("Made For It"), refused.b.set().messageList());

    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.shown()[0].text.contains(QLatin1String("invalid chat"))) << boxes.shown()[0].text.toStdString();
    EXPECT_TRUE(localDbNames().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(localDatabasesDir().filePath(QStringLiteral("Made For It"))));
}

TEST_F(BackupTest, ACancelledBackupTakesAwayTheDatabaseItMade)
{
    build();
    // Enough messages that the run is still going when Cancel is pressed.
    MsgSetBuilder b;
    _MsgChat *chat = b.chat(1, QStringLiteral("+15550000009"), 400000000);
    chat->guid = QStringLiteral("SMS;-;+15550000009");
    chat->service_name = QStringLiteral("SMS");
    for (int i = 1; i <= 20000; ++i)
        b.message(chat, i, 400000000 + i, QStringLiteral("m%1").arg(i))->guid = QStringLiteral("G%1").arg(i);
    driver.then<LocalDbSelForm>(confirmName(nullptr, QStringLiteral("Cancelled")));
    QTimer cancel;
    bool pressed = false;
    QObject::connect(&cancel, &QTimer::timeout, [&pressed] {
        auto *form = qobject_cast<ProgressForm *>(QApplication::activeModalWidget());
        if (!pressed && form && form->isVisible()) {
            pressed = true;
            QTest::mouseClick(form->findChild<QPushButton *>(QStringLiteral("btnCancel")), Qt::LeftButton);
        }
    });
    cancel.start(5);
    window->backupMessagesToLocalDb(QString(), b.set().messageList());

    EXPECT_TRUE(pressed);
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_TRUE(localDbNames().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(localDatabasesDir().filePath(QStringLiteral("Cancelled"))));
}

TEST_F(BackupTest, AFailedBackupLeavesAnExistingDatabaseAsItWas)
{
    SampleLocalDb::write(QStringLiteral("Archive"));
    const QByteArray before = AppHomeFixture::readFile(SampleLocalDb::smsDbPath(QStringLiteral("Archive")));
    build();
    Refused refused;
    driver.then<LocalDbSelForm>(confirmName(nullptr, QStringLiteral("Archive")));
    boxes.click(QMessageBox::Ok);
    window->backupMessagesToLocalDb(QStringLiteral("Archive"), refused.b.set().messageList());

    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(localDbNames(), QStringList{"Archive"});
    EXPECT_EQ(AppHomeFixture::readFile(SampleLocalDb::smsDbPath(QStringLiteral("Archive"))), before);
}

TEST_F(BackupTest, AFolderThatWasThereBeforeIsKeptAfterAFailure)
{
    build();
    // Made after the window listed the databases: not in the tree.
    const QDir late = AppHomeFixture::addLocalDatabase(QStringLiteral("Late"));
    QFile keep(late.filePath(QStringLiteral("notes.txt")));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.write("mine");
    keep.close();
    Refused refused;
    driver.then<LocalDbSelForm>(confirmName(nullptr, QStringLiteral("Late")));
    boxes.click(QMessageBox::Ok);
    window->backupMessagesToLocalDb(QString(), refused.b.set().messageList());

    EXPECT_TRUE(localDbNames().isEmpty());
    EXPECT_EQ(AppHomeFixture::readFile(late.filePath(QStringLiteral("notes.txt"))), QByteArray("mine"));
}

// --- export to a file ---------------------------------------------------------------

struct TargetCase
{
    const char *name;
    QString chosen;
    QString filter;
    QString path;
    int format;
};

void PrintTo(const TargetCase &c, std::ostream *os)
{
    *os << c.name;
}

class ExportTargetTest : public ::testing::TestWithParam<TargetCase>
{
};

TEST_P(ExportTargetTest, PathAndFormatFollowTheFilter)
{
    const MainWindowProbe::ExportTarget target = MainWindowProbe::exportTarget(GetParam().chosen, GetParam().filter);
    EXPECT_EQ(target.format, GetParam().format);
    if (GetParam().format >= 0) {
        EXPECT_EQ(target.path, GetParam().path);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExportTargetTest,
    ::testing::Values(
        TargetCase{"TextGetsItsSuffix", "/d/sms(20130301-120000)", kText, "/d/sms(20130301-120000).txt", 0},
        TargetCase{"TextKeepsAnySuffix", "/d/notes.log", kText, "/d/notes.log", 0},
        TargetCase{"DocIsWrittenAsText", "/d/letter", kDoc, "/d/letter.doc", 0},
        TargetCase{"DocKeepsAnySuffix", "/d/letter.txt", kDoc, "/d/letter.txt", 0},
        TargetCase{"Csv", "/d/table", kCsv, "/d/table.csv", 1},
        TargetCase{"CsvKeepsItsSuffix", "/d/table.csv", kCsv, "/d/table.csv", 1},
        TargetCase{"PdfNamesAFolderWithoutTheSuffixes", "/d/report.final.pdf", kPdf, "/d/report-pdf", 2},
        TargetCase{"PdfWithoutSuffix", "/d/report", kPdf, "/d/report-pdf", 2},
        TargetCase{"PdfInAFolderWithADot", "/d/v1.2/report.pdf", kPdf, "/d/v1.2/report-pdf", 2},
        TargetCase{"Html", "/d/page.html", kHtml, "/d/page-html", 3},
        TargetCase{"AnotherFilter", "/d/x", QStringLiteral("All Files (*)"), QString(), -1},
        TargetCase{"NoFilter", "/d/x", QString(), QString(), -1}),
    CaseName());

class ExportTest : public TransferTest
{
protected:
    void SetUp() override
    {
        TransferTest::SetUp();
        AppHomeFixture::addStoredDevice(kDevice, 3);
        build();
        makeCurrent(device(kDevice));
    }
};

TEST_F(ExportTest, TheSaveDialogProposesADatedNameInTheHomeFolder)
{
    TestClock clock(QDateTime(QDate(2013, 3, 1), QTime(9, 5, 7)));
    const QString proposed = QDir::home().filePath(QStringLiteral("sms(20130301-090507)"));
    saves.answer(proposed, kText);
    boxes.click(QMessageBox::Ok);
    window->invoke("miExportAll");

    ASSERT_EQ(saves.asked().size(), 1);
    const SaveFileAnswerer::Asked &asked = saves.asked()[0];
    EXPECT_TRUE(asked.hasParent);
    EXPECT_EQ(asked.caption, QStringLiteral("Please select Save Path for SMS."));
    EXPECT_EQ(asked.dir, proposed);
    EXPECT_EQ(asked.filter, QStringList({kText, kDoc, kCsv, kPdf, kHtml}).join(QStringLiteral(";;")));
    EXPECT_TRUE(asked.preselected.isEmpty());
    EXPECT_EQ(asked.options, 0);
    // Under the proposed name with the text filter: that name plus ".txt".
    EXPECT_TRUE(QFileInfo(proposed + QStringLiteral(".txt")).isFile());
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("Successfully exported 6 SMS."));
}

TEST_F(ExportTest, EachFilterWritesItsKindOfOutput)
{
    const struct
    {
        QString filter;
        const char *chosen;
        const char *written;
        bool folder;
    } cases[] = {
        {kText, "a", "a.txt", false},       {kDoc, "b", "b.doc", false},
        {kCsv, "c.csv", "c.csv", false},    {kPdf, "d.final.pdf", "d-pdf", true},
        {kHtml, "e.html", "e-html", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.chosen);
        saves.answer(out.filePath(QLatin1String(c.chosen)), c.filter);
        boxes.click(QMessageBox::Ok);
        window->invoke("miExportAll");
        const QFileInfo written(out.filePath(QLatin1String(c.written)));
        if (c.folder) {
            ASSERT_TRUE(written.isDir());
            // One file per conversation.
            EXPECT_EQ(QDir(written.filePath()).entryList(QDir::Files).size(), 3);
        } else {
            EXPECT_TRUE(written.isFile());
        }
        EXPECT_EQ(boxes.shown().last().text, QStringLiteral("Successfully exported 6 SMS."));
    }
    EXPECT_EQ(boxes.shown().size(), 5);
}

TEST_F(ExportTest, CancellingTheSaveDialogDoesNothing)
{
    saves.cancel();
    window->invoke("miExportAll");
    EXPECT_EQ(saves.asked().size(), 1);
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_TRUE(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(ExportTest, AnUnknownFilterIsAnErrorAndWritesNothing)
{
    saves.answer(out.filePath("x"), QStringLiteral("All Files (*)"));
    boxes.click(QMessageBox::Ok);
    window->invoke("miExportAll");
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.shown()[0].text.contains(QLatin1String("unknown export format.")));
    EXPECT_TRUE(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(ExportTest, AFileThatCannotBeWrittenIsAnErrorNeverASuccess)
{
    // A plain file where the output's folder would be: neither a file nor a
    // folder can be made below it.
    QFile blocker(out.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    for (const QString &filter : {kText, kDoc, kCsv, kPdf, kHtml}) {
        SCOPED_TRACE(filter.toStdString());
        saves.answer(out.filePath("blocker/x.out"), filter);
        boxes.click(QMessageBox::Ok);
        const qsizetype before = boxes.shown().size();
        window->invoke("miExportAll");
        ASSERT_EQ(boxes.shown().size(), before + 1);
        EXPECT_EQ(boxes.shown().last().icon, QMessageBox::Critical);
        EXPECT_FALSE(boxes.shown().last().text.contains(QLatin1String("Successfully")));
    }
    EXPECT_EQ(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"blocker"});
}

// --- printing -----------------------------------------------------------------------

TEST_F(ExportTest, PrintingAnEmptySelectionShowsOnePage)
{
    window->selectRows({});
    PreviewRecorder preview(out.filePath("print.pdf"));
    window->invoke("miPrintSel");
    EXPECT_EQ(preview.runs, 1);
    EXPECT_EQ(preview.pages, 1);
    EXPECT_TRUE(boxes.shown().isEmpty());
}

// --- the commands run from the menus, the tool bar and the context menus -------------

enum class Menu
{
    File,
    ToolBar,
    Tree,
    List
};

enum class Effect
{
    AsksForTheDatabase,
    AsksWhereToSave,
    ShowsThePreview,
    ListsTheBackups
};

enum class Spot
{
    Device,
    DeviceConversation,
    LocalDb,
    LocalDbConversation
};

struct EntryCase
{
    const char *name;
    Spot spot;
    Menu menu;
    const char *entry;
    Effect effect;
};

void PrintTo(const EntryCase &c, std::ostream *os)
{
    *os << c.name;
}

class EntryTest : public TransferTest, public ::testing::WithParamInterface<EntryCase>
{
};

TEST_P(EntryTest, RunsItsCommand)
{
    const EntryCase &c = GetParam();
    AppHomeFixture::addStoredDevice(kDevice, 2);
    SampleLocalDb::write(QStringLiteral("Sample"));
    build();
    Node *source = (c.spot == Spot::Device || c.spot == Spot::DeviceConversation)
                       ? device(kDevice)
                       : localDb(QStringLiteral("Sample"));
    ASSERT_NE(source, nullptr);
    if (c.spot == Spot::LocalDb || c.spot == Spot::LocalDbConversation) {
        // Its conversations are listed once it has been selected.
        makeCurrent(source);
    }
    Node *node = (c.spot == Spot::DeviceConversation || c.spot == Spot::LocalDbConversation)
                     ? source->children.value(0)
                     : source;
    ASSERT_NE(node, nullptr);
    makeCurrent(node);
    if (c.menu == Menu::List)
        window->selectRows({0});

    PreviewRecorder preview(out.filePath("print.pdf"));
    switch (c.effect) {
    case Effect::AsksForTheDatabase:
        driver.thenReject<LocalDbSelForm>();
        break;
    case Effect::AsksWhereToSave:
        saves.cancel();
        break;
    case Effect::ShowsThePreview:
        break;
    case Effect::ListsTheBackups:
        driver.thenReject<LoadItunesBackupDlg>();
        break;
    }

    const QString entry = QLatin1String(c.entry);
    bool triggered = false;
    switch (c.menu) {
    case Menu::File:
        triggered = window->triggerFileMenuEntry(entry);
        break;
    case Menu::ToolBar: {
        const QList<QAction *> actions = window->findChild<QToolBar *>(QStringLiteral("mainToolBar"))->actions();
        for (QAction *a : actions) {
            if (a->text() == entry && a->isEnabled()) {
                a->trigger();
                triggered = true;
                break;
            }
        }
        break;
    }
    case Menu::Tree:
        triggered = window->triggerTreeContextEntry(entry);
        break;
    case Menu::List:
        triggered = window->triggerListContextEntry(entry);
        break;
    }
    ASSERT_TRUE(triggered) << c.entry;

    EXPECT_EQ(saves.asked().size(), c.effect == Effect::AsksWhereToSave ? 1 : 0);
    EXPECT_EQ(preview.runs, c.effect == Effect::ShowsThePreview ? 1 : 0);
    QStringList dialogs;
    if (c.effect == Effect::AsksForTheDatabase)
        dialogs.append(QStringLiteral("LocalDbSelForm"));
    if (c.effect == Effect::ListsTheBackups)
        dialogs.append(QStringLiteral("LoadItunesBackupDlg"));
    EXPECT_EQ(driver.handled(), dialogs);
    EXPECT_TRUE(boxes.shown().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EntryTest,
    ::testing::Values(
        EntryCase{"FileBackup", Spot::Device, Menu::File, "Backup SMS to Local Database", Effect::AsksForTheDatabase},
        EntryCase{"FileExport", Spot::LocalDb, Menu::File, "Export SMS to File", Effect::AsksWhereToSave},
        EntryCase{"FilePrint", Spot::DeviceConversation, Menu::File, "Print SMS", Effect::ShowsThePreview},
        EntryCase{"FileImport", Spot::Device, Menu::File, "Import SMS from iTunes Backup to Local Database",
                  Effect::ListsTheBackups},
        EntryCase{"ToolBarBackup", Spot::DeviceConversation, Menu::ToolBar, "Backup SMS to Local Database",
                  Effect::AsksForTheDatabase},
        EntryCase{"ToolBarExport", Spot::Device, Menu::ToolBar, "Export SMS to File", Effect::AsksWhereToSave},
        EntryCase{"ToolBarPrint", Spot::LocalDbConversation, Menu::ToolBar, "Print SMS", Effect::ShowsThePreview},
        EntryCase{"DeviceBackup", Spot::Device, Menu::Tree, "Backup SMS to Local Database",
                  Effect::AsksForTheDatabase},
        EntryCase{"DeviceExport", Spot::Device, Menu::Tree, "Export SMS to File", Effect::AsksWhereToSave},
        EntryCase{"DevicePrint", Spot::Device, Menu::Tree, "Print SMS", Effect::ShowsThePreview},
        EntryCase{"LocalDbExport", Spot::LocalDb, Menu::Tree, "Export SMS to File", Effect::AsksWhereToSave},
        EntryCase{"LocalDbPrint", Spot::LocalDb, Menu::Tree, "Print SMS", Effect::ShowsThePreview},
        EntryCase{"LocalDbImport", Spot::LocalDb, Menu::Tree, "Import SMS from iTunes Backup to this Local Database",
                  Effect::ListsTheBackups},
        EntryCase{"DeviceConversationBackup", Spot::DeviceConversation, Menu::Tree,
                  "Backup SMS with this contact to Local Database", Effect::AsksForTheDatabase},
        EntryCase{"DeviceConversationExport", Spot::DeviceConversation, Menu::Tree,
                  "Export SMS with this contact to File", Effect::AsksWhereToSave},
        EntryCase{"DeviceConversationPrint", Spot::DeviceConversation, Menu::Tree, "Print SMS with this contact",
                  Effect::ShowsThePreview},
        EntryCase{"LocalDbConversationExport", Spot::LocalDbConversation, Menu::Tree,
                  "Export SMS with this contact to File", Effect::AsksWhereToSave},
        EntryCase{"LocalDbConversationPrint", Spot::LocalDbConversation, Menu::Tree, "Print SMS with this contact",
                  Effect::ShowsThePreview},
        EntryCase{"DeviceListBackup", Spot::Device, Menu::List, "Backup Selected SMS to Local Database",
                  Effect::AsksForTheDatabase},
        EntryCase{"DeviceListExport", Spot::Device, Menu::List, "Export Selected SMS to File",
                  Effect::AsksWhereToSave},
        EntryCase{"DeviceListPrint", Spot::DeviceConversation, Menu::List, "Print Selected SMS",
                  Effect::ShowsThePreview},
        EntryCase{"LocalDbListExport", Spot::LocalDbConversation, Menu::List, "Export Selected SMS to File",
                  Effect::AsksWhereToSave},
        EntryCase{"LocalDbListPrint", Spot::LocalDb, Menu::List, "Print Selected SMS", Effect::ShowsThePreview}),
    CaseName());

} // namespace
