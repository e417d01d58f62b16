#include "mobiledevice_notification_thread.h"

#include "NotificationProxy.h"
#include "ServiceSocket.h"
#include "ThreadHandOff.h"

#include <QDebug>

#include <chrono>
#include <exception>
#include <stdexcept>

namespace
{

// How often a waiting listener looks at its stop flag.
constexpr int kStopCheckMs = 100;
constexpr int kPauseMs = 1000;

void logFailure(const QString &text)
{
    qDebug().noquote() << QStringLiteral("mobiledevice_notification_thread::run, %1").arg(text);
}

} // namespace

mobiledevice_notification_thread::mobiledevice_notification_thread(void *device, QObject *parent)
    : QThread(parent)
    , m_device(device)
{
}

mobiledevice_notification_thread::~mobiledevice_notification_thread()
{
    stop();
    wait();
    acceptHandOff(this);
}

void mobiledevice_notification_thread::observe(const QStringList &names)
{
    if (isRunning())
        throw std::runtime_error("mobiledevice_notification_thread::observe, the listener is running.");
    if (m_socket == 0) {
        int socket = 0;
        notification_proxy_start(m_device, &socket);
        m_socket = socket;
    }
    for (const QString &name : names)
        mobiledevice_notification_observe(m_socket, name);
    stopRequested = false;
}

void mobiledevice_notification_thread::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stopRequested = true;
    }
    m_wake.notify_all();
}

bool mobiledevice_notification_thread::isStopRequested() const
{
    return stopRequested;
}

int mobiledevice_notification_thread::socket() const
{
    return m_socket;
}

bool mobiledevice_notification_thread::waitReadable()
{
    while (!stopRequested) {
        // An error counts as ready: the receive then fails and says why.
        if (socket_wait(m_socket, kStopCheckMs, true) != 0)
            return true;
    }
    return false;
}

void mobiledevice_notification_thread::pause(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopRequested.load(); });
}

void mobiledevice_notification_thread::run()
{
    // The destructor's wait() sees the end under Qt's own locks.
    struct AnnounceEnd {
        const void *thread;
        ~AnnounceEnd() { announceHandOff(thread); }
    } announceEnd{this};
    // Socket 0 is no relay here: on this system it is the standard input.
    if (m_socket == 0) {
        logFailure(QStringLiteral("mobiledevice_notification_thread::run, start service first."));
        return;
    }
    while (!stopRequested) {
        try {
            if (!waitReadable())
                break;
            const QString name = mobiledevice_notification_get_throw(m_socket);
            emit recNotification(name);
        } catch (const std::exception &e) {
            logFailure(QString::fromUtf8(e.what()));
        }
        pause(kPauseMs);
    }
}
