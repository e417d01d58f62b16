// The road of a connected phone through the shipped device support, from the
// fake daemon at the wire to the main window's tree.

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <gtest/gtest.h>

#include <memory>

#include "AppHomeFixture.h"
#include "CpioArchive.h"
#include "DeviceStackFixture.h"
#include "IOS6SmsDbFixture.h"
#include "IOSDevice.h"
#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "MessageBoxAnswerer.h"
#include "OpenMainWindow.h"
#include "_ChatSessionItemNode.h"
#include "_IOSDeviceItemNode.h"
#include "_RootDeviceItemNode.h"

namespace
{

const QString kUdid = QStringLiteral("9f8e7d6c5b4a39281706f5e4d3c2b1a098765432");

// A phone's sms.db (iOS 6 layout) with one-to-one conversations of two
// messages each.
QByteArray smsDb(int conversations)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sms.db"));
    {
        IOS6SmsDbFixture sms(path, IOS6SmsDbFixture::Device);
        sms.begin();
        for (int i = 1; i <= conversations; ++i) {
            const QString number = QStringLiteral("+4917012345%1").arg(i, 3, 10, QLatin1Char('0'));
            const qint64 handle = sms.addHandle(number);
            const qint64 chat = sms.addChat(QStringLiteral("SMS;-;") + number, number);
            sms.joinChatHandle(chat, handle);
            sms.addMessage(chat, handle, QStringLiteral("in-%1").arg(i), QStringLiteral("Hallo %1").arg(i), 400000000 + i * 100, 0);
            sms.addMessage(chat, handle, QStringLiteral("out-%1").arg(i), QStringLiteral("Tschüss %1").arg(i), 400000050 + i * 100, 1);
        }
        sms.commit();
    }
    return AppHomeFixture::readFile(path);
}

class FakePhoneRoadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
        boxes.setDefaultAnswer(QMessageBox::Ok);
    }
    void TearDown() override
    {
        window.reset();
        QCoreApplication::removeTranslator(&translator);
    }

    QList<_IOSDeviceItemNode *> deviceNodes() const
    {
        QList<_IOSDeviceItemNode *> nodes;
        for (AbsTreeItemModel::_ItemNode *n : window->mainModel()->deviceRoot()->children) {
            if (n->type == _IOSDeviceItemNode::Type)
                nodes.append(static_cast<_IOSDeviceItemNode *>(n));
        }
        return nodes;
    }
    QStringList boxTexts(int icon) const
    {
        QStringList texts;
        for (const MessageBoxAnswerer::Shown &s : boxes.shown()) {
            if (s.icon == icon)
                texts.append(s.text);
        }
        return texts;
    }

    QTranslator translator;
    MessageBoxAnswerer boxes;
    FakePhoneSetup fake;
    std::unique_ptr<OpenMainWindow> window;
};

} // namespace

TEST_F(FakePhoneRoadTest, APluggedPhoneShowsItsConversationsAndGoesWhenUnplugged)
{
    const QByteArray db = smsDb(3);
    // The archive a phone's file_relay sends for "UserDatabases": gzip'd cpio
    // with the folders before what they hold.
    fake.writeFile(QStringLiteral("relay.cpio.gz"),
                   CpioArchive::write({CpioArchive::folder("./var"), CpioArchive::folder("./var/mobile"),
                                       CpioArchive::folder("./var/mobile/Library"),
                                       CpioArchive::folder("./var/mobile/Library/SMS"),
                                       CpioArchive::file("./var/mobile/Library/SMS/sms.db", db)},
                                      true));
    const QJsonObject phone{
        {"udid", kUdid},
        {"values", QJsonObject{{"", QJsonObject{{"UniqueDeviceID", kUdid},
                                               {"DeviceName", "Kim's iPhone"},
                                               {"MobileSubscriberCountryCode", "262"},
                                               {"ProductVersion", "6.1.3"},
                                               {"ProductType", "iPhone5,2"}}}}},
        {"services", QJsonObject{{"com.apple.mobile.file_relay",
                                  QJsonObject{{"sources", QJsonObject{{"UserDatabases", "relay.cpio.gz"}}}}}}},
    };
    QString error;
    ASSERT_TRUE(fake.start(QJsonObject{{"devices", QJsonArray{phone}}}, &error)) << error.toStdString();
    ASSERT_TRUE(loadDeviceStack(&error)) << error.toStdString();
    window = std::make_unique<OpenMainWindow>();

    ASSERT_TRUE(QTest::qWaitFor([&]() { return !deviceNodes().isEmpty(); }, 30000))
        << boxTexts(QMessageBox::Critical).join(QLatin1Char('\n')).toStdString();
    _IOSDeviceItemNode *node = deviceNodes().first();
    EXPECT_EQ(node->name, QStringLiteral("Kim's iPhone"));
    EXPECT_EQ(node->device->uniqueDeviceId, kUdid);
    EXPECT_EQ(node->device->productVersion, QStringLiteral("6.1.3"));
    ASSERT_EQ(node->children.size(), 3);
    for (const AbsTreeItemModel::_ItemNode *child : node->children)
        EXPECT_EQ(child->type, _ChatSessionItemNode::Type);
    EXPECT_TRUE(boxTexts(QMessageBox::Critical).isEmpty());
    // The messages came through the phone's own service, unchanged.
    EXPECT_TRUE(fake.journal().contains(QStringLiteral("file_relay %1 UserDatabases").arg(kUdid)));
    EXPECT_EQ(AppHomeFixture::readFile(IOSDevice(*node->device).cacheDir().absoluteFilePath(
                  QStringLiteral("file-relay/var/mobile/Library/SMS/sms.db"))),
              db);
    ASSERT_TRUE(QTest::qWaitFor([&]() { return window->currentNode() == node; }, 5000));
    window->makeCurrent(node->children.first());
    EXPECT_EQ(window->smsModel()->messages().size(), 2);

    fake.daemon().detach(kUdid);
    ASSERT_TRUE(QTest::qWaitFor([&]() { return deviceNodes().isEmpty(); }, 30000));
    EXPECT_TRUE(window->smsModel()->messages().isEmpty());
}
