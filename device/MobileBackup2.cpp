#include "MobileBackup2.h"

#include "DeviceLink.h"
#include "Errors.h"
#include "Lockdown.h"
#include "ServiceSocket.h"

#include <QDebug>


namespace
{

constexpr int kTimeoutMs = 60000;

CFType key(const char *name)
{
    return CFType::fromString(QLatin1String(name));
}

// A missing code is success; a code that cannot be read as a 32-bit integer
// (a string, a boolean, a number out of range) must not become one.
int errorCodeOf(const CFType &response)
{
    const CFType code = response.value(QStringLiteral("ErrorCode"));
    if (!code.ref())
        return 0;
    // Two different defaults: a value that reads as either one of them was
    // really read.
    const int a = code.toInt(1);
    const int b = code.toInt(2);
    return a == b ? a : -1;
}

} // namespace

void mobiledevice_backup2_start(void *device, int *socket)
{
    mobiledevice_start_service(device, kMobileBackup2Service, socket);
    dl_version_exchange(*socket);
}

double mobiledevice_backup2_version_exchange(int socket, const double *versions, qint8 count)
{
    if (count > 0 && !versions)
        throwError(QStringLiteral("mobiledevice_backup2_version_exchange: no versions given."));
    CFType hello = CFType::makeDictionary();
    CFType offered = CFType::makeArray();
    for (int i = 0; i < count; ++i)
        offered.append(CFType::fromFloat64(versions[i]));
    hello.set(key("SupportedProtocolVersions"), offered);
    const CFType sent = mobiledevice_backup2_send_message(socket, QStringLiteral("Hello"), hello);

    int code = 0;
    const CFType reply = mobiledevice_backup2_recv_response(socket, &code, sent, nullptr);
    if (code == 1)
        throwError(QStringLiteral("mobiledevice_backup2_version_exchange: MOBILEBACKUP2_E_NO_COMMON_VERSION"));
    if (code != 0)
        throwError(QStringLiteral("mobiledevice_backup2_version_exchange: MOBILEBACKUP2_E_REPLY_NOT_OK"));
    return reply.value(QStringLiteral("ProtocolVersion")).toDouble(0.0);
}

CFType mobiledevice_backup2_send_message(int socket, const QString &name, CFType &dictionary)
{
    dictionary.set(key("MessageName"), CFType::fromString(name));
    return dl_send_process_message(socket, dictionary);
}

CFType mobiledevice_backup2_send_request(int socket, const QString &request, const QString &targetId,
                                         const QString &sourceId, const CFType &options)
{
    CFType message = CFType::makeDictionary();
    message.set(key("TargetIdentifier"), CFType::fromString(targetId));
    if (!sourceId.isEmpty())
        message.set(key("SourceIdentifier"), CFType::fromString(sourceId));
    if (options.ref()) {
        message.set(key("Options"), options);
        if (request == QLatin1String("Unback")) {
            const CFType password = options.value(QStringLiteral("Password"));
            if (password.ref())
                message.set(key("Password"), password);
        }
        if (request == QLatin1String("EnableCloudBackup")) {
            const CFType state = options.value(QStringLiteral("CloudBackupState"));
            if (state.ref())
                message.set(key("CloudBackupState"), state);
        }
    }
    return mobiledevice_backup2_send_message(socket, request, message);
}

CFType mobiledevice_backup2_recv_response(int socket, int *errorCode, CFType request, CFType *whole)
{
    CFType received;
    const CFType response = mobiledevice_link_sc_recv_process_message(socket, request, &received);
    if (response.value(QStringLiteral("MessageName")).stringValue() != QLatin1String("Response")) {
        throwError(QStringLiteral("Did not receive a message(\"Message Name\" is \"Response\").\n%1")
                       .arg(QString::fromUtf8(CFType::toPropertyListData(received, kCFPropertyListFormatXml))));
    }
    if (errorCode)
        *errorCode = errorCodeOf(response);
    if (whole)
        *whole = received;
    return response;
}

void mobiledevice_backup2_recv_message(int socket, CFType *message, QString *name)
{
    mobiledevice_link_sc_recv_dlmessaeg(socket, message, name, CFType());
}

CFType mobiledevice_backup2_send_status_response(int socket, int code, const QString &status, const CFType &dictionary)
{
    const CFType placeholder = CFType::fromString(QString::fromLatin1(kDLEmptyParameter));
    CFType message = CFType::makeArray();
    message.append(CFType::fromString(QStringLiteral("DLMessageStatusResponse")));
    message.append(CFType::fromInt32(code));
    message.append(status.isEmpty() ? placeholder : CFType::fromString(status));
    message.append(dictionary.ref() ? dictionary : placeholder);
    mobiledevice_sendmsg(socket, message, true, kTimeoutMs);
    return CFType::deepCopy(message);
}

void mobiledevice_backup2_request_backup(int socket, const QString &deviceId, bool full)
{
    qDebug().noquote() << QStringLiteral("Requesting backup from device, %1")
                              .arg(full ? QLatin1String("Full backup mode") : QLatin1String("Incremental backup mode"));
    CFType options;
    if (full) {
        options = CFType::makeDictionary();
        options.set(key("ForceFullBackup"), CFType::fromBool(true));
    }
    mobiledevice_backup2_send_request(socket, QStringLiteral("Backup"), deviceId, deviceId, options);
}

void mobiledevice_backup2_set_cloud_backup(int socket, const QString &deviceId, bool enable)
{
    qDebug().noquote() << QStringLiteral("Set EnableCloudBackup: %1").arg(enable ? 1 : 0);
    CFType options = CFType::makeDictionary();
    options.set(key("CloudBackupState"), CFType::fromBool(enable));
    mobiledevice_backup2_send_request(socket, QStringLiteral("EnableCloudBackup"), deviceId, deviceId, options);
    int code = 0;
    mobiledevice_backup2_recv_response(socket, &code, CFType(), nullptr);
    if (code != 0)
        throwError(QStringLiteral("Set EnableCloudBackup error code: %1").arg(code));
}
