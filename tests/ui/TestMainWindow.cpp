#include <QFileInfo>

#include <gtest/gtest.h>

#include <memory>

#include "AppFolders.h"
#include "AppHomeFixture.h"
#include "CaseName.h"
#include "IOS6SmsDbFixture.h"
#include "IOSDevice.h"
#include "ItemModelMain.h"
#include "MainWindow.h"
#include "MessageBoxAnswerer.h"
#include "MyTreeView.h"
#include "ServiceUrlScope.h"
#include "_ChatSessionItemNode.h"
#include "_IOSDeviceItemNode.h"
#include "_LocalDBItemNode.h"
#include "_RootDeviceItemNode.h"
#include "_RootLocalDBItemNode.h"

namespace
{

using AbsNode = AbsTreeItemModel::_ItemNode;

// The window over a home prepared by the test. The service address leads
// nowhere, and an unexpected box fails the test.
class MainWindowSourcesTest : public ::testing::Test
{
protected:
    void build()
    {
        window = std::make_unique<MainWindow>();
        tree = window->findChild<MyTreeView *>(QStringLiteral("treeViewDS"));
        ASSERT_NE(tree, nullptr);
        model = qobject_cast<ItemModelMain *>(tree->model());
        ASSERT_NE(model, nullptr);
    }

    static QStringList names(const QList<AbsNode *> &nodes)
    {
        QStringList list;
        for (const AbsNode *n : nodes)
            list.append(n->name);
        return list;
    }

    ServiceUrlScope url{QStringLiteral("none:")};
    MessageBoxAnswerer boxes;
    std::unique_ptr<MainWindow> window;
    MyTreeView *tree = nullptr;
    ItemModelMain *model = nullptr;
};

TEST_F(MainWindowSourcesTest, AnEmptyHomeShowsBothRootsAndNothingUnderThem)
{
    build();
    EXPECT_EQ(model->topLevelNodes().size(), 2);
    EXPECT_TRUE(model->deviceRoot()->children.isEmpty());
    EXPECT_TRUE(model->localDbRoot()->children.isEmpty());
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(MainWindowSourcesTest, LocalDatabasesAreListedInNameOrderWithoutBeingRead)
{
    for (const char *name : {"delta", "alpha", "charlie", "bravo"})
        AppHomeFixture::addLocalDatabase(QLatin1String(name));
    // Neither a hidden folder nor a file is a local database.
    AppHomeFixture::addLocalDatabase(QStringLiteral(".trash"));
    {
        QFile old(localDatabasesDir().filePath(QStringLiteral("old.db")));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    }
    build();

    const QList<AbsNode *> &nodes = model->localDbRoot()->children;
    EXPECT_EQ(names(nodes), (QStringList{"alpha", "bravo", "charlie", "delta"}));
    for (const AbsNode *node : nodes) {
        EXPECT_EQ(node->type, _LocalDBItemNode::Type);
        EXPECT_TRUE(node->children.isEmpty()) << node->name.toStdString();
        // Not opened: opening would have created its file.
        EXPECT_FALSE(QFileInfo::exists(IOS6SmsDbFixture::smsDbPath(localDatabasesDir().filePath(node->name))));
    }
    EXPECT_TRUE(tree->isExpanded(model->indexOfNode(model->localDbRoot())));
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(MainWindowSourcesTest, ADamagedLocalDatabaseIsListedWithoutAnError)
{
    const QDir broken = AppHomeFixture::addLocalDatabase(QStringLiteral("broken"));
    const QByteArray bytes = AppHomeFixture::writeDamagedSmsDb(broken);
    build();
    EXPECT_EQ(names(model->localDbRoot()->children), QStringList{"broken"});
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_EQ(AppHomeFixture::readFile(IOS6SmsDbFixture::smsDbPath(broken)), bytes);
}

TEST_F(MainWindowSourcesTest, AStoredDeviceShowsWithItsConversations)
{
    const QDir folder = AppHomeFixture::addStoredDevice(QStringLiteral("Desk Phone"), 3);
    build();

    ASSERT_EQ(model->deviceRoot()->children.size(), 1);
    auto *node = static_cast<_IOSDeviceItemNode *>(model->deviceRoot()->children[0]);
    EXPECT_EQ(node->type, _IOSDeviceItemNode::Type);
    EXPECT_EQ(node->name, QStringLiteral("Desk Phone"));
    ASSERT_TRUE(node->device);
    EXPECT_EQ(node->device->deviceName, QStringLiteral("Desk Phone"));
    EXPECT_EQ(node->device->uniqueDeviceId, folder.absolutePath());
    EXPECT_TRUE(node->device->productVersion.isEmpty());
    EXPECT_TRUE(node->device->mobileSubscriberCountryCode.isEmpty());
    EXPECT_EQ(node->device->handle, nullptr);

    EXPECT_EQ(node->children.size(), 3);
    for (const AbsNode *child : node->children)
        EXPECT_EQ(child->type, _ChatSessionItemNode::Type);
    EXPECT_EQ(node->dataSet.data()->chats.size(), 3);
    // Only the conversations: messages are read when the device is selected.
    EXPECT_TRUE(node->dataSet.data()->messages.isEmpty());
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(MainWindowSourcesTest, AStoredDeviceThatCannotBeReadShowsAnErrorAndTheNextOneStillComes)
{
    const QDir broken = AppHomeFixture::addStoredDeviceFolder(QStringLiteral("a-broken"));
    const QByteArray bytes = AppHomeFixture::writeDamagedSmsDb(broken);
    AppHomeFixture::addStoredDevice(QStringLiteral("b-good"), 2);
    boxes.click(QMessageBox::Ok);
    build();

    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Critical);
    const QList<AbsNode *> &devices = model->deviceRoot()->children;
    EXPECT_EQ(names(devices), (QStringList{"a-broken", "b-good"}));
    ASSERT_EQ(devices.size(), 2);
    EXPECT_TRUE(devices[0]->children.isEmpty());
    EXPECT_EQ(devices[1]->children.size(), 2);
    EXPECT_EQ(AppHomeFixture::readFile(IOS6SmsDbFixture::smsDbPath(broken)), bytes);
}

// --- where a device keeps its copied data -----------------------------------------

struct CacheCase
{
    const char *name;
    QString id; // "%stored" stands for the stored-devices folder
    QString expected; // "%appdata" for the application-data folder; empty: refused
};

void PrintTo(const CacheCase &c, std::ostream *os)
{
    *os << c.name;
}

class DeviceCacheDirTest : public ::testing::TestWithParam<CacheCase>
{
};

TEST_P(DeviceCacheDirTest, StoredDevicesUseTheirOwnFolder)
{
    const QString appData = appDataDir().absolutePath();
    IOSDevice device;
    device.uniqueDeviceId = QString(GetParam().id).replace(QLatin1String("%stored"), appData + QStringLiteral("/virtual_ios"));
    if (GetParam().expected.isEmpty()) {
        EXPECT_THROW(MainWindow::deviceCacheDir(device), std::runtime_error);
        return;
    }
    EXPECT_EQ(MainWindow::deviceCacheDir(device).absolutePath(), QString(GetParam().expected).replace(QLatin1String("%appdata"), appData));
}

INSTANTIATE_TEST_SUITE_P(Cases, DeviceCacheDirTest,
    ::testing::Values(CacheCase{"StoredDevice", QStringLiteral("%stored/Desk Phone"), QStringLiteral("%appdata/virtual_ios/Desk Phone")},
        CacheCase{"ConnectedDevice", QStringLiteral("0123456789abcdef"), QStringLiteral("%appdata/ios_cache/0123456789abcdef")},
        CacheCase{"TheStoredFolderItself", QStringLiteral("%stored"), QString()},
        CacheCase{"TheStoredFolderWithASlash", QStringLiteral("%stored/"), QString()},
        CacheCase{"TheStoredFolderWithADot", QStringLiteral("%stored/."), QString()},
        CacheCase{"BelowAStoredDevice", QStringLiteral("%stored/Desk Phone/inner"), QString()},
        CacheCase{"ClimbingOut", QStringLiteral("%stored/../ios_cache"), QString()},
        CacheCase{"ElsewhereOnDisk", QStringLiteral("/tmp/Desk Phone"), QString()},
        CacheCase{"RelativePath", QStringLiteral("virtual_ios/Desk Phone"), QString()},
        CacheCase{"Empty", QString(), QString()}),
    CaseName());

} // namespace
