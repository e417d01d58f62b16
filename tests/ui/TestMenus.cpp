#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

#include <gtest/gtest.h>

#include <memory>

#include "AppHomeFixture.h"
#include "CaseName.h"
#include "ItemModelMain.h"
#include "MessageBoxAnswerer.h"
#include "OpenMainWindow.h"
#include "SampleLocalDb.h"
#include "ServiceUrlScope.h"
#include "_ChatSessionItemNode.h"
#include "_IOSDeviceItemNode.h"
#include "_LocalDBItemNode.h"
#include "_RootDeviceItemNode.h"
#include "_RootLocalDBItemNode.h"

namespace
{

using Entry = OpenMainWindow::Entry;
using AbsNode = AbsTreeItemModel::_ItemNode;

// Entries written as "text", "text|icon", "text|off", "text|icon|off";
// "-" is a separator. An icon counts only when its picture loads.
QStringList entryLines(const QList<Entry> &list)
{
    QStringList lines;
    for (const Entry &e : list) {
        if (e.separator) {
            lines.append(QStringLiteral("-"));
            continue;
        }
        QString s = e.text;
        if (e.hasIcon)
            s += QStringLiteral("|icon");
        if (!e.enabled)
            s += QStringLiteral("|off");
        lines.append(s);
    }
    return lines;
}

QStringList menuLines(const QList<QAction *> &actions)
{
    return entryLines(OpenMainWindow::entriesOf(actions));
}

// "|off" when the rule disables the entry.
QString off(bool enabled)
{
    return enabled ? QString() : QStringLiteral("|off");
}

class MenusTest : public ::testing::Test
{
protected:
    // A home with the given number of stored devices, each with two
    // conversations, and one local database with the sample conversations,
    // whose conversation nodes come when it is first selected.
    void build(int devices)
    {
        for (int i = 0; i < devices; ++i)
            AppHomeFixture::addStoredDevice(QStringLiteral("Phone %1").arg(i + 1), 2);
        SampleLocalDb::write(QStringLiteral("Archive"));
        window = std::make_unique<OpenMainWindow>();
        model = window->mainModel();
        window->makeCurrent(localDb());
        ASSERT_EQ(localDb()->children.size(), 2);
        window->makeCurrent(nullptr);
    }

    AbsNode *firstDevice() const { return model->deviceRoot()->children.value(0); }
    AbsNode *localDb() const { return model->localDbRoot()->children.value(0); }

    ServiceUrlScope url{QStringLiteral("none:")};
    MessageBoxAnswerer boxes;
    std::unique_ptr<OpenMainWindow> window;
    ItemModelMain *model = nullptr;
};

TEST_F(MenusTest, TheMenuBarHoldsFileToolsAndHelpInOrder)
{
    build(0);
    const QList<QAction *> menus = window->findChild<QMenuBar *>(QStringLiteral("menuBar"))->actions();
    ASSERT_EQ(menus.size(), 3);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("File"));
    EXPECT_EQ(menus[1]->text(), QStringLiteral("Tools"));
    EXPECT_EQ(menus[2]->text(), QStringLiteral("Help"));

    EXPECT_EQ(menuLines(menus[0]->menu()->actions()),
              (QStringList{"Backup SMS to Local Database|icon|off", "Transfer iPhone SMS to other iPhone|icon|off",
                           "Transfer SMS from Database to iPhone|icon|off", "-", "Export SMS to File|icon|off",
                           "Print SMS|icon|off", "Delete SMS|icon|off", "-",
                           "Import SMS from iTunes Backup to Local Database|icon", "Open Database Folder|icon",
                           "Exit|icon"}));
    EXPECT_EQ(menuLines(menus[1]->menu()->actions()), (QStringList{"Check for Update", "Clear Cache files"}));
    EXPECT_EQ(menuLines(menus[2]->menu()->actions()),
              (QStringList{"Help|icon", "Feedback and Support", "About"}));
    for (const QAction *menu : menus) {
        for (const QAction *a : menu->menu()->actions())
            EXPECT_TRUE(a->shortcut().isEmpty()) << a->text().toStdString();
    }
}

TEST_F(MenusTest, TheToolBarSharesTheSixDataActionsOfTheFileMenu)
{
    build(0);
    const QToolBar *bar = window->findChild<QToolBar *>(QStringLiteral("mainToolBar"));
    ASSERT_NE(bar, nullptr);
    const QList<QAction *> actions = bar->actions();
    ASSERT_EQ(actions.size(), 7);
    EXPECT_EQ(actions[0], window->backupAction());
    EXPECT_EQ(actions[1], window->i2iAction());
    EXPECT_EQ(actions[2], window->db2iAction());
    EXPECT_TRUE(actions[3]->isSeparator());
    EXPECT_EQ(actions[4], window->exportAction());
    EXPECT_EQ(actions[5], window->printAction());
    EXPECT_EQ(actions[6], window->deleteAction());
    EXPECT_EQ(bar->iconSize(), QSize(60, 60));
}

TEST_F(MenusTest, ExitClosesTheWindow)
{
    build(0);
    window->show();
    QAction *exit = nullptr;
    for (QAction *a : window->findChild<QMenuBar *>(QStringLiteral("menuBar"))->actions().value(0)->menu()->actions()) {
        if (a->text() == QLatin1String("Exit"))
            exit = a;
    }
    ASSERT_NE(exit, nullptr);
    exit->trigger();
    EXPECT_FALSE(window->isVisible());
}

// --- the enabling rule -------------------------------------------------------------

struct RuleCase
{
    const char *name;
    int sourceType;
    int devices;
    // Backup, I2I, Db2I, Export, Print, Delete
    QList<bool> expected;
};

void PrintTo(const RuleCase &c, std::ostream *os)
{
    *os << c.name;
}

class DataActionRuleTest : public ::testing::TestWithParam<RuleCase>
{
};

TEST_P(DataActionRuleTest, FollowsTheKindOfSourceAndTheNumberOfDevices)
{
    const MainWindow::DataActions a = MainWindow::dataActionsFor(GetParam().sourceType, GetParam().devices);
    EXPECT_EQ((QList<bool>{a.backup, a.i2i, a.db2i, a.exportFile, a.print, a.del}), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DataActionRuleTest,
    ::testing::Values(RuleCase{"NoSource", 0, 2, {false, false, false, false, false, false}},
        RuleCase{"DeviceRoot", _RootDeviceItemNode::Type, 2, {false, false, false, false, false, false}},
        RuleCase{"OneDevice", _IOSDeviceItemNode::Type, 1, {true, false, false, true, true, false}},
        RuleCase{"TwoDevices", _IOSDeviceItemNode::Type, 2, {true, true, false, true, true, false}},
        RuleCase{"LocalDbWithoutDevice", _LocalDBItemNode::Type, 0, {false, false, false, true, true, true}},
        RuleCase{"LocalDbWithOneDevice", _LocalDBItemNode::Type, 1, {false, false, true, true, true, true}},
        RuleCase{"LocalDbWithTwoDevices", _LocalDBItemNode::Type, 2, {false, false, true, true, true, true}}),
    CaseName());

enum class Pick { Nothing, DeviceRoot, LocalDbRoot, Device, DeviceChat, LocalDb, LocalDbChat };

struct EnablingCase
{
    const char *name;
    int devices;
    Pick pick;
    int sourceType; // the source the rule is asked about
};

void PrintTo(const EnablingCase &c, std::ostream *os)
{
    *os << c.name;
}

class ActionEnablingTest : public MenusTest, public ::testing::WithParamInterface<EnablingCase>
{
protected:
    AbsNode *picked(Pick pick)
    {
        switch (pick) {
        case Pick::Nothing:
            return nullptr;
        case Pick::DeviceRoot:
            return model->deviceRoot();
        case Pick::LocalDbRoot:
            return model->localDbRoot();
        case Pick::Device:
            return firstDevice();
        case Pick::DeviceChat:
            return firstDevice()->children.value(0);
        case Pick::LocalDb:
            return localDb();
        case Pick::LocalDbChat:
            return localDb()->children.value(0);
        }
        return nullptr;
    }
};

TEST_P(ActionEnablingTest, TheSixActionsFollowTheCurrentSource)
{
    const EnablingCase &c = GetParam();
    build(c.devices);
    AbsNode *node = picked(c.pick);
    ASSERT_TRUE(c.pick == Pick::Nothing || node);
    // From some other node first, so that the change is a real one.
    if (c.pick == Pick::LocalDbRoot)
        window->makeCurrent(model->deviceRoot());
    else
        window->makeCurrent(model->localDbRoot());
    window->makeCurrent(node);

    const MainWindow::DataActions rule = MainWindow::dataActionsFor(c.sourceType, c.devices);
    EXPECT_EQ(window->backupAction()->isEnabled(), rule.backup);
    EXPECT_EQ(window->i2iAction()->isEnabled(), rule.i2i);
    EXPECT_EQ(window->db2iAction()->isEnabled(), rule.db2i);
    EXPECT_EQ(window->exportAction()->isEnabled(), rule.exportFile);
    EXPECT_EQ(window->printAction()->isEnabled(), rule.print);
    EXPECT_EQ(window->deleteAction()->isEnabled(), rule.del);
}

INSTANTIATE_TEST_SUITE_P(Cases, ActionEnablingTest,
    ::testing::Values(EnablingCase{"DeviceRoot", 1, Pick::DeviceRoot, 0},
        EnablingCase{"LocalDbRoot", 1, Pick::LocalDbRoot, 0},
        EnablingCase{"OneDevice", 1, Pick::Device, _IOSDeviceItemNode::Type},
        EnablingCase{"TwoDevices", 2, Pick::Device, _IOSDeviceItemNode::Type},
        EnablingCase{"ChatOfOneDevice", 1, Pick::DeviceChat, _IOSDeviceItemNode::Type},
        EnablingCase{"ChatOfTwoDevices", 2, Pick::DeviceChat, _IOSDeviceItemNode::Type},
        EnablingCase{"LocalDbWithoutDevice", 0, Pick::LocalDb, _LocalDBItemNode::Type},
        EnablingCase{"LocalDbWithOneDevice", 1, Pick::LocalDb, _LocalDBItemNode::Type},
        EnablingCase{"ChatOfLocalDbWithTwoDevices", 2, Pick::LocalDbChat, _LocalDBItemNode::Type}),
    CaseName());

TEST_F(MenusTest, TheDataActionsStartDisabled)
{
    build(2);
    for (const QAction *a : {window->backupAction(), window->i2iAction(), window->db2iAction(),
                             window->exportAction(), window->printAction(), window->deleteAction()})
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
}

// --- context menus ----------------------------------------------------------------

struct MenuCase
{
    const char *name;
    int devices;
    Pick pick;
    bool messageList; // the message list's menu instead of the tree's
};

void PrintTo(const MenuCase &c, std::ostream *os)
{
    *os << c.name;
}

// The entries the menu must have, with the rule's enabled states; empty for
// no menu.
QStringList expectedMenu(const MenuCase &c)
{
    const QString i2i = off(c.devices > 1);
    const QString db2i = off(c.devices >= 1);
    if (c.messageList) {
        switch (c.pick) {
        case Pick::Device:
        case Pick::DeviceChat:
            return {"Backup Selected SMS to Local Database|icon", "Transfer Selected SMS to other iPhone|icon" + i2i,
                    "Export Selected SMS to File|icon", "Print Selected SMS|icon"};
        case Pick::LocalDb:
        case Pick::LocalDbChat:
            return {"Export Selected SMS to iTunes Backup", "Transfer Selected SMS to iPhone|icon" + db2i,
                    "Export Selected SMS to File|icon", "Print Selected SMS|icon", "Delete Selected SMS|icon"};
        default:
            return {};
        }
    }
    switch (c.pick) {
    case Pick::LocalDbRoot:
        return {"Open Database Folder|icon", "Import SMS from iTunes Backup to Local Database|icon"};
    case Pick::Device:
        return {"Backup SMS to Local Database|icon", "Transfer iPhone SMS to other iPhone|icon" + i2i,
                "Export SMS to File|icon", "Print SMS|icon", "View Cache Files",
                "Disconnect Device|icon"};
    case Pick::LocalDb:
        return {"Import SMS from iTunes Backup to this Local Database|icon", "Export SMS to iTunes Backup",
                "Transfer SMS from Database to iPhone|icon" + db2i, "Export SMS to File|icon", "Print SMS|icon",
                "Delete this Database|icon"};
    case Pick::LocalDbChat:
        return {"Export SMS with this contact to iTunes Backup",
                "Transfer SMS with this contact to iPhone|icon" + db2i, "Export SMS with this contact to File|icon",
                "Print SMS with this contact|icon", "Delete SMS with this contact|icon"};
    case Pick::DeviceChat:
        return {"Backup SMS with this contact to Local Database|icon",
                "Transfer SMS with this contact to other iPhone|icon" + i2i,
                "Export SMS with this contact to File|icon", "Print SMS with this contact|icon"};
    default:
        return {};
    }
}

class ContextMenuCaseTest : public MenusTest, public ::testing::WithParamInterface<MenuCase>
{
};

TEST_P(ContextMenuCaseTest, EntriesFollowTheCurrentNode)
{
    const MenuCase &c = GetParam();
    build(c.devices);
    AbsNode *node = nullptr;
    switch (c.pick) {
    case Pick::Nothing:
        break;
    case Pick::DeviceRoot:
        node = model->deviceRoot();
        break;
    case Pick::LocalDbRoot:
        node = model->localDbRoot();
        break;
    case Pick::Device:
        node = firstDevice();
        break;
    case Pick::DeviceChat:
        node = firstDevice()->children.value(0);
        break;
    case Pick::LocalDb:
        node = localDb();
        break;
    case Pick::LocalDbChat:
        node = localDb()->children.value(0);
        break;
    }
    ASSERT_TRUE(c.pick == Pick::Nothing || node);
    window->makeCurrent(node);

    if (c.messageList)
        window->onSMSContextMenu();
    else
        window->onMainTreeContextMenu();

    const QStringList expected = expectedMenu(c);
    if (expected.isEmpty()) {
        EXPECT_TRUE(window->shownMenus().isEmpty());
        return;
    }
    ASSERT_EQ(window->shownMenus().size(), 1);
    EXPECT_EQ(entryLines(window->shownMenus()[0]), expected);
    // The menu lives only while it is shown.
    EXPECT_TRUE(window->findChildren<QMenu *>(QString(), Qt::FindDirectChildrenOnly).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Cases, ContextMenuCaseTest,
    ::testing::Values(MenuCase{"TreeWithoutCurrentNode", 1, Pick::Nothing, false},
        MenuCase{"TreeDeviceRoot", 1, Pick::DeviceRoot, false},
        MenuCase{"TreeLocalDbRoot", 1, Pick::LocalDbRoot, false},
        MenuCase{"TreeOneDevice", 1, Pick::Device, false},
        MenuCase{"TreeTwoDevices", 2, Pick::Device, false},
        MenuCase{"TreeChatOfOneDevice", 1, Pick::DeviceChat, false},
        MenuCase{"TreeChatOfTwoDevices", 2, Pick::DeviceChat, false},
        MenuCase{"TreeLocalDbWithoutDevice", 0, Pick::LocalDb, false},
        MenuCase{"TreeLocalDbWithOneDevice", 1, Pick::LocalDb, false},
        MenuCase{"TreeChatOfLocalDbWithoutDevice", 0, Pick::LocalDbChat, false},
        MenuCase{"TreeChatOfLocalDbWithOneDevice", 1, Pick::LocalDbChat, false},
        MenuCase{"ListWithoutCurrentNode", 1, Pick::Nothing, true},
        MenuCase{"ListDeviceRoot", 1, Pick::DeviceRoot, true},
        MenuCase{"ListLocalDbRoot", 1, Pick::LocalDbRoot, true},
        MenuCase{"ListOneDevice", 1, Pick::Device, true},
        MenuCase{"ListTwoDevices", 2, Pick::Device, true},
        MenuCase{"ListChatOfTwoDevices", 2, Pick::DeviceChat, true},
        MenuCase{"ListLocalDbWithoutDevice", 0, Pick::LocalDb, true},
        MenuCase{"ListChatOfLocalDbWithOneDevice", 1, Pick::LocalDbChat, true}),
    CaseName());

TEST_F(MenusTest, NoDeviceMenuOffersDeletion)
{
    build(2);
    for (AbsNode *node : {firstDevice(), firstDevice()->children.value(0)}) {
        ASSERT_NE(node, nullptr);
        window->makeCurrent(node);
        window->onMainTreeContextMenu();
        window->onSMSContextMenu();
    }
    ASSERT_EQ(window->shownMenus().size(), 4);
    for (const QList<Entry> &menu : window->shownMenus()) {
        for (const Entry &e : menu)
            EXPECT_FALSE(e.text.startsWith(QLatin1String("Delete"))) << e.text.toStdString();
    }
}

} // namespace
