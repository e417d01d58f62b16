#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

// Listens to a device's notification relay on a thread of its own and
// announces every relayed notification by recNotification, emitted from that
// thread. The owner observes the names, starts the thread, and at the end
// calls stop(), waits for the thread and closes socket() with
// mobiledevice_closesocket; the thread never closes the socket.
class mobiledevice_notification_thread : public QThread
{
    Q_OBJECT
public:
    explicit mobiledevice_notification_thread(void *device, QObject *parent = nullptr);
    // A listener that still runs is stopped and waited for first: a thread
    // object must not go while its thread runs.
    ~mobiledevice_notification_thread() override;

    // Starts the relay service when no socket is held yet, then asks it to
    // relay each name, in order. Called while the listener does not run (it
    // is the socket's only user then); throws std::runtime_error otherwise
    // and as the service start and the sends do. A stop requested earlier
    // is cleared, so the thread can be started (again).
    void observe(const QStringList &names);

    // Asks the listener to end; it does within a fraction of a second unless
    // a message is arriving. From any thread; holds until the next observe(),
    // so a stop that comes before the thread has begun is not lost.
    void stop();
    bool isStopRequested() const;

    // The relay's socket; 0 until observe() started the service.
    int socket() const;

signals:
    void recNotification(QString cmd);

protected:
    // Receives one notification at a time, pausing a second after each and
    // after each failure (logged, then tried again), until stopped. Without
    // a socket there is nothing to listen to: it logs that and ends.
    void run() override;

private:
    // False when a stop came first.
    bool waitReadable();
    void pause(int ms);

    std::atomic<bool> stopRequested{false};
    void *m_device;
    std::atomic<int> m_socket{0};
    std::mutex m_mutex;
    std::condition_variable m_wake;
};
