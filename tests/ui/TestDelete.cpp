#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTranslator>

#include <gtest/gtest.h>

#include <memory>

#include "AppFolders.h"
#include "AppHomeFixture.h"
#include "CaseName.h"
#include "DbInspect.h"
#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "MessageBoxAnswerer.h"
#include "ModalDriver.h"
#include "MyTreeView.h"
#include "OpenMainWindow.h"
#include "ProgressForm.h"
#include "SampleLocalDb.h"
#include "ServiceUrlScope.h"
#include "SmsBrowser.h"
#include "_ChatSessionItemNode.h"
#include "_LocalDBItemNode.h"
#include "_RootDeviceItemNode.h"
#include "_RootLocalDBItemNode.h"

namespace
{

using AbsNode = AbsTreeItemModel::_ItemNode;

const QString kArchive = QStringLiteral("Archive");
const QStringList kAll{"MSG-1", "MSG-2", "MSG-3", "MSG-4", "MSG-5", "MSG-6"};

QString plain(const QString &richText)
{
    QTextDocument doc;
    doc.setHtml(richText);
    return doc.toPlainText();
}

QStringList guidsOf(const QList<_MsgMessage *> &messages)
{
    QStringList guids;
    for (const _MsgMessage *m : messages)
        guids.append(m->guid);
    return guids;
}

// The sample local database "Archive" (conversations "+15550000001" with
// MSG-1 to MSG-3 and "Weekend" with MSG-4 to MSG-6) and a second one,
// "Spare", with the same content, in the window, both read.
class DeleteTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
        SampleLocalDb::write(kArchive);
        SampleLocalDb::write(QStringLiteral("Spare"));
        AppHomeFixture::addStoredDevice(QStringLiteral("Desk Phone"), 2);
        window = std::make_unique<OpenMainWindow>();
        model = window->mainModel();
        sms = window->smsModel();
        window->makeCurrent(spare());
        window->makeCurrent(archive());
        ASSERT_EQ(archive()->children.size(), 2);
        ASSERT_EQ(shownGuids(), kAll);
    }
    void TearDown() override
    {
        window.reset();
        QCoreApplication::removeTranslator(&translator);
    }

    _LocalDBItemNode *archive() const { return findDb(kArchive); }
    _LocalDBItemNode *spare() const { return findDb(QStringLiteral("Spare")); }
    _LocalDBItemNode *findDb(const QString &name) const
    {
        for (AbsNode *n : model->localDbRoot()->children) {
            if (n->name == name)
                return static_cast<_LocalDBItemNode *>(n);
        }
        return nullptr;
    }
    AbsNode *session(const QString &name) const
    {
        if (!archive())
            return nullptr;
        for (AbsNode *n : archive()->children) {
            if (n->name == name)
                return n;
        }
        return nullptr;
    }
    AbsNode *weekend() const { return session(QStringLiteral("Weekend")); }
    QStringList shownGuids() const { return guidsOf(sms->messages()); }
    QStringList sessionNames() const
    {
        QStringList names;
        for (const AbsNode *n : archive()->children)
            names.append(n->name);
        return names;
    }
    // Selects the rows of the list that show these messages.
    void selectGuids(const QStringList &guids)
    {
        QList<int> rows;
        for (const QString &g : guids)
            rows.append(int(shownGuids().indexOf(g)));
        window->selectRows(rows);
        ASSERT_EQ(guidsOf(window->selectedMessages()).size(), guids.size());
    }
    // The records the node holds, by guid, in key order.
    static QStringList recordGuids(const _LocalDBItemNode *node)
    {
        return guidsOf(node->dataSet.messageList());
    }
    QStringList boxTexts() const
    {
        QStringList texts;
        for (const MessageBoxAnswerer::Shown &s : boxes.shown())
            texts.append(plain(s.text));
        return texts;
    }
    QStringList fileGuids() const { return SampleLocalDb::messageGuids(kArchive); }

    QTranslator translator;
    ServiceUrlScope url{QStringLiteral("none:")};
    MessageBoxAnswerer boxes;
    std::unique_ptr<OpenMainWindow> window;
    ItemModelMain *model = nullptr;
    ItemModelSms *sms = nullptr;
};

TEST_F(DeleteTest, DeletingSelectedRowsOfADatabaseRemovesOnlyThoseAndKeepsTheDatabaseCurrent)
{
    selectGuids({"MSG-2", "MSG-4"});
    boxes.click(QMessageBox::Yes).click(QMessageBox::Ok);
    window->miDelSel();

    EXPECT_EQ(boxTexts(), (QStringList{"Confirm to delete the selected SMS?", "Successfully Deleted 2 SMS."}));
    EXPECT_EQ(boxes.shown().value(0).icon, QMessageBox::Question);
    EXPECT_EQ(fileGuids(), (QStringList{"MSG-1", "MSG-3", "MSG-5", "MSG-6"}));
    EXPECT_EQ(recordGuids(archive()), (QStringList{"MSG-1", "MSG-3", "MSG-5", "MSG-6"}));
    EXPECT_EQ(window->currentNode(), archive());
    EXPECT_EQ(shownGuids(), (QStringList{"MSG-1", "MSG-3", "MSG-5", "MSG-6"}));
    EXPECT_EQ(window->conversationView()->messages(), sms->messages());
    EXPECT_EQ(window->countLabel()->text(), QStringLiteral("SMS: 4"));
    // Each conversation lets go of its deleted message.
    AbsNode *first = session(QStringLiteral("Weekend"));
    ASSERT_NE(first, nullptr);
    window->makeCurrent(first);
    EXPECT_EQ(shownGuids(), (QStringList{"MSG-5", "MSG-6"}));
    // The other database is untouched.
    EXPECT_EQ(SampleLocalDb::messageGuids(QStringLiteral("Spare")), kAll);
}

TEST_F(DeleteTest, DeleteSmsWithRowsSelectedDeletesOnlyThemEvenInAConversation)
{
    window->makeCurrent(weekend());
    ASSERT_EQ(shownGuids(), (QStringList{"MSG-4", "MSG-5", "MSG-6"}));
    selectGuids({"MSG-5"});
    boxes.click(QMessageBox::Yes).click(QMessageBox::Ok);
    window->miDel();

    EXPECT_EQ(boxTexts(), (QStringList{"Confirm to delete the selected SMS?", "Successfully Deleted 1 SMS."}));
    EXPECT_EQ(fileGuids(), (QStringList{"MSG-1", "MSG-2", "MSG-3", "MSG-4", "MSG-6"}));
    EXPECT_EQ(window->currentNode(), weekend());
    EXPECT_EQ(shownGuids(), (QStringList{"MSG-4", "MSG-6"}));
    EXPECT_EQ(sessionNames().size(), 2);
}

TEST_F(DeleteTest, SelectedRowsThatEmptyAConversationTakeItsNodeAway)
{
    // The file drops a conversation with its last message; the tree follows.
    const struct
    {
        const char *name;
        bool fromWeekend; // the rows selected in the Weekend conversation, else in the database
        QStringList selected;
        QStringList sessionsLeft;
        QStringList shownAfter;
    } cases[] = {
        {"every message of the database", false, kAll, {}, {}},
        {"every message of one conversation, from the database", false, {"MSG-4", "MSG-5", "MSG-6"},
         {"Ann"}, {"MSG-1", "MSG-2", "MSG-3"}},
        {"every message of the conversation on show", true, {"MSG-4", "MSG-5", "MSG-6"}, {"Ann"},
         {"MSG-1", "MSG-2", "MSG-3"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        window.reset();
        ASSERT_TRUE(QDir(localDatabasesDir().filePath(kArchive)).removeRecursively());
        SampleLocalDb::write(kArchive);
        window = std::make_unique<OpenMainWindow>();
        model = window->mainModel();
        sms = window->smsModel();
        window->makeCurrent(archive());
        if (c.fromWeekend)
            window->makeCurrent(weekend());
        selectGuids(c.selected);
        boxes.click(QMessageBox::Yes).click(QMessageBox::Ok);
        window->miDel();

        EXPECT_EQ(boxTexts().value(boxTexts().size() - 1),
                  QStringLiteral("Successfully Deleted %1 SMS.").arg(c.selected.size()));
        EXPECT_EQ(sessionNames().join(',').toStdString(), c.sessionsLeft.join(',').toStdString());
        EXPECT_EQ(archive()->dataSet.data()->chats.size(), c.sessionsLeft.size());
        // The database shows what is left of it.
        EXPECT_EQ(window->currentNode(), archive());
        EXPECT_EQ(shownGuids(), c.shownAfter);
        EXPECT_EQ(window->countLabel()->text(), QStringLiteral("SMS: %1").arg(c.shownAfter.size()));
        // As the window would read the file afresh.
        window.reset();
        window = std::make_unique<OpenMainWindow>();
        model = window->mainModel();
        sms = window->smsModel();
        window->makeCurrent(archive());
        EXPECT_EQ(sessionNames().join(',').toStdString(), c.sessionsLeft.join(',').toStdString());
    }
}

TEST_F(DeleteTest, DeletingAConversationRemovesItsNodeAndEmptiesTheList)
{
    window->makeCurrent(weekend());
    boxes.click(QMessageBox::Yes).click(QMessageBox::Ok);
    // Nothing selected: the conversation goes.
    window->miDel();

    EXPECT_EQ(boxTexts(),
              (QStringList{"Confirm to delete SMS with this contact?", "Successfully Deleted 3 SMS."}));
    EXPECT_EQ(fileGuids(), (QStringList{"MSG-1", "MSG-2", "MSG-3"}));
    EXPECT_EQ(weekend(), nullptr);
    EXPECT_EQ(sessionNames().size(), 1);
    EXPECT_TRUE(sms->messages().isEmpty());
    EXPECT_TRUE(window->conversationView()->messages().isEmpty());
    EXPECT_EQ(window->countLabel()->text(), QStringLiteral("SMS: 0"));
    EXPECT_EQ(window->currentNode(), nullptr);
    EXPECT_EQ(recordGuids(archive()), (QStringList{"MSG-1", "MSG-2", "MSG-3"}));
    EXPECT_EQ(archive()->dataSet.data()->chats.size(), 1);

    // What is left still shows.
    window->makeCurrent(archive());
    EXPECT_EQ(shownGuids(), (QStringList{"MSG-1", "MSG-2", "MSG-3"}));
    window->makeCurrent(archive()->children.value(0));
    EXPECT_EQ(shownGuids(), (QStringList{"MSG-1", "MSG-2", "MSG-3"}));
}

TEST_F(DeleteTest, DeletingADatabaseRemovesItsFolderAndNode)
{
    const QString folder = localDatabasesDir().filePath(kArchive);
    boxes.click(QMessageBox::Yes).click(QMessageBox::Ok);
    window->miDel();

    EXPECT_EQ(boxTexts(), (QStringList{"Confirm to delete this Database?", "Successfully Deleted Database Archive."}));
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_EQ(archive(), nullptr);
    ASSERT_NE(spare(), nullptr);
    // The tree moves on to the next database; nothing on show comes from
    // the records of the one deleted.
    for (const QList<_MsgMessage *> &shown : {sms->messages(), window->conversationView()->messages()}) {
        for (_MsgMessage *m : shown)
            EXPECT_EQ(spare()->dataSet.data()->messages.value(m->_key), m);
    }
    EXPECT_EQ(SampleLocalDb::messageGuids(QStringLiteral("Spare")), kAll);
}

TEST_F(DeleteTest, ADatabaseFolderThatCannotBeRemovedIsReportedAndStaysListed)
{
    // The folder gives way to a plain file, which cannot be removed as a
    // folder.
    const QString folder = localDatabasesDir().filePath(kArchive);
    archive()->db->close();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    {
        QFile f(folder);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("in the way");
    }
    boxes.click(QMessageBox::Yes).click(QMessageBox::Ok);
    window->miDelAll();

    ASSERT_EQ(boxes.shown().size(), 2);
    EXPECT_EQ(boxes.shown()[1].icon, QMessageBox::Warning);
    EXPECT_TRUE(boxTexts()[1].startsWith(QStringLiteral("Failed to delete Database Archive completely.")))
        << boxTexts()[1].toStdString();
    ASSERT_NE(archive(), nullptr);
    EXPECT_TRUE(archive()->children.isEmpty());
    EXPECT_TRUE(archive()->dataSet.data()->messages.isEmpty());
    EXPECT_TRUE(sms->messages().isEmpty());
}

// After a failed read the list may still show another source's messages.
TEST_F(DeleteTest, SelectedRowsOfAnotherSourceAreNeverDeletedFromTheCurrentDatabase)
{
    window->showChatMessages(spare()->dataSet.messageList());
    selectGuids({"MSG-1", "MSG-2"});
    window->miDelSel();
    window->miDel();
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_EQ(fileGuids(), kAll);
    EXPECT_EQ(SampleLocalDb::messageGuids(QStringLiteral("Spare")), kAll);
    EXPECT_EQ(recordGuids(spare()), kAll);
}

TEST_F(DeleteTest, DeletingAConversationTakesItsOwnMessagesWhateverTheListShows)
{
    window->makeCurrent(weekend());
    window->showChatMessages(spare()->dataSet.messageList());
    boxes.click(QMessageBox::Yes).click(QMessageBox::Ok);
    window->miDelChat();
    EXPECT_EQ(boxTexts(),
              (QStringList{"Confirm to delete SMS with this contact?", "Successfully Deleted 3 SMS."}));
    EXPECT_EQ(fileGuids(), (QStringList{"MSG-1", "MSG-2", "MSG-3"}));
    EXPECT_EQ(SampleLocalDb::messageGuids(QStringLiteral("Spare")), kAll);
    EXPECT_EQ(recordGuids(spare()), kAll);
    EXPECT_EQ(weekend(), nullptr);
}

struct RefusalCase
{
    const char *name;
    enum Slot { Sel, Chat, All } slot;
    bool escape; // Escape instead of No
};

void PrintTo(const RefusalCase &c, std::ostream *os)
{
    *os << c.name;
}

class RefusedDeleteTest : public DeleteTest, public ::testing::WithParamInterface<RefusalCase>
{
};

TEST_P(RefusedDeleteTest, AnsweringNoChangesNothing)
{
    const RefusalCase &c = GetParam();
    const QByteArray before = fileDigest(SampleLocalDb::smsDbPath(kArchive));
    if (c.slot == RefusalCase::Chat)
        window->makeCurrent(weekend());
    if (c.slot == RefusalCase::Sel)
        selectGuids({"MSG-1"});
    const QStringList shown = shownGuids();
    if (c.escape)
        boxes.pressEscape();
    else
        boxes.click(QMessageBox::No);
    switch (c.slot) {
    case RefusalCase::Sel:
        window->miDelSel();
        break;
    case RefusalCase::Chat:
        window->miDelChat();
        break;
    case RefusalCase::All:
        window->miDelAll();
        break;
    }
    EXPECT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(fileDigest(SampleLocalDb::smsDbPath(kArchive)), before);
    EXPECT_EQ(fileGuids(), kAll);
    EXPECT_EQ(recordGuids(archive()), kAll);
    EXPECT_EQ(sessionNames().size(), 2);
    EXPECT_EQ(shownGuids(), shown);
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedDeleteTest,
    ::testing::Values(RefusalCase{"SelectedNo", RefusalCase::Sel, false},
        RefusalCase{"SelectedEscape", RefusalCase::Sel, true}, RefusalCase{"ChatNo", RefusalCase::Chat, false},
        RefusalCase{"DatabaseNo", RefusalCase::All, false}, RefusalCase{"DatabaseEscape", RefusalCase::All, true}),
    CaseName());

class CancelledDeleteTest : public DeleteTest, public ::testing::WithParamInterface<RefusalCase>
{
};

TEST_P(CancelledDeleteTest, CancellingTheProgressLeavesFileAndWindowUnchanged)
{
    const RefusalCase &c = GetParam();
    if (c.slot == RefusalCase::Chat)
        window->makeCurrent(weekend());
    else
        selectGuids({"MSG-1", "MSG-2", "MSG-5"});
    const QStringList shown = shownGuids();
    const QByteArray before = fileDigest(SampleLocalDb::smsDbPath(kArchive));

    // Another connection holds the file exclusively, so the deletion waits
    // at its first message until Cancel has been pressed.
    Sqlite3DB blocker;
    blocker.openThrow(SampleLocalDb::smsDbPath(kArchive), Sqlite3DB::ReadWrite);
    QString error;
    ASSERT_EQ(blocker.exec(QStringLiteral("begin exclusive"), error), 0) << error.toStdString();
    whenModalShown("ProgressForm", [&](QWidget *dialog) {
        auto *form = qobject_cast<ProgressForm *>(dialog);
        ASSERT_NE(form, nullptr) << dialog->metaObject()->className();
        QTest::mousePress(form->findChild<QPushButton *>(QStringLiteral("btnCancel")), Qt::LeftButton);
        QString ignored;
        blocker.exec(QStringLiteral("rollback"), ignored);
    });
    boxes.click(QMessageBox::Yes);
    if (c.slot == RefusalCase::Chat)
        window->miDelChat();
    else
        window->miDelSel();
    blocker.close();

    EXPECT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(fileDigest(SampleLocalDb::smsDbPath(kArchive)), before);
    EXPECT_EQ(fileGuids(), kAll);
    EXPECT_EQ(recordGuids(archive()), kAll);
    EXPECT_EQ(sessionNames().size(), 2);
    EXPECT_EQ(shownGuids(), shown);
}

INSTANTIATE_TEST_SUITE_P(Cases, CancelledDeleteTest,
    ::testing::Values(RefusalCase{"Selected", RefusalCase::Sel, false},
        RefusalCase{"Chat", RefusalCase::Chat, false}),
    CaseName());

enum class Where { NoNode, DeviceRoot, LocalDbRoot, Device, DeviceChat };

struct NowhereCase
{
    const char *name;
    Where where;
};

void PrintTo(const NowhereCase &c, std::ostream *os)
{
    *os << c.name;
}

class DeleteElsewhereTest : public DeleteTest, public ::testing::WithParamInterface<NowhereCase>
{
};

TEST_P(DeleteElsewhereTest, DeletingIsOnlyForLocalDatabases)
{
    AbsNode *device = model->deviceRoot()->children.value(0);
    ASSERT_NE(device, nullptr);
    switch (GetParam().where) {
    case Where::NoNode:
        window->makeCurrent(nullptr);
        break;
    case Where::DeviceRoot:
        window->makeCurrent(model->deviceRoot());
        break;
    case Where::LocalDbRoot:
        window->makeCurrent(model->localDbRoot());
        break;
    case Where::Device:
        window->makeCurrent(device);
        break;
    case Where::DeviceChat:
        window->makeCurrent(device->children.value(0));
        break;
    }
    if (!sms->messages().isEmpty())
        window->selectRows({0});
    const QByteArray phoneDb = fileDigest(
        appDataDir().filePath(QStringLiteral("virtual_ios/Desk Phone/file-relay/var/mobile/Library/SMS/sms.db")));
    window->miDel();
    window->miDelSel();
    window->miDelChat();
    window->miDelAll();
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_EQ(model->deviceRoot()->children.size(), 1);
    EXPECT_EQ(model->localDbRoot()->children.size(), 2);
    EXPECT_EQ(fileDigest(appDataDir().filePath(
                  QStringLiteral("virtual_ios/Desk Phone/file-relay/var/mobile/Library/SMS/sms.db"))),
              phoneDb);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeleteElsewhereTest,
    ::testing::Values(NowhereCase{"NoCurrentNode", Where::NoNode}, NowhereCase{"DeviceRoot", Where::DeviceRoot},
        NowhereCase{"LocalDbRoot", Where::LocalDbRoot}, NowhereCase{"Device", Where::Device},
        NowhereCase{"DeviceConversation", Where::DeviceChat}),
    CaseName());

TEST_F(DeleteTest, TheContextMenusReachTheDeletions)
{
    // The database's menu: its last entry deletes it.
    window->onMenu = [](QMenu &menu) {
        QAction *last = menu.actions().last();
        ASSERT_EQ(last->text(), QStringLiteral("Delete this Database"));
        last->trigger();
    };
    boxes.click(QMessageBox::No);
    window->onMainTreeContextMenu();
    // The conversation's menu.
    window->makeCurrent(weekend());
    window->onMenu = [](QMenu &menu) {
        QAction *last = menu.actions().last();
        ASSERT_EQ(last->text(), QStringLiteral("Delete SMS with this contact"));
        last->trigger();
    };
    boxes.click(QMessageBox::No);
    window->onMainTreeContextMenu();
    // The list's menu.
    selectGuids({"MSG-4"});
    window->onMenu = [](QMenu &menu) {
        QAction *last = menu.actions().last();
        ASSERT_EQ(last->text(), QStringLiteral("Delete Selected SMS"));
        last->trigger();
    };
    boxes.click(QMessageBox::No);
    window->onSMSContextMenu();

    EXPECT_EQ(boxTexts(), (QStringList{"Confirm to delete this Database?", "Confirm to delete SMS with this contact?",
                                       "Confirm to delete the selected SMS?"}));
}

} // namespace
