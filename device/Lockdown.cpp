#include "Lockdown.h"

#include "Errors.h"
#include "MobileDeviceCalls.h"
#include "MobileDeviceFramework.h"

#include <QCoreApplication>


namespace
{

// A function the library lacks (or a library that is not loaded) is an
// error, never a call through a null pointer.
template <typename Fn>
Fn amd(const char *name)
{
    // The values passed to the library are made by CoreFoundation, so both
    // libraries must be there.
    if (!mobiledevice_frameworks_loaded())
        throwError(QCoreApplication::translate("QObject", "The device framework is not loaded."));
    const auto fn = reinterpret_cast<Fn>(amd_resolve(name));
    if (!fn)
        throwError(QCoreApplication::translate("QObject", "The device framework has no function %1.")
                       .arg(QLatin1String(name)));
    return fn;
}

QString sessionMessage(const char *call, int code)
{
    const QString hint = QCoreApplication::translate(
        "QObject", "Please restart your iPhone and computer to try again. If a prompt message pops out on your iPhone, "
                   "please click \"Trust\".");
    return QStringLiteral("%1<br/><br/>Error code: %2").arg(hint, QStringLiteral("%1(%2)").arg(QLatin1String(call)).arg(code));
}

QString serviceMessage(const char *serviceName, int code)
{
    const QString hint = QCoreApplication::translate(
        "QObject", "Please turn off Wifi Sync on iTunes to try again.<br/>To do this:  Launch iTunes -&gt; Connect your "
                   "device -&gt; Go Summary -&gt; Options -&gt; Uncheck Sync with this device over Wi-Fi.<br/><br/>");
    return hint + QStringLiteral("Error code: AMDeviceStartService(%1)=%2").arg(QString::fromUtf8(serviceName)).arg(code);
}

// Opens a session for the lifetime of the object and closes it again
// however the work inside ends.
class Session
{
public:
    explicit Session(void *device)
        : m_device(device)
    {
        QString error;
        if (mobiledevice_connect(device, error) != 0)
            throwError(error);
    }
    ~Session() { mobiledevice_disconnect(m_device); }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

private:
    void *m_device;
};

} // namespace

int mobiledevice_connect(void *device, QString &error)
{
    try {
        const auto connect = amd<AMDeviceFn>("AMDeviceConnect");
        const auto isPaired = amd<AMDeviceFn>("AMDeviceIsPaired");
        const auto pair = amd<AMDeviceFn>("AMDevicePair");
        const auto validate = amd<AMDeviceFn>("AMDeviceValidatePairing");
        const auto start = amd<AMDeviceFn>("AMDeviceStartSession");
        const auto disconnect = amd<AMDeviceFn>("AMDeviceDisconnect");

        if (const int code = connect(device)) {
            error = sessionMessage("AMDeviceConnect", code);
            return code;
        }
        // Once connected, every failure disconnects again: a connection left
        // open would stay with the device for the rest of the process.
        if (!isPaired(device)) {
            if (const int code = pair(device)) {
                disconnect(device);
                error = sessionMessage("AMDevicePair", code);
                return code;
            }
        }
        if (const int code = validate(device)) {
            disconnect(device);
            error = sessionMessage("AMDeviceValidatePairing", code);
            return code;
        }
        if (const int code = start(device)) {
            disconnect(device);
            error = sessionMessage("AMDeviceStartSession", code);
            return code;
        }
        return 0;
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
        return -1;
    }
}

void mobiledevice_disconnect(void *device)
{
    if (const auto stop = reinterpret_cast<AMDeviceFn>(amd_resolve("AMDeviceStopSession")))
        stop(device);
    if (const auto disconnect = reinterpret_cast<AMDeviceFn>(amd_resolve("AMDeviceDisconnect")))
        disconnect(device);
}

void mobiledevice_start_service(void *device, const char *serviceName, int *socketOut)
{
    const auto start = amd<AMDeviceStartServiceFn>("AMDeviceStartService");
    int code = 0;
    {
        const Session session(device);
        const CFType name = CFType::fromString(QString::fromUtf8(serviceName));
        code = start(device, name.ref(), socketOut, nullptr);
    }
    if (code != 0)
        throwError(serviceMessage(serviceName, code));
}

QList<CFType> mobiledevice_copy_values(void *device, const QStringList &keys, const QString &domain)
{
    const auto copy = amd<AMDeviceCopyValueFn>("AMDeviceCopyValue");
    QList<CFType> values;
    const Session session(device);
    const CFType domainName = domain.isEmpty() ? CFType() : CFType::fromString(domain);
    for (const QString &key : keys) {
        const CFType keyName = key.isEmpty() ? CFType() : CFType::fromString(key);
        values.append(CFType(copy(device, domainName.ref(), keyName.ref()), true));
    }
    return values;
}

int mobiledevice_set_value(void *device, const QString &domain, const QString &key, const CFType &value)
{
    const auto set = amd<AMDeviceSetValueFn>("AMDeviceSetValue");
    const Session session(device);
    const CFType domainName = CFType::fromString(domain);
    const CFType keyName = CFType::fromString(key);
    return set(device, domainName.ref(), keyName.ref(), value.ref());
}

QString mobiledevice_copy_device_identifier(void *device)
{
    const auto copy = amd<AMDeviceCopyDeviceIdentifierFn>("AMDeviceCopyDeviceIdentifier");
    const Session session(device);
    return CFType(copy(device), true).stringValue();
}
