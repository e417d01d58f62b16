#include "UsbDevice.h"

#include "DeviceCodes.h"
#include "PlistValues.h"

#include <QtGlobal>

#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <unistd.h>
#include <usbmuxd.h>

namespace
{

constexpr char kLabel[] = "larkspan";

// A phone the daemon does not list has left, unless the daemon itself is
// gone, which the user can do something about.
int absentCode()
{
    usbmuxd_device_info_t *list = nullptr;
    const int count = usbmuxd_get_device_list(&list);
    if (list)
        usbmuxd_device_list_free(&list);
    return count < 0 ? kNoDaemon : kDeviceGone;
}

std::string stringItem(plist_t dict, const char *key)
{
    plist_t node = dict ? plist_dict_get_item(dict, key) : nullptr;
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::string();
    char *text = nullptr;
    plist_get_string_val(node, &text);
    std::string value = text ? text : "";
    std::free(text);
    return value;
}

} // namespace

UsbDevice::UsbDevice(std::string udid)
    : m_udid(std::move(udid))
{
}

UsbDevice::~UsbDevice()
{
    closeConnection();
}

void UsbDevice::closeConnection()
{
    if (m_lockdown)
        lockdownd_client_free(m_lockdown);
    if (m_device)
        idevice_free(m_device);
    m_lockdown = nullptr;
    m_device = nullptr;
    m_validated = false;
    m_sessionId.clear();
}

plist_t UsbDevice::readPairRecord() const
{
    char *bytes = nullptr;
    uint32_t length = 0;
    if (usbmuxd_read_pair_record(m_udid.c_str(), &bytes, &length) != 0 || !bytes)
        return nullptr;
    plist_t record = nullptr;
    plist_from_memory(bytes, length, &record);
    std::free(bytes);
    if (record && plist_get_node_type(record) != PLIST_DICT) {
        plist_free(record);
        record = nullptr;
    }
    return record;
}

int UsbDevice::connect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_present)
        return kDeviceGone;
    if (m_lockdown)
        return 0;
    idevice_t device = nullptr;
    if (idevice_new_with_options(&device, m_udid.c_str(), IDEVICE_LOOKUP_USBMUX) != IDEVICE_E_SUCCESS || !device)
        return absentCode();
    lockdownd_client_t lockdown = nullptr;
    const lockdownd_error_t result = lockdownd_client_new(device, &lockdown, kLabel);
    if (result != LOCKDOWN_E_SUCCESS || !lockdown) {
        idevice_free(device);
        return result == LOCKDOWN_E_MUX_ERROR ? absentCode() : int(result);
    }
    m_device = device;
    m_lockdown = lockdown;
    return 0;
}

bool UsbDevice::isPaired()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    plist_t record = readPairRecord();
    plist_free(record);
    return record != nullptr;
}

int UsbDevice::pair()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_present)
        return kDeviceGone;
    if (!m_lockdown)
        return kNotConnected;
    // The phone asks its user whether to trust this computer; until that is
    // answered the pairing is refused as pending. libimobiledevice makes the
    // record and hands it to the daemon, which keeps it.
    return int(lockdownd_pair(m_lockdown, nullptr));
}

bool UsbDevice::wantsPairValidation()
{
    plist_t version = nullptr;
    if (lockdownd_get_value(m_lockdown, nullptr, "ProductVersion", &version) != LOCKDOWN_E_SUCCESS || !version)
        return true;
    std::string text;
    if (plist_get_node_type(version) == PLIST_STRING) {
        char *value = nullptr;
        plist_get_string_val(version, &value);
        text = value ? value : "";
        std::free(value);
    }
    plist_free(version);
    return std::atoi(text.c_str()) < 7;
}

int UsbDevice::validatePairing()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_present)
        return kDeviceGone;
    if (!m_lockdown)
        return kNotConnected;
    plist_t record = readPairRecord();
    if (!record)
        return kNotPaired;
    plist_free(record);
    // From system 7 on the phone checks the pairing when the session starts.
    if (wantsPairValidation()) {
        const lockdownd_error_t result = lockdownd_validate_pair(m_lockdown, nullptr);
        if (result != LOCKDOWN_E_SUCCESS)
            return int(result);
    }
    m_validated = true;
    return 0;
}

int UsbDevice::startSession()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_present)
        return kDeviceGone;
    if (!m_lockdown)
        return kNotConnected;
    if (!m_validated)
        return kNotPaired;
    if (!m_sessionId.empty())
        return 0;
    plist_t record = readPairRecord();
    const std::string hostId = stringItem(record, "HostID");
    plist_free(record);
    if (hostId.empty())
        return kNotPaired;
    char *sessionId = nullptr;
    int ssl = 0;
    const lockdownd_error_t result = lockdownd_start_session(m_lockdown, hostId.c_str(), &sessionId, &ssl);
    if (result != LOCKDOWN_E_SUCCESS) {
        std::free(sessionId);
        return result == LOCKDOWN_E_MUX_ERROR ? absentCode() : int(result);
    }
    m_sessionId = sessionId ? sessionId : "session";
    std::free(sessionId);
    return 0;
}

int UsbDevice::stopSession()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_sessionId.empty() || !m_lockdown)
        return kNoSession;
    const lockdownd_error_t result = lockdownd_stop_session(m_lockdown, m_sessionId.c_str());
    m_sessionId.clear();
    return int(result);
}

int UsbDevice::disconnect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool had = m_lockdown != nullptr;
    closeConnection();
    return had ? 0 : kNotConnected;
}

int UsbDevice::startService(const std::string &name, int *socketOut)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_present)
        return kDeviceGone;
    if (!m_lockdown)
        return kNotConnected;
    if (m_sessionId.empty())
        return kNoSession;
    lockdownd_service_descriptor_t service = nullptr;
    const lockdownd_error_t result = lockdownd_start_service(m_lockdown, name.c_str(), &service);
    if (result != LOCKDOWN_E_SUCCESS || !service) {
        if (service)
            lockdownd_service_descriptor_free(service);
        return result == LOCKDOWN_E_MUX_ERROR ? absentCode() : int(result);
    }
    const uint16_t port = service->port;
    const bool ssl = service->ssl_enabled != 0;
    lockdownd_service_descriptor_free(service);
    // The program speaks to services over the plain socket itself; a
    // service that wants SSL would need the pairing keys on that socket.
    if (ssl) {
        qWarning("device %s: the service %s asks for SSL, which this program cannot speak", m_udid.c_str(), name.c_str());
        return kServiceNeedsSsl;
    }
    uint32_t handle = 0;
    if (idevice_get_handle(m_device, &handle) != IDEVICE_E_SUCCESS)
        return kDeviceGone;
    const int fd = usbmuxd_connect(handle, port);
    if (fd < 0)
        return m_present ? kServiceUnreachable : kDeviceGone;
    // The program waits with poll and expects whole sends: a blocking socket,
    // not inherited by the programs it starts.
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    *socketOut = fd;
    return 0;
}

CFTypeRef UsbDevice::copyValue(const char *domain, const char *key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_present || !m_lockdown || m_sessionId.empty())
        return nullptr;
    plist_t node = nullptr;
    const lockdownd_error_t result = lockdownd_get_value(m_lockdown, domain, key, &node);
    if (result != LOCKDOWN_E_SUCCESS) {
        plist_free(node);
        return nullptr;
    }
    CFTypeRef value = valueFromPlist(node);
    plist_free(node);
    return value;
}

int UsbDevice::setValue(const char *domain, const char *key, CFTypeRef value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_present)
        return kDeviceGone;
    if (!m_lockdown)
        return kNotConnected;
    if (m_sessionId.empty())
        return kNoSession;
    plist_t node = plistFromValue(value);
    if (!node)
        return kBadArgument;
    // The request takes the node over.
    return int(lockdownd_set_value(m_lockdown, domain, key, node));
}
