#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <plist/plist.h>

// A fake phone at the wire: a small usbmux daemon of its own, written from
// the published usbmux and lockdown protocols, that libusbmuxd and
// libimobiledevice talk to as to the real one. It listens on a socket in a
// private folder and points USBMUXD_SOCKET_ADDRESS ("UNIX:<path>") there.
//
// It plays the phones of a scenario file (JSON; file names in it are taken
// from the scenario file's folder):
//
//   {"devices": [{
//      "udid": "…",                       the device identifier
//      "attached": true,                  plugged in when the fake starts
//      "paired": true,                    the daemon holds a pairing record
//      "pair": "accept",                  the answer to a pairing request: accept,
//                                         pending (trust question still open),
//                                         denied (the user said no), passcode
//      "session": "accept",               or "refuse": StartSession answers InvalidHostID
//      "values": {"": {"DeviceName": …}, "com.apple.disk_usage": {…}},
//                                         lockdown domains, "" the global one;
//                                         {"$data": base64} makes data
//      "services": {"com.apple.mobile.file_relay":
//                     {"sources": {"UserDatabases": "relay.cpio"},
//                      "answer": {…}},    replaces the acknowledgement
//                   "com.apple.x": {"refuse": "InvalidService"},
//                   "com.apple.y": {"ssl": true}},
//      "leave_at": "GetValue ProductVersion"
//                                         the phone is unplugged when that
//                                         request comes, before it is answered
//   }]}
//
// A file_relay service reads one request, answers it, sends the named
// source's file as the archive and closes. Arrival and removal after the
// start are the test's: attach() and detach(). Every request is written to
// the journal. stop() (or the destructor) ends every connection and joins
// every thread of the fake.
class FakeUsbmuxd
{
public:
    explicit FakeUsbmuxd(const QString &scenarioPath);
    ~FakeUsbmuxd();
    FakeUsbmuxd(const FakeUsbmuxd &) = delete;
    FakeUsbmuxd &operator=(const FakeUsbmuxd &) = delete;

    // Listens and sets USBMUXD_SOCKET_ADDRESS; false with the reason when
    // the scenario cannot be read or the socket made.
    bool start(QString *error = nullptr);
    void stop();

    void attach(const QString &udid);
    void detach(const QString &udid);

    // "mux ListDevices", "lockdown <udid> GetValue <domain|-> <key|->",
    // "lockdown <udid> StartService <name>", "file_relay <udid> <sources>", ...
    QStringList journal() const;
    // Whether the daemon holds a pairing record for the phone.
    bool holdsPairRecord(const QString &udid) const;
    QString socketPath() const;

    // A phone's public key of the kind a phone gives as DevicePublicKey,
    // for pairing.
    static QByteArray devicePublicKey();

private:
    struct Phone;
    struct Connection;

    void acceptLoop();
    void serve(std::shared_ptr<Connection> connection);
    void serveLockdown(Connection &connection, Phone &phone);
    void serveService(Connection &connection, Phone &phone, const QString &name);
    plist_t lockdownAnswer(Phone &phone, plist_t request, const QString &type, bool &leave, bool &session);
    void notifyListeners(const Phone &phone, bool attached);
    Phone *phoneById(int deviceId);
    Phone *phoneByUdid(const QString &udid);
    void log(const QString &line);

    QString m_scenarioPath;
    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<Phone>> m_phones;
    mutable std::mutex m_mutex; // phones' state, connections, journal
    std::vector<std::shared_ptr<Connection>> m_connections;
    std::vector<std::thread> m_threads;
    std::thread m_acceptor;
    QStringList m_journal;
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
    bool m_started = false;
    int m_nextPort = 49152;
};
