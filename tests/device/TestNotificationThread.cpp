#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

#include "CFValues.h"
#include "LogCapture.h"
#include "NotificationProxy.h"
#include "ServicePeer.h"
#include "ServiceSocket.h"
#include "SimFramework.h"
#include "ThreadHandOff.h"
#include "ThrownText.h"
#include "mobiledevice_notification_thread.h"

namespace
{

using Step = ServicePeer::Step;

const char kConnected = 0;

// What the listener announced, and on which thread. The listener's thread
// may still announce while this goes: what it records lives with the
// connection, not with this object, and the connection goes with this.
class Announcements
{
public:
    explicit Announcements(mobiledevice_notification_thread &listener)
        : m_heard(std::make_shared<Heard>())
    {
        m_connection = QObject::connect(
            &listener, &mobiledevice_notification_thread::recNotification, &listener,
            [heard = m_heard](const QString &name) {
                // Connected while the listener may run already.
                acceptHandOff(&kConnected);
                std::lock_guard<std::mutex> lock(heard->mutex);
                heard->names << name;
                heard->threads << QThread::currentThread();
            },
            Qt::DirectConnection);
        announceHandOff(&kConnected);
    }
    ~Announcements() { QObject::disconnect(m_connection); }
    Announcements(const Announcements &) = delete;
    Announcements &operator=(const Announcements &) = delete;

    // Lists of their own, not shared copies: dropping a shared copy outside
    // the lock would let the listener append in place with no order between
    // the two that ThreadSanitizer could see.
    QStringList names() const
    {
        std::lock_guard<std::mutex> lock(m_heard->mutex);
        return QStringList(m_heard->names.cbegin(), m_heard->names.cend());
    }
    qsizetype count() const
    {
        std::lock_guard<std::mutex> lock(m_heard->mutex);
        return m_heard->names.size();
    }
    QList<QThread *> threads() const
    {
        std::lock_guard<std::mutex> lock(m_heard->mutex);
        return QList<QThread *>(m_heard->threads.cbegin(), m_heard->threads.cend());
    }
    bool waitFor(int n, int timeoutMs = 15000) const
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (count() < n && !deadline.hasExpired())
            QThread::msleep(10);
        return count() >= n;
    }

private:
    struct Heard
    {
        std::mutex mutex;
        QStringList names;
        QList<QThread *> threads;
    };
    std::shared_ptr<Heard> m_heard;
    QMetaObject::Connection m_connection;
};

Step relay(const char *command, const char *name = nullptr)
{
    CFType d = cfDict({{"Command", cfStr(command)}});
    if (name)
        d.set(cfStr("Name"), cfStr(name));
    return ServicePeer::send(d);
}

QString observed(const char *name)
{
    return QStringLiteral(R"({"Command": "ObserveNotification", "Name": "%1"})").arg(QLatin1String(name));
}

class NotificationThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QJsonObject proxy{{kNotificationProxyService, QJsonObject{{"kind", "peer"}, {"path", "np.sock"}}}};
        scenario.write(QJsonObject{
            {"devices", QJsonArray{QJsonObject{{"id", "phone"}, {"services", proxy}},
                                   QJsonObject{{"id", "refusing"},
                                               {"results", QJsonObject{{"AMDeviceStartService", -3}}},
                                               {"services", proxy}}}}});
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
        const QList<void *> devices = subscribeAndWait(receiver, 2);
        ASSERT_EQ(devices.size(), 2);
        phone = devices[0];
        refusing = devices[1];
    }

    QString proxyPath() const { return scenario.path("np.sock"); }

    // Stops the listener the way its owner does, and says how long it took.
    static qint64 stopAndClose(mobiledevice_notification_thread &listener)
    {
        QElapsedTimer timer;
        timer.start();
        listener.stop();
        EXPECT_TRUE(listener.wait(5000));
        const qint64 took = timer.elapsed();
        if (listener.socket() != 0)
            mobiledevice_closesocket(listener.socket());
        return took;
    }

    SimScenarioFile scenario;
    DeviceReceiver receiver;
    void *phone = nullptr;
    void *refusing = nullptr;
};

TEST_F(NotificationThreadTest, RelayedNotificationsAreAnnouncedOneASecond)
{
    // The last step keeps the device silent until the test closes its socket.
    ServicePeer peer(proxyPath(), {ServicePeer::receive(), ServicePeer::receive(), relay("RelayNotification", "first"),
                                   relay("relaynotification", "second"), relay("ProxyDeath"), relay("RelayNotification"),
                                   ServicePeer::receive()});
    mobiledevice_notification_thread listener(phone);
    Announcements announced(listener);
    LogCapture log;
    listener.observe({"first", "second"});
    ASSERT_NE(listener.socket(), 0);

    QElapsedTimer timer;
    timer.start();
    listener.start();
    ASSERT_TRUE(announced.waitFor(3));
    // A pause of a second after each message, the dead proxy's included.
    EXPECT_GE(timer.elapsed(), 2900);
    EXPECT_LT(stopAndClose(listener), 1000);

    EXPECT_EQ(announced.names(), QStringList({"first", "second", ""}));
    EXPECT_EQ(announced.threads(), QList<QThread *>(3, &listener));
    EXPECT_EQ(peer.received(), QStringList({observed("first"), observed("second")}));
    EXPECT_EQ(log.linesStartingWith("mobiledevice_notification_thread::run, "),
              QStringList("mobiledevice_notification_thread::run, ERROR: NotificationProxy died!"));
    EXPECT_EQ(log.linesStartingWith("mobiledevice_notification_get_throw, ").size(), 3);
}

TEST_F(NotificationThreadTest, FailuresAreLoggedAndTriedAgainEverySecond)
{
    // The device goes after the request: every receive fails from then on.
    ServicePeer peer(proxyPath(), {ServicePeer::receive()});
    mobiledevice_notification_thread listener(phone);
    LogCapture log;
    listener.observe({"x"});
    peer.finish();
    listener.start();
    QThread::msleep(2500);
    EXPECT_TRUE(listener.isRunning());
    stopAndClose(listener);
    const QStringList lines = log.linesStartingWith("mobiledevice_notification_thread::run, ");
    EXPECT_GE(lines.size(), 2);
    EXPECT_LE(lines.size(), 3);
    for (const QString &line : lines)
        EXPECT_EQ(line, "mobiledevice_notification_thread::run, mobiledevice_recmsg(msg-length) error, received length: 0.");
}

TEST_F(NotificationThreadTest, AListenerWithoutServiceSaysSoAndEnds)
{
    mobiledevice_notification_thread listener(phone);
    LogCapture log;
    listener.start();
    // It ends by itself: socket 0 is the standard input, never a relay.
    EXPECT_TRUE(listener.wait(3000));
    EXPECT_EQ(log.lines(), QStringList("mobiledevice_notification_thread::run, mobiledevice_notification_thread::run, start "
                                       "service first."));
}

TEST_F(NotificationThreadTest, AStopIsNeverLost)
{
    // Silent after the request, until the test closes its socket.
    ServicePeer peer(proxyPath(), {ServicePeer::receive(), ServicePeer::receive()});
    mobiledevice_notification_thread listener(phone);
    listener.observe({"x"});

    // Right after the start, before the thread may even have begun.
    for (int i = 0; i < 30; ++i) {
        SCOPED_TRACE(i);
        listener.observe({});
        EXPECT_FALSE(listener.isStopRequested());
        listener.start();
        listener.stop();
        EXPECT_TRUE(listener.wait(3000));
    }
    // Before the start.
    listener.observe({});
    listener.stop();
    listener.start();
    EXPECT_TRUE(listener.wait(3000));
    // While it waits for a notification.
    listener.observe({});
    listener.start();
    QThread::msleep(300);
    EXPECT_TRUE(listener.isRunning());
    EXPECT_LT(stopAndClose(listener), 1000);
    EXPECT_EQ(peer.received(), QStringList(observed("x")));
    EXPECT_EQ(scenario.journalOf("phone").filter("AMDeviceStartService").size(), 1);
}

TEST_F(NotificationThreadTest, ARunningListenerCanBeDestroyed)
{
    ServicePeer peer(proxyPath(), {ServicePeer::receive(), relay("RelayNotification", "n")});
    auto listener = std::make_unique<mobiledevice_notification_thread>(phone);
    listener->observe({"n"});
    const int socket = listener->socket();
    Announcements announced(*listener);
    listener->start();
    ASSERT_TRUE(announced.waitFor(1));
    QElapsedTimer timer;
    timer.start();
    listener.reset(); // in its pause after the notification
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(mobiledevice_closesocket(socket), 0);
}

TEST_F(NotificationThreadTest, AListenerGoesOnAfterWhoeverHeardItLeft)
{
    ServicePeer peer(proxyPath(), {ServicePeer::receive(), ServicePeer::receive(), relay("RelayNotification", "first"),
                                   relay("RelayNotification", "second"), ServicePeer::receive()});
    mobiledevice_notification_thread listener(phone);
    listener.observe({"first", "second"});
    auto early = std::make_unique<Announcements>(listener);
    listener.start();
    ASSERT_TRUE(early->waitFor(1));
    early.reset(); // in the pause before the second notification
    Announcements late(listener);
    ASSERT_TRUE(late.waitFor(1));
    EXPECT_EQ(late.names(), QStringList("second"));
    stopAndClose(listener);
}

TEST_F(NotificationThreadTest, ObservingIsForAListenerAtRest)
{
    {
        ServicePeer peer(proxyPath(), {ServicePeer::receive(), ServicePeer::receive(), ServicePeer::receive()});
        mobiledevice_notification_thread listener(phone);
        listener.observe({"a"});
        // A second call adds its names on the same socket.
        listener.observe({"b"});
        listener.start();
        EXPECT_EQ(thrownText([&] { listener.observe({"c"}); }),
                  "mobiledevice_notification_thread::observe, the listener is running.");
        stopAndClose(listener);
        EXPECT_EQ(peer.received(), QStringList({observed("a"), observed("b")}));
    }
    mobiledevice_notification_thread listener(refusing);
    const QString error = thrownText([&] { listener.observe({"a"}); });
    EXPECT_TRUE(error.endsWith("Error code: AMDeviceStartService(com.apple.mobile.notification_proxy)=-3"))
        << error.toStdString();
    EXPECT_EQ(listener.socket(), 0);
}

} // namespace
