#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include "CFValues.h"
#include "LogCapture.h"
#include "NotificationProxy.h"
#include "ServicePeer.h"
#include "SimFramework.h"
#include "ThrownText.h"

namespace
{

using Step = ServicePeer::Step;

class NotificationProxyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
    }
};

TEST_F(NotificationProxyTest, ObservingSendsOneRequestPerName)
{
    ServicePeer peer({ServicePeer::receive(), ServicePeer::receive()});
    mobiledevice_notification_observe(peer.socket(), "com.apple.itunes-mobdev.syncWillStart");
    mobiledevice_notification_observe(peer.socket(), "");
    EXPECT_EQ(peer.received(),
              QStringList({R"({"Command": "ObserveNotification", "Name": "com.apple.itunes-mobdev.syncWillStart"})",
                           R"({"Command": "ObserveNotification", "Name": ""})"}));
    EXPECT_EQ(peer.receivedFormats(), QStringList({"xml", "xml"}));
}

TEST_F(NotificationProxyTest, ARelayedNotificationGivesItsName)
{
    const auto relay = [](const char *command, const CFType &name) {
        CFType d = cfDict({{"Command", cfStr(command)}});
        if (name.ref())
            d.set(cfStr("Name"), name);
        return ServicePeer::send(d);
    };
    const struct
    {
        const char *name;
        QList<Step> steps;
        QString result;
        QString error;
        QStringList log;
    } cases[] = {
        {"a relay", {relay("RelayNotification", cfStr("com.apple.springboard.attemptactivation"))},
         "com.apple.springboard.attemptactivation", "(no error)",
         {"mobiledevice_notification_get_throw, got notification com.apple.springboard.attemptactivation."}},
        {"in small letters", {relay("relaynotification", cfStr("x"))}, "x", "(no error)",
         {"mobiledevice_notification_get_throw, got notification x."}},
        {"without a name", {relay("RelayNotification", CFType())}, "", "(no error)",
         {"mobiledevice_notification_get_throw, got notification ."}},
        {"the proxy died", {relay("ProxyDeath", CFType())}, "", "ERROR: NotificationProxy died!", {}},
        {"died in capitals", {relay("PROXYDEATH", CFType())}, "", "ERROR: NotificationProxy died!", {}},
        {"another command", {relay("PostNotification", cfStr("x"))}, "",
         "unknown NotificationProxy command 'PostNotification' received!", {}},
        {"no command", {ServicePeer::send(cfDict({{"Name", cfStr("x")}}))}, "", "unknown NotificationProxy command '' received!",
         {}},
        {"no dictionary", {ServicePeer::send(cfNames({"RelayNotification"}))}, "",
         "unknown NotificationProxy command '' received!", {}},
        // The body must follow its length within half a second.
        {"a late body",
         {ServicePeer::sendRaw(beLength(10)), ServicePeer::pause(900), ServicePeer::sendRaw("0123456789")}, "",
         "mobiledevice_recmsg(msg) error, received length: 0.", {}},
        {"closed", {}, "", "mobiledevice_recmsg(msg-length) error, received length: 0.", {}},
        {"a hostile length", {ServicePeer::sendRaw(beLength(0xFFFFFFF0u))}, "",
         "mobiledevice_recmsg(msg) error, announced length 4294967280 exceeds 134217728.", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer(c.steps);
        LogCapture log;
        QString result;
        EXPECT_EQ(thrownText([&] { result = mobiledevice_notification_get_throw(peer.socket()); }), c.error);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(log.lines(), c.log);
    }
}

TEST_F(NotificationProxyTest, PostingEndsTheConversation)
{
    const CFType shutdown = cfDict({{"Command", cfStr("Shutdown")}});
    const QString post = R"({"Command": "PostNotification", "Name": "com.apple.mobile.application_installed"})";
    const QString posted = "mobiledevice_notification_post, notification:com.apple.mobile.application_installed";
    const struct
    {
        const char *name;
        QList<Step> answer;
        QStringList log;
        QString error;
    } cases[] = {
        {"the proxy ends", {ServicePeer::send(cfDict({{"Command", cfStr("ProxyDeath")}}))}, {posted}, "(no error)"},
        {"in other letters", {ServicePeer::send(cfDict({{"Command", cfStr("proxydeath")}}))}, {posted}, "(no error)"},
        {"something else", {ServicePeer::send(cfDict({{"Command", cfStr("RelayNotification")}}))},
         {posted, "mobiledevice_notification_post, unexpected answer: RelayNotification"}, "(no error)"},
        {"an empty answer", {ServicePeer::sendRaw(beLength(0))}, {posted, "mobiledevice_notification_post, unexpected answer: "},
         "(no error)"},
        {"no answer", {}, {posted},
         "mobiledevice_recmsg(msg-length) error, received length: 0.\n" +
             QString::fromUtf8(CFType::toPropertyListData(shutdown, kCFPropertyListFormatXml))},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QList<Step> steps{ServicePeer::receive(), ServicePeer::receive()};
        steps += c.answer;
        ServicePeer peer(steps);
        LogCapture log;
        EXPECT_EQ(thrownText([&] { mobiledevice_notification_post(peer.socket(), "com.apple.mobile.application_installed"); }),
                  c.error);
        EXPECT_EQ(peer.received(), QStringList({post, R"({"Command": "Shutdown"})"}));
        EXPECT_EQ(peer.receivedFormats(), QStringList({"xml", "xml"}));
        EXPECT_EQ(log.lines(), c.log);
    }
}

} // namespace
