// A stand-in for the device library: it plays the devices of a scenario file
// (SimScenario.h, README.md). Devices arrive and leave on a thread of their
// own; lockdown calls follow the connect / pair / validate / session rules and
// answer with the codes the scenario gives; services are peers on the other
// end of a socket pair, each served by a thread of its own.
//
// Every call is written to the journal file named by LARKSPAN_DEVICE_JOURNAL,
// one line each, so that a test can see what was called and in which order.

#include "MobileDeviceCalls.h"
#include "CoreFoundationExports.h"
#include "SimScenario.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <archive.h>
#include <archive_entry.h>
#include <plist/plist.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#define SIM_MD_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{

// Result codes of the simulation's own refusals (README.md).
constexpr int kDeviceGone = -402653168;
constexpr int kNotConnected = -402653167;
constexpr int kNotPaired = -402653166;
constexpr int kNoSession = -402653165;
constexpr int kUnknownService = -402653164;
constexpr int kBadArgument = -402653163;
constexpr int kSocketFailure = -402653162;

constexpr int kPeerWaitMs = 60000;
constexpr uint32_t kMaxRequestLength = 1024 * 1024;

struct Device
{
    SimDevice config;
    std::mutex mutex;
    bool present = false;
    bool connected = false;
    bool paired = false;
    bool validated = false;
    bool session = false;
    plist_t domains = nullptr; // domain name -> dictionary of values
};

struct World
{
    SimScenario scenario;
    std::vector<std::unique_ptr<Device>> devices;
};

// Made on first use and never destroyed: threads of the simulation may still
// run while the process exits.
World &world()
{
    static World *w = [] {
        auto *made = new World;
        made->scenario = SimScenario::fromEnvironment();
        if (!made->scenario.error.isEmpty())
            std::fprintf(stderr, "device simulation: %s\n", made->scenario.error.toUtf8().constData());
        for (const SimDevice &config : made->scenario.devices) {
            auto device = std::make_unique<Device>();
            device->config = config;
            device->paired = config.paired;
            device->domains = simValueToPlist(config.values);
            if (!device->domains || plist_get_node_type(device->domains) != PLIST_DICT) {
                plist_free(device->domains);
                device->domains = plist_new_dict();
            }
            made->devices.push_back(std::move(device));
        }
        return made;
    }();
    return *w;
}

// A handle is only ever one of the world's devices; anything else is refused.
Device *deviceOf(void *handle)
{
    for (const auto &d : world().devices) {
        if (d.get() == handle)
            return d.get();
    }
    return nullptr;
}

QString idOf(const Device *d)
{
    return d ? d->config.id : QStringLiteral("(unknown)");
}

void journal(const char *call, const Device *d, const QString &rest = QString())
{
    QString line = QLatin1String(call) + QLatin1Char(' ') + idOf(d);
    if (!rest.isEmpty())
        line += QLatin1Char(' ') + rest;
    simJournal(line);
}

int scripted(const Device *d, const char *call)
{
    return d->config.results.value(QLatin1String(call), 0);
}

QString textOf(CFTypeRef string)
{
    if (!string || CFGetTypeID(string) != CFStringGetTypeID())
        return QString();
    const CFIndex length = CFStringGetLength(string);
    CFIndex needed = 0;
    CFStringGetBytes(string, CFRange{0, length}, kCFEncodingUtf8, '?', false, nullptr, 0, &needed);
    QByteArray bytes(qsizetype(needed), '\0');
    CFIndex used = 0;
    CFStringGetBytes(string, CFRange{0, length}, kCFEncodingUtf8, '?', false, reinterpret_cast<uint8_t *>(bytes.data()),
                     needed, &used);
    return QString::fromUtf8(bytes.constData(), qsizetype(used));
}

CFTypeRef toValue(plist_t node)
{
    char *bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bytes, &length);
    if (!bytes)
        return nullptr;
    CFTypeRef data = CFDataCreate(nullptr, reinterpret_cast<const uint8_t *>(bytes), CFIndex(length));
    plist_to_bin_free(bytes);
    CFTypeRef value = CFPropertyListCreateWithData(nullptr, data, 0, nullptr, nullptr);
    CFRelease(data);
    return value;
}

plist_t fromValue(CFTypeRef value)
{
    CFTypeRef data = CFPropertyListCreateData(nullptr, value, kCFPropertyListFormatBinary, 0, nullptr);
    if (!data)
        return nullptr;
    QByteArray bytes(qsizetype(CFDataGetLength(data)), '\0');
    CFDataGetBytes(data, CFRange{0, CFIndex(bytes.size())}, reinterpret_cast<uint8_t *>(bytes.data()));
    CFRelease(data);
    plist_t node = nullptr;
    plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &node);
    return node;
}

// --- the service peers ---------------------------------------------------

bool waitFor(int fd, short events)
{
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = poll(&p, 1, kPeerWaitMs);
        if (r < 0 && errno == EINTR)
            continue;
        return r > 0;
    }
}

bool sendAll(int fd, const char *data, size_t length)
{
    while (length > 0) {
        if (!waitFor(fd, POLLOUT))
            return false;
        const ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

bool receiveAll(int fd, char *data, size_t length)
{
    while (length > 0) {
        if (!waitFor(fd, POLLIN))
            return false;
        const ssize_t n = recv(fd, data, length, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

plist_t receiveMessage(int fd)
{
    unsigned char header[4];
    if (!receiveAll(fd, reinterpret_cast<char *>(header), 4))
        return nullptr;
    const uint32_t length = (uint32_t(header[0]) << 24) | (uint32_t(header[1]) << 16) | (uint32_t(header[2]) << 8) | header[3];
    if (length == 0 || length > kMaxRequestLength)
        return nullptr;
    QByteArray body(qsizetype(length), '\0');
    if (!receiveAll(fd, body.data(), length))
        return nullptr;
    plist_t node = nullptr;
    plist_from_memory(body.constData(), length, &node);
    return node;
}

bool sendMessage(int fd, plist_t node)
{
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    if (!xml)
        return false;
    const unsigned char header[4] = {uchar(length >> 24), uchar(length >> 16), uchar(length >> 8), uchar(length)};
    const bool sent = sendAll(fd, reinterpret_cast<const char *>(header), 4) && sendAll(fd, xml, length);
    plist_to_xml_free(xml);
    return sent;
}

la_ssize_t archiveWrite(struct archive *, void *client, const void *buffer, size_t length)
{
    const int fd = *static_cast<int *>(client);
    return sendAll(fd, static_cast<const char *>(buffer), length) ? la_ssize_t(length) : -1;
}

// Every folder and regular file below each source folder, as "./relative
// path", folders before what they hold; links and special files are left out.
bool writeArchive(int fd, const QStringList &folders)
{
    struct archive *a = archive_write_new();
    archive_write_set_format_cpio_newc(a);
    int client = fd;
    bool ok = archive_write_open(a, &client, nullptr, archiveWrite, nullptr) == ARCHIVE_OK;
    for (const QString &folder : folders) {
        QStringList paths;
        QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            paths << it.next();
        paths.sort(); // a folder sorts before everything inside it
        for (const QString &path : paths) {
            if (!ok)
                break;
            const QFileInfo info(path);
            if (info.isSymLink() || (!info.isDir() && !info.isFile()))
                continue;
            const QByteArray name = (QStringLiteral("./") + QDir(folder).relativeFilePath(path)).toUtf8();
            struct archive_entry *entry = archive_entry_new();
            archive_entry_set_pathname(entry, name.constData());
            archive_entry_set_filetype(entry, info.isDir() ? AE_IFDIR : AE_IFREG);
            archive_entry_set_perm(entry, info.isDir() ? 0755 : 0644);
            archive_entry_set_size(entry, info.isDir() ? 0 : info.size());
            archive_entry_set_mtime(entry, info.lastModified().toSecsSinceEpoch(), 0);
            archive_entry_set_atime(entry, info.lastRead().toSecsSinceEpoch(), 0);
            ok = archive_write_header(a, entry) == ARCHIVE_OK;
            archive_entry_free(entry);
            if (ok && info.isFile()) {
                QFile file(path);
                ok = file.open(QIODevice::ReadOnly);
                while (ok && !file.atEnd()) {
                    const QByteArray chunk = file.read(65536);
                    ok = !chunk.isEmpty() && archive_write_data(a, chunk.constData(), size_t(chunk.size())) == chunk.size();
                }
            }
        }
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    return ok;
}

QString statusOf(plist_t answer)
{
    plist_t status = plist_dict_get_item(answer, "Status");
    if (!status || plist_get_node_type(status) != PLIST_STRING)
        return QString();
    char *text = nullptr;
    plist_get_string_val(status, &text);
    const QString s = QString::fromUtf8(text);
    std::free(text);
    return s;
}

void serveFileRelay(int fd, SimService service, QString deviceId)
{
    plist_t request = receiveMessage(fd);
    QStringList sources;
    bool known = request && plist_get_node_type(request) == PLIST_DICT;
    plist_t list = known ? plist_dict_get_item(request, "Sources") : nullptr;
    known = known && list && plist_get_node_type(list) == PLIST_ARRAY;
    for (uint32_t i = 0; known && i < plist_array_get_size(list); ++i) {
        plist_t item = plist_array_get_item(list, i);
        char *text = nullptr;
        if (plist_get_node_type(item) == PLIST_STRING)
            plist_get_string_val(item, &text);
        const QString source = text ? QString::fromUtf8(text) : QString();
        std::free(text);
        known = service.sources.contains(source);
        sources << source;
    }
    plist_free(request);
    simJournal(QStringLiteral("file_relay %1 %2").arg(deviceId, sources.join(QLatin1Char(','))));

    plist_t answer = nullptr;
    if (!service.answer.isEmpty()) {
        answer = simValueToPlist(service.answer);
    } else {
        answer = plist_new_dict();
        if (known)
            plist_dict_set_item(answer, "Status", plist_new_string("Acknowledged"));
        else
            plist_dict_set_item(answer, "Error", plist_new_string("InvalidSource"));
    }
    const bool acknowledged = known && statusOf(answer).compare(QLatin1String("Acknowledged"), Qt::CaseInsensitive) == 0;
    if (sendMessage(fd, answer) && acknowledged) {
        if (!service.archiveFile.isEmpty()) {
            QFile file(service.archiveFile);
            if (file.open(QIODevice::ReadOnly)) {
                const QByteArray bytes = file.readAll();
                sendAll(fd, bytes.constData(), size_t(bytes.size()));
            }
        } else {
            QStringList folders;
            for (const QString &source : sources)
                folders << service.sources.value(source);
            writeArchive(fd, folders);
        }
    }
    plist_free(answer);
    // The end of the stream ends the archive.
    close(fd);
}

// A service of kind "peer" is played by whoever listens at its socket path
// (a test), so that any service conversation can be run end to end.
int connectPeer(const QString &path, int *socketOut)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty() || name.size() >= qsizetype(sizeof address.sun_path))
        return kSocketFailure;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return kSocketFailure;
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return kSocketFailure;
    }
    *socketOut = fd;
    return 0;
}

// --- notifications -------------------------------------------------------

void deliverEvents(DeviceNotificationCallback callback, void *context)
{
    World &w = world();
    for (const SimEvent &event : w.scenario.events) {
        std::this_thread::sleep_for(std::chrono::milliseconds(event.afterMs));
        Device *d = w.devices.at(size_t(event.device)).get();
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            if (event.message == kDeviceArrived)
                d->present = true;
            else if (event.message == kDeviceLeft)
                d->present = false;
        }
        journal("notify", d, QString::number(event.message));
        const DeviceNotificationInfo info{d, event.message};
        callback(&info, context);
    }
}

int sessionCall(void *handle, const char *call, bool needConnected, bool needValidated,
                const std::function<void(Device &)> &onSuccess)
{
    Device *d = deviceOf(handle);
    journal(call, d);
    if (!d)
        return kBadArgument;
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->present)
        return kDeviceGone;
    if (needConnected && !d->connected)
        return kNotConnected;
    if (needValidated && !d->validated)
        return kNotPaired;
    if (const int code = scripted(d, call))
        return code;
    onSuccess(*d);
    return 0;
}

} // namespace

// The exported functions must have exactly the types the program calls them with.
SIM_MD_EXPORT int AMDeviceNotificationSubscribe(DeviceNotificationCallback callback, unsigned int, unsigned int,
                                                void *context, void **notification);
SIM_MD_EXPORT int AMDeviceConnect(void *device);
SIM_MD_EXPORT int AMDeviceIsPaired(void *device);
SIM_MD_EXPORT int AMDevicePair(void *device);
SIM_MD_EXPORT int AMDeviceValidatePairing(void *device);
SIM_MD_EXPORT int AMDeviceStartSession(void *device);
SIM_MD_EXPORT int AMDeviceStopSession(void *device);
SIM_MD_EXPORT int AMDeviceDisconnect(void *device);
SIM_MD_EXPORT int AMDeviceStartService(void *device, CFTypeRef serviceName, int *socket, void *unused);
SIM_MD_EXPORT CFTypeRef AMDeviceCopyValue(void *device, CFTypeRef domain, CFTypeRef key);
SIM_MD_EXPORT int AMDeviceSetValue(void *device, CFTypeRef domain, CFTypeRef key, CFTypeRef value);
SIM_MD_EXPORT CFTypeRef AMDeviceCopyDeviceIdentifier(void *device);

static_assert(std::is_same_v<decltype(&AMDeviceNotificationSubscribe), AMDeviceNotificationSubscribeFn>);
static_assert(std::is_same_v<decltype(&AMDeviceConnect), AMDeviceFn>);
static_assert(std::is_same_v<decltype(&AMDeviceStartService), AMDeviceStartServiceFn>);
static_assert(std::is_same_v<decltype(&AMDeviceCopyValue), AMDeviceCopyValueFn>);
static_assert(std::is_same_v<decltype(&AMDeviceSetValue), AMDeviceSetValueFn>);
static_assert(std::is_same_v<decltype(&AMDeviceCopyDeviceIdentifier), AMDeviceCopyDeviceIdentifierFn>);

int AMDeviceNotificationSubscribe(DeviceNotificationCallback callback, unsigned int, unsigned int, void *context,
                                  void **notification)
{
    simJournal(QStringLiteral("AMDeviceNotificationSubscribe"));
    if (!callback || !notification)
        return kBadArgument;
    world();
    static int subscriptions = 0;
    *notification = &subscriptions;
    std::thread(deliverEvents, callback, context).detach();
    return 0;
}

int AMDeviceConnect(void *device)
{
    return sessionCall(device, "AMDeviceConnect", false, false, [](Device &d) { d.connected = true; });
}

int AMDeviceIsPaired(void *device)
{
    Device *d = deviceOf(device);
    journal("AMDeviceIsPaired", d);
    if (!d)
        return 0;
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->paired ? 1 : 0;
}

int AMDevicePair(void *device)
{
    return sessionCall(device, "AMDevicePair", true, false, [](Device &d) { d.paired = true; });
}

int AMDeviceValidatePairing(void *device)
{
    Device *d = deviceOf(device);
    if (d) {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (d->present && d->connected && !d->paired) {
            journal("AMDeviceValidatePairing", d);
            return kNotPaired;
        }
    }
    return sessionCall(device, "AMDeviceValidatePairing", true, false, [](Device &d) { d.validated = true; });
}

int AMDeviceStartSession(void *device)
{
    return sessionCall(device, "AMDeviceStartSession", true, true, [](Device &d) { d.session = true; });
}

int AMDeviceStopSession(void *device)
{
    Device *d = deviceOf(device);
    journal("AMDeviceStopSession", d);
    if (!d)
        return kBadArgument;
    std::lock_guard<std::mutex> lock(d->mutex);
    const bool had = d->session;
    d->session = false;
    return had ? 0 : kNoSession;
}

int AMDeviceDisconnect(void *device)
{
    Device *d = deviceOf(device);
    journal("AMDeviceDisconnect", d);
    if (!d)
        return kBadArgument;
    std::lock_guard<std::mutex> lock(d->mutex);
    const bool had = d->connected;
    d->connected = d->validated = d->session = false;
    return had ? 0 : kNotConnected;
}

int AMDeviceStartService(void *device, CFTypeRef serviceName, int *socketOut, void *)
{
    Device *d = deviceOf(device);
    const QString name = textOf(serviceName);
    journal("AMDeviceStartService", d, name);
    if (!d || !socketOut)
        return kBadArgument;
    SimService service;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (!d->present)
            return kDeviceGone;
        if (!d->session)
            return kNoSession;
        if (const int code = scripted(d, "AMDeviceStartService"))
            return code;
        if (!d->config.services.contains(name))
            return kUnknownService;
        service = d->config.services.value(name);
        if (service.kind != QLatin1String("file_relay") && service.kind != QLatin1String("peer"))
            return kUnknownService;
    }
    if (service.kind == QLatin1String("peer"))
        return connectPeer(service.peerPath, socketOut);
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return kSocketFailure;
    *socketOut = ends[0];
    std::thread(serveFileRelay, ends[1], service, d->config.id).detach();
    return 0;
}

CFTypeRef AMDeviceCopyValue(void *device, CFTypeRef domain, CFTypeRef key)
{
    Device *d = deviceOf(device);
    const QString domainName = textOf(domain);
    const QString keyName = textOf(key);
    journal("AMDeviceCopyValue", d,
            (domain ? domainName : QStringLiteral("-")) + QLatin1Char(' ') + (key ? keyName : QStringLiteral("-")));
    if (!d)
        return nullptr;
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->present || !d->session)
        return nullptr;
    plist_t values = plist_dict_get_item(d->domains, domainName.toUtf8().constData());
    if (!values || plist_get_node_type(values) != PLIST_DICT)
        return nullptr;
    plist_t node = key ? plist_dict_get_item(values, keyName.toUtf8().constData()) : values;
    return node ? toValue(node) : nullptr;
}

int AMDeviceSetValue(void *device, CFTypeRef domain, CFTypeRef key, CFTypeRef value)
{
    Device *d = deviceOf(device);
    const QString domainName = textOf(domain);
    const QString keyName = textOf(key);
    journal("AMDeviceSetValue", d, (domain ? domainName : QStringLiteral("-")) + QLatin1Char(' ') + keyName);
    if (!d || !key || !value)
        return kBadArgument;
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->present)
        return kDeviceGone;
    if (!d->session)
        return kNoSession;
    if (const int code = scripted(d, "AMDeviceSetValue"))
        return code;
    plist_t node = fromValue(value);
    if (!node)
        return kBadArgument;
    const QByteArray domainKey = domainName.toUtf8();
    plist_t values = plist_dict_get_item(d->domains, domainKey.constData());
    if (!values || plist_get_node_type(values) != PLIST_DICT) {
        values = plist_new_dict();
        plist_dict_set_item(d->domains, domainKey.constData(), values);
    }
    plist_dict_set_item(values, keyName.toUtf8().constData(), node);
    return 0;
}

CFTypeRef AMDeviceCopyDeviceIdentifier(void *device)
{
    Device *d = deviceOf(device);
    journal("AMDeviceCopyDeviceIdentifier", d);
    if (!d)
        return nullptr;
    const QByteArray id = d->config.id.toUtf8();
    return CFStringCreateWithBytes(nullptr, reinterpret_cast<const uint8_t *>(id.constData()), id.size(), kCFEncodingUtf8,
                                   false);
}
