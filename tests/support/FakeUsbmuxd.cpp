#include "FakeUsbmuxd.h"

#include "MuxFrames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{

constexpr int kLockdownPort = 62078;
// usbmux result numbers.
constexpr int kResultOk = 0;
constexpr int kResultBadCommand = 1;
constexpr int kResultBadDevice = 2;
constexpr int kResultRefused = 3;

const char kBuid[] = "5F8A3C21-7B4D-4E6A-9C1F-2D3B4A5C6D7E";

plist_t plistOfJson(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QJsonValue::Double: {
        const double d = value.toDouble();
        if (d == double(qint64(d)))
            return plist_new_uint(uint64_t(qint64(d)));
        return plist_new_real(d);
    }
    case QJsonValue::String:
        return plist_new_string(value.toString().toUtf8().constData());
    case QJsonValue::Array: {
        plist_t array = plist_new_array();
        for (const QJsonValue &item : value.toArray())
            plist_array_append_item(array, plistOfJson(item));
        return array;
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        if (object.size() == 1 && object.contains(QLatin1String("$data"))) {
            const QByteArray bytes = QByteArray::fromBase64(object.value(QLatin1String("$data")).toString().toLatin1());
            return plist_new_data(bytes.constData(), uint64_t(bytes.size()));
        }
        plist_t dict = plist_new_dict();
        for (auto it = object.begin(); it != object.end(); ++it)
            plist_dict_set_item(dict, it.key().toUtf8().constData(), plistOfJson(it.value()));
        return dict;
    }
    default:
        return plist_new_string("");
    }
}

QString stringOf(plist_t dict, const char *key)
{
    plist_t node = dict ? plist_dict_get_item(dict, key) : nullptr;
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return QString();
    char *text = nullptr;
    plist_get_string_val(node, &text);
    const QString s = QString::fromUtf8(text);
    std::free(text);
    return s;
}

uint64_t numberOf(plist_t dict, const char *key)
{
    plist_t node = dict ? plist_dict_get_item(dict, key) : nullptr;
    uint64_t v = 0;
    if (node && plist_get_node_type(node) == PLIST_UINT)
        plist_get_uint_val(node, &v);
    return v;
}

plist_t result(int number)
{
    plist_t answer = plist_new_dict();
    plist_dict_set_item(answer, "MessageType", plist_new_string("Result"));
    plist_dict_set_item(answer, "Number", plist_new_uint(uint64_t(number)));
    return answer;
}

// A pairing record as the daemon keeps one; only its HostID matters to the
// fake, the certificates are placeholders (the fake's sessions are plain).
QByteArray pairRecordFor(const QString &hostId)
{
    plist_t record = plist_new_dict();
    const QByteArray placeholder("-----BEGIN CERTIFICATE-----\nAA==\n-----END CERTIFICATE-----\n");
    for (const char *key : {"DeviceCertificate", "HostCertificate", "HostPrivateKey", "RootCertificate", "RootPrivateKey"})
        plist_dict_set_item(record, key, plist_new_data(placeholder.constData(), uint64_t(placeholder.size())));
    plist_dict_set_item(record, "HostID", plist_new_string(hostId.toUtf8().constData()));
    plist_dict_set_item(record, "SystemBUID", plist_new_string(kBuid));
    const QByteArray xml = MuxFrames::toXml(record);
    plist_free(record);
    return xml;
}

QString hostIdOf(const QByteArray &record)
{
    plist_t node = nullptr;
    if (!record.isEmpty())
        plist_from_memory(record.constData(), uint32_t(record.size()), &node);
    const QString id = stringOf(node, "HostID");
    plist_free(node);
    return id;
}

} // namespace

struct FakeUsbmuxd::Phone
{
    QString udid;
    int deviceId = 0;
    bool attached = true;
    QByteArray pairRecord; // empty when not paired
    QString pairAnswer;
    QString sessionAnswer;
    QJsonObject values;
    QJsonObject services;
    QString leaveAt;
    QHash<int, QString> ports; // started services by port
};

struct FakeUsbmuxd::Connection
{
    int fd = -1;
    std::mutex writing;
    bool listening = false;
};

FakeUsbmuxd::FakeUsbmuxd(const QString &scenarioPath)
    : m_scenarioPath(scenarioPath)
{
}

FakeUsbmuxd::~FakeUsbmuxd()
{
    stop();
}

QByteArray FakeUsbmuxd::devicePublicKey()
{
    return QByteArrayLiteral("-----BEGIN RSA PUBLIC KEY-----\n"
                             "MIIBCgKCAQEAwCDw9bUeBM1LQrPFsk2zJR/FKQlA5YDRSRfxt7jqkbnfI2sppN8s\n"
                             "v07MEmdhFXf4TxD98iWkXgXJ1ZpXUiovNcWUFEZclI/A9bPbGcmblXSmnP5ScGEy\n"
                             "OdIVMkCbABcrngUSA/5l5/CGoYeyt5IKkZWEUNXEzIUjpje98Yw9j6querY/TTTk\n"
                             "RFYNs0SZSXs6Pxpgx61y+Wj+KK+X3qeu+o1zXXJUHnE/Z7MQB05267Kb3/Vql5bu\n"
                             "c+5Also8S4HjNcmaLjoybr7a8nZuJ7wu17aLirXmuFxItOucAEt3hbV0DH4jWoEf\n"
                             "BnNYMSNWGEZFuh+UZCnhL+od9N09WUVe2wIDAQAB\n"
                             "-----END RSA PUBLIC KEY-----\n");
}

QString FakeUsbmuxd::socketPath() const
{
    return m_dir.filePath(QStringLiteral("usbmuxd"));
}

bool FakeUsbmuxd::start(QString *error)
{
    const auto failed = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    QFile file(m_scenarioPath);
    if (!file.open(QIODevice::ReadOnly))
        return failed(QStringLiteral("cannot read %1").arg(m_scenarioPath));
    const QJsonObject scenario = QJsonDocument::fromJson(file.readAll()).object();
    const QDir base = QFileInfo(m_scenarioPath).absoluteDir();
    int id = 1;
    for (const QJsonValue &v : scenario.value(QLatin1String("devices")).toArray()) {
        const QJsonObject d = v.toObject();
        auto phone = std::make_unique<Phone>();
        phone->udid = d.value(QLatin1String("udid")).toString();
        phone->deviceId = id++;
        phone->attached = d.value(QLatin1String("attached")).toBool(true);
        if (d.value(QLatin1String("paired")).toBool(true))
            phone->pairRecord = pairRecordFor(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
        phone->pairAnswer = d.value(QLatin1String("pair")).toString(QStringLiteral("accept"));
        phone->sessionAnswer = d.value(QLatin1String("session")).toString(QStringLiteral("accept"));
        phone->values = d.value(QLatin1String("values")).toObject();
        phone->leaveAt = d.value(QLatin1String("leave_at")).toString();
        // Archive files are named from the scenario's folder.
        QJsonObject services = d.value(QLatin1String("services")).toObject();
        for (auto it = services.begin(); it != services.end(); ++it) {
            QJsonObject service = it.value().toObject();
            QJsonObject sources = service.value(QLatin1String("sources")).toObject();
            for (auto s = sources.begin(); s != sources.end(); ++s)
                s.value() = base.absoluteFilePath(s.value().toString());
            service.insert(QLatin1String("sources"), sources);
            it.value() = service;
        }
        phone->services = services;
        m_phones.push_back(std::move(phone));
    }
    if (!m_dir.isValid())
        return failed(QStringLiteral("no folder for the socket"));
    const QByteArray path = QFile::encodeName(socketPath());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path)
        return failed(QStringLiteral("socket path too long: %1").arg(socketPath()));
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    if (pipe2(m_stopPipe, O_CLOEXEC) != 0)
        return failed(QString::fromLocal8Bit(std::strerror(errno)));
    m_listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0 || bind(m_listenFd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || listen(m_listenFd, 16) != 0)
        return failed(QString::fromLocal8Bit(std::strerror(errno)));
    qputenv("USBMUXD_SOCKET_ADDRESS", "UNIX:" + path);
    m_started = true;
    m_acceptor = std::thread(&FakeUsbmuxd::acceptLoop, this);
    return true;
}

void FakeUsbmuxd::stop()
{
    if (m_stopPipe[1] >= 0) {
        const char byte = 1;
        ssize_t ignored = write(m_stopPipe[1], &byte, 1);
        (void)ignored;
    }
    if (m_acceptor.joinable())
        m_acceptor.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads.swap(m_threads);
    }
    for (std::thread &t : threads)
        t.join();
    for (const auto &c : m_connections) {
        if (c->fd >= 0)
            close(c->fd);
        c->fd = -1;
    }
    m_connections.clear();
    if (m_listenFd >= 0)
        close(m_listenFd);
    m_listenFd = -1;
    for (int &fd : m_stopPipe) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    m_started = false;
}

void FakeUsbmuxd::acceptLoop()
{
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        const int r = poll(fds, 2, -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0 || (fds[1].revents & POLLIN))
            return;
        const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        auto connection = std::make_shared<Connection>();
        connection->fd = fd;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections.push_back(connection);
        m_threads.emplace_back(&FakeUsbmuxd::serve, this, connection);
    }
}

void FakeUsbmuxd::log(const QString &line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_journal.append(line);
}

QStringList FakeUsbmuxd::journal() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_journal;
}

bool FakeUsbmuxd::holdsPairRecord(const QString &udid) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto &p : m_phones) {
        if (p->udid == udid)
            return !p->pairRecord.isEmpty();
    }
    return false;
}

FakeUsbmuxd::Phone *FakeUsbmuxd::phoneById(int deviceId)
{
    for (const auto &p : m_phones) {
        if (p->deviceId == deviceId)
            return p.get();
    }
    return nullptr;
}

FakeUsbmuxd::Phone *FakeUsbmuxd::phoneByUdid(const QString &udid)
{
    for (const auto &p : m_phones) {
        if (p->udid == udid)
            return p.get();
    }
    return nullptr;
}

namespace
{

plist_t attachedMessage(const QString &udid, int deviceId)
{
    plist_t properties = plist_new_dict();
    plist_dict_set_item(properties, "ConnectionSpeed", plist_new_uint(480000000));
    plist_dict_set_item(properties, "ConnectionType", plist_new_string("USB"));
    plist_dict_set_item(properties, "DeviceID", plist_new_uint(uint64_t(deviceId)));
    plist_dict_set_item(properties, "LocationID", plist_new_uint(0x14100000));
    plist_dict_set_item(properties, "ProductID", plist_new_uint(0x12a8));
    plist_dict_set_item(properties, "SerialNumber", plist_new_string(udid.toUtf8().constData()));
    plist_t message = plist_new_dict();
    plist_dict_set_item(message, "DeviceID", plist_new_uint(uint64_t(deviceId)));
    plist_dict_set_item(message, "MessageType", plist_new_string("Attached"));
    plist_dict_set_item(message, "Properties", properties);
    return message;
}

} // namespace

void FakeUsbmuxd::notifyListeners(const Phone &phone, bool attached)
{
    std::vector<std::shared_ptr<Connection>> listeners;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto &c : m_connections) {
            if (c->listening)
                listeners.push_back(c);
        }
    }
    for (const auto &c : listeners) {
        plist_t message = nullptr;
        if (attached) {
            message = attachedMessage(phone.udid, phone.deviceId);
        } else {
            message = plist_new_dict();
            plist_dict_set_item(message, "DeviceID", plist_new_uint(uint64_t(phone.deviceId)));
            plist_dict_set_item(message, "MessageType", plist_new_string("Detached"));
        }
        std::lock_guard<std::mutex> lock(c->writing);
        MuxFrames::writeMuxMessage(c->fd, m_stopPipe[0], message, 0);
        plist_free(message);
    }
}

void FakeUsbmuxd::attach(const QString &udid)
{
    Phone *phone = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        phone = phoneByUdid(udid);
        if (!phone || phone->attached)
            return;
        phone->attached = true;
    }
    notifyListeners(*phone, true);
}

void FakeUsbmuxd::detach(const QString &udid)
{
    Phone *phone = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        phone = phoneByUdid(udid);
        if (!phone || !phone->attached)
            return;
        phone->attached = false;
    }
    notifyListeners(*phone, false);
}

void FakeUsbmuxd::serve(std::shared_ptr<Connection> connection)
{
    const int stop = m_stopPipe[0];
    for (;;) {
        uint32_t tag = 0;
        plist_t request = MuxFrames::readMuxMessage(connection->fd, stop, tag);
        if (!request)
            break;
        const QString type = stringOf(request, "MessageType");
        plist_t answer = nullptr;
        Phone *connectTo = nullptr;
        int port = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (type == QLatin1String("Listen")) {
                m_journal << QStringLiteral("mux Listen");
                answer = result(kResultOk);
            } else if (type == QLatin1String("ListDevices")) {
                m_journal << QStringLiteral("mux ListDevices");
                answer = plist_new_dict();
                plist_t list = plist_new_array();
                for (const auto &p : m_phones) {
                    if (p->attached)
                        plist_array_append_item(list, attachedMessage(p->udid, p->deviceId));
                }
                plist_dict_set_item(answer, "DeviceList", list);
            } else if (type == QLatin1String("ReadBUID")) {
                m_journal << QStringLiteral("mux ReadBUID");
                answer = plist_new_dict();
                plist_dict_set_item(answer, "BUID", plist_new_string(kBuid));
            } else if (type == QLatin1String("ReadPairRecord") || type == QLatin1String("SavePairRecord")
                       || type == QLatin1String("DeletePairRecord")) {
                const QString id = stringOf(request, "PairRecordID");
                m_journal << QStringLiteral("mux %1 %2").arg(type, id);
                Phone *p = phoneByUdid(id);
                if (!p) {
                    answer = result(kResultBadDevice);
                } else if (type == QLatin1String("ReadPairRecord")) {
                    if (p->pairRecord.isEmpty()) {
                        answer = result(kResultBadDevice);
                    } else {
                        answer = plist_new_dict();
                        plist_dict_set_item(answer, "PairRecordData",
                                            plist_new_data(p->pairRecord.constData(), uint64_t(p->pairRecord.size())));
                    }
                } else if (type == QLatin1String("SavePairRecord")) {
                    plist_t data = plist_dict_get_item(request, "PairRecordData");
                    char *bytes = nullptr;
                    uint64_t length = 0;
                    if (data && plist_get_node_type(data) == PLIST_DATA)
                        plist_get_data_val(data, &bytes, &length);
                    p->pairRecord = QByteArray(bytes, bytes ? qsizetype(length) : 0);
                    std::free(bytes);
                    answer = result(p->pairRecord.isEmpty() ? kResultBadCommand : kResultOk);
                } else {
                    p->pairRecord.clear();
                    answer = result(kResultOk);
                }
            } else if (type == QLatin1String("Connect")) {
                const int deviceId = int(numberOf(request, "DeviceID"));
                const uint16_t networkPort = uint16_t(numberOf(request, "PortNumber"));
                port = ((networkPort & 0xff) << 8) | (networkPort >> 8);
                Phone *p = phoneById(deviceId);
                m_journal << QStringLiteral("mux Connect %1 %2").arg(p ? p->udid : QStringLiteral("?")).arg(port);
                if (!p || !p->attached) {
                    answer = result(kResultBadDevice);
                } else if (port != kLockdownPort && !p->ports.contains(port)) {
                    answer = result(kResultRefused);
                } else {
                    answer = result(kResultOk);
                    connectTo = p;
                }
            } else {
                m_journal << QStringLiteral("mux %1").arg(type);
                answer = result(kResultBadCommand);
            }
            if (type == QLatin1String("Listen"))
                connection->listening = true;
        }
        plist_free(request);
        bool written = false;
        {
            std::lock_guard<std::mutex> lock(connection->writing);
            written = MuxFrames::writeMuxMessage(connection->fd, stop, answer, tag);
        }
        plist_free(answer);
        if (!written)
            break;
        if (type == QLatin1String("Listen")) {
            std::vector<Phone *> present;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                for (const auto &p : m_phones) {
                    if (p->attached)
                        present.push_back(p.get());
                }
            }
            for (Phone *p : present) {
                plist_t message = attachedMessage(p->udid, p->deviceId);
                std::lock_guard<std::mutex> lock(connection->writing);
                MuxFrames::writeMuxMessage(connection->fd, stop, message, 0);
                plist_free(message);
            }
        }
        if (connectTo) {
            // From here on the connection is the phone's port.
            if (port == kLockdownPort) {
                serveLockdown(*connection, *connectTo);
            } else {
                QString name;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    name = connectTo->ports.take(port);
                }
                serveService(*connection, *connectTo, name);
            }
            break;
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    connection->listening = false;
    shutdown(connection->fd, SHUT_RDWR);
}

plist_t FakeUsbmuxd::lockdownAnswer(Phone &phone, plist_t request, const QString &type, bool &leave, bool &session)
{
    const QString domain = stringOf(request, "Domain");
    const QString key = stringOf(request, "Key");
    QString line = QStringLiteral("lockdown %1 %2").arg(phone.udid, type);
    if (type == QLatin1String("GetValue") || type == QLatin1String("SetValue"))
        line += QStringLiteral(" %1 %2").arg(domain.isEmpty() ? QStringLiteral("-") : domain,
                                            key.isEmpty() ? QStringLiteral("-") : key);
    if (type == QLatin1String("StartService"))
        line += QLatin1Char(' ') + stringOf(request, "Service");
    m_journal << line;
    if (!phone.leaveAt.isEmpty() && line.endsWith(phone.leaveAt)) {
        leave = true;
        return nullptr;
    }

    plist_t answer = plist_new_dict();
    plist_dict_set_item(answer, "Request", plist_new_string(type.toUtf8().constData()));
    const auto refuse = [answer](const char *error) {
        plist_dict_set_item(answer, "Error", plist_new_string(error));
        return answer;
    };
    if (type == QLatin1String("QueryType")) {
        plist_dict_set_item(answer, "Type", plist_new_string("com.apple.mobile.lockdown"));
    } else if (type == QLatin1String("GetValue")) {
        const QJsonObject values = phone.values.value(domain).toObject();
        if (!domain.isEmpty())
            plist_dict_set_item(answer, "Domain", plist_new_string(domain.toUtf8().constData()));
        if (!key.isEmpty())
            plist_dict_set_item(answer, "Key", plist_new_string(key.toUtf8().constData()));
        if (key.isEmpty()) {
            if (!phone.values.contains(domain))
                return refuse("MissingValue");
            plist_dict_set_item(answer, "Value", plistOfJson(values));
        } else if (values.contains(key)) {
            plist_dict_set_item(answer, "Value", plistOfJson(values.value(key)));
        } else if (domain.isEmpty() && key == QLatin1String("DevicePublicKey")) {
            const QByteArray pem = devicePublicKey();
            plist_dict_set_item(answer, "Value", plist_new_data(pem.constData(), uint64_t(pem.size())));
        } else {
            return refuse("MissingValue");
        }
    } else if (type == QLatin1String("SetValue")) {
        plist_t value = plist_dict_get_item(request, "Value");
        if (!value || key.isEmpty())
            return refuse("MissingValue");
        QJsonObject values = phone.values.value(domain).toObject();
        // The fake keeps what its scenarios hold: texts, numbers, truth values.
        switch (plist_get_node_type(value)) {
        case PLIST_STRING:
            values.insert(key, stringOf(request, "Value"));
            break;
        case PLIST_BOOLEAN: {
            uint8_t b = 0;
            plist_get_bool_val(value, &b);
            values.insert(key, b != 0);
            break;
        }
        case PLIST_UINT:
            values.insert(key, double(numberOf(request, "Value")));
            break;
        default:
            return refuse("InvalidValue");
        }
        phone.values.insert(domain, values);
    } else if (type == QLatin1String("StartSession")) {
        if (phone.sessionAnswer != QLatin1String("accept") || phone.pairRecord.isEmpty()
            || hostIdOf(phone.pairRecord) != stringOf(request, "HostID"))
            return refuse("InvalidHostID");
        session = true;
        plist_dict_set_item(answer, "SessionID", plist_new_string("8C5E1D2F-3A4B-4C6D-8E9F-0A1B2C3D4E5F"));
        plist_dict_set_item(answer, "EnableSessionSSL", plist_new_bool(0));
    } else if (type == QLatin1String("StopSession")) {
        session = false;
    } else if (type == QLatin1String("StartService")) {
        const QString name = stringOf(request, "Service");
        if (!session)
            return refuse("SessionInactive");
        if (!phone.services.contains(name))
            return refuse("InvalidService");
        const QJsonObject service = phone.services.value(name).toObject();
        if (service.contains(QLatin1String("refuse")))
            return refuse(service.value(QLatin1String("refuse")).toString().toUtf8().constData());
        const int port = m_nextPort++;
        phone.ports.insert(port, name);
        plist_dict_set_item(answer, "Service", plist_new_string(name.toUtf8().constData()));
        plist_dict_set_item(answer, "Port", plist_new_uint(uint64_t(port)));
        plist_dict_set_item(answer, "EnableServiceSSL", plist_new_bool(service.value(QLatin1String("ssl")).toBool() ? 1 : 0));
    } else if (type == QLatin1String("Pair")) {
        if (phone.pairAnswer == QLatin1String("pending"))
            return refuse("PairingDialogResponsePending");
        if (phone.pairAnswer == QLatin1String("denied"))
            return refuse("UserDeniedPairing");
        if (phone.pairAnswer == QLatin1String("passcode"))
            return refuse("PasswordProtected");
        const QByteArray bag("escrow bag of the fake phone");
        plist_dict_set_item(answer, "EscrowBag", plist_new_data(bag.constData(), uint64_t(bag.size())));
    } else if (type == QLatin1String("ValidatePair")) {
        if (phone.pairRecord.isEmpty())
            return refuse("InvalidHostID");
    } else if (type == QLatin1String("Goodbye")) {
        plist_dict_set_item(answer, "Result", plist_new_string("Success"));
    } else {
        return refuse("InvalidRequest");
    }
    return answer;
}

void FakeUsbmuxd::serveLockdown(Connection &connection, Phone &phone)
{
    const int stop = m_stopPipe[0];
    bool session = false;
    for (;;) {
        plist_t request = MuxFrames::readFramed(connection.fd, stop);
        if (!request)
            return;
        const QString type = stringOf(request, "Request");
        bool leave = false;
        plist_t answer = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            answer = plist_get_node_type(request) == PLIST_DICT ? lockdownAnswer(phone, request, type, leave, session) : nullptr;
        }
        plist_free(request);
        if (leave) {
            // Unplugged in the middle: the question stays unanswered.
            detach(phone.udid);
            return;
        }
        if (!answer)
            return;
        const bool sent = MuxFrames::writeFramed(connection.fd, stop, answer);
        plist_free(answer);
        if (!sent || type == QLatin1String("Goodbye"))
            return;
    }
}

void FakeUsbmuxd::serveService(Connection &connection, Phone &phone, const QString &name)
{
    const int stop = m_stopPipe[0];
    QJsonObject service;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        service = phone.services.value(name).toObject();
        m_journal << QStringLiteral("service %1 %2").arg(phone.udid, name);
    }
    // Every service the fake plays is a file_relay: one request, one answer,
    // the archive, the end of the stream.
    plist_t request = MuxFrames::readFramed(connection.fd, stop);
    QStringList sources;
    bool known = true;
    plist_t list = request && plist_get_node_type(request) == PLIST_DICT ? plist_dict_get_item(request, "Sources") : nullptr;
    const QJsonObject offered = service.value(QLatin1String("sources")).toObject();
    if (list && plist_get_node_type(list) == PLIST_ARRAY) {
        for (uint32_t i = 0; i < plist_array_get_size(list); ++i) {
            plist_t item = plist_array_get_item(list, i);
            char *text = nullptr;
            if (plist_get_node_type(item) == PLIST_STRING)
                plist_get_string_val(item, &text);
            sources << QString::fromUtf8(text);
            std::free(text);
            known = known && offered.contains(sources.last());
        }
    } else {
        known = false;
    }
    plist_free(request);
    log(QStringLiteral("file_relay %1 %2").arg(phone.udid, sources.join(QLatin1Char(','))));

    plist_t answer = nullptr;
    if (service.contains(QLatin1String("answer"))) {
        answer = plistOfJson(service.value(QLatin1String("answer")));
    } else {
        answer = plist_new_dict();
        plist_dict_set_item(answer, known ? "Status" : "Error", plist_new_string(known ? "Acknowledged" : "InvalidSource"));
    }
    const bool acknowledged = known && stringOf(answer, "Status").compare(QLatin1String("Acknowledged"), Qt::CaseInsensitive) == 0;
    const bool sent = MuxFrames::writeFramed(connection.fd, stop, answer);
    plist_free(answer);
    if (!sent || !acknowledged || sources.isEmpty())
        return;
    QFile archive(offered.value(sources.first()).toString());
    if (!archive.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = archive.readAll();
    MuxFrames::writeAll(connection.fd, stop, bytes.constData(), size_t(bytes.size()));
}
