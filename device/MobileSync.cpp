#include "MobileSync.h"

#include "DeviceLink.h"
#include "Lockdown.h"
#include "ServiceSocket.h"

#include <stdexcept>

namespace
{

constexpr int kTimeoutMs = 60000;
// The device may take long to close a session it has just changed.
constexpr int kFinishTimeoutMs = 3600000;

CFType str(const QString &text)
{
    return CFType::fromString(text);
}

CFType message(std::initializer_list<CFType> elements)
{
    CFType array = CFType::makeArray();
    for (const CFType &element : elements)
        array.append(element);
    return array;
}

// An empty value would not be appended at all and shift every later
// parameter one place forward.
CFType parameter(const CFType &value)
{
    return value.ref() ? value : str(QString::fromLatin1(kDLEmptyParameter));
}

QString nameOf(const CFType &received)
{
    return received.item(0).stringValue();
}

[[noreturn]] void invalidFeedback(const char *sent, const CFType &received)
{
    throw std::runtime_error(QStringLiteral("invalid feedback after send %1.\n%2")
                                 .arg(QLatin1String(sent),
                                      QString::fromUtf8(CFType::toPropertyListData(received, kCFPropertyListFormatXml)))
                                 .toUtf8()
                                 .toStdString());
}

// Sends a message and reads the one answer it needs, whose name must be
// expected.
CFType exchange(int socket, const CFType &request, const char *sentName, const char *expected)
{
    mobiledevice_sendmsg(socket, request, false, kTimeoutMs);
    const CFType reply = mobiledevice_recmsg(socket, request, kTimeoutMs);
    if (nameOf(reply) != QLatin1String(expected))
        invalidFeedback(sentName, reply);
    return reply;
}

} // namespace

void mobiledevice_sync_start(void *device, const mobiledevice_sync_anchors &anchors, int *socket, bool ping)
{
    mobiledevice_start_service(device, kMobileSyncService, socket);
    dl_version_exchange(*socket);
    exchange(*socket,
             message({str(QStringLiteral("SDMessageSyncDataClassWithDevice")), str(anchors.dataClass),
                      str(anchors.deviceAnchor), str(anchors.computerAnchor), CFType::fromInt32(106)}),
             "SDMessageSyncDataClassWithDevice", "SDMessageSyncDataClassWithComputer");
    if (ping) {
        mobiledevice_sendmsg(*socket,
                             message({str(QStringLiteral("DLMessagePing")),
                                      str(QStringLiteral("Preparing to get changes for device"))}),
                             false, kTimeoutMs);
    }
}

QList<CFType> mobiledevice_sync_get_all_records(int socket, const QString &dataClass)
{
    const CFType request = message({str(QStringLiteral("SDMessageGetAllRecordsFromDevice")), str(dataClass)});
    mobiledevice_sendmsg(socket, request, false, kTimeoutMs);
    const CFType acknowledgement = message({str(QStringLiteral("SDMessageAcknowledgeChangesFromDevice")), str(dataClass)});
    QList<CFType> records;
    for (;;) {
        const CFType received = mobiledevice_recmsg(socket, request, kTimeoutMs);
        const QString name = nameOf(received);
        if (name == QLatin1String("SDMessageDeviceReadyToReceiveChanges"))
            return records;
        if (name != QLatin1String("SDMessageProcessChanges"))
            invalidFeedback("SDMessageGetAllRecordsFromDevice", received);
        const CFType batch = received.item(2);
        if (batch.isDictionary())
            records.append(CFType::deepCopy(batch));
        mobiledevice_sendmsg(socket, acknowledgement, false, kTimeoutMs);
    }
}

CFType mobiledevice_sync_process_changes(int socket, const CFType &changes, const QString &dataClass,
                                         const CFType &actions)
{
    const CFType reply = exchange(socket,
                                  message({str(QStringLiteral("SDMessageProcessChanges")), str(dataClass),
                                           parameter(changes), CFType::fromBool(false), parameter(actions)}),
                                  "SDMessageProcessChanges", "SDMessageRemapRecordIdentifiers");
    return CFType::deepCopy(reply.item(2));
}

void mobiledevice_sync_clear_all_records(int socket, const QString &dataClass)
{
    exchange(socket,
             message({str(QStringLiteral("SDMessageClearAllRecordsOnDevice")), str(dataClass),
                      str(QString::fromLatin1(kDLEmptyParameter))}),
             "SDMessageClearAllRecordsOnDevice", "SDMessageDeviceWillClearAllRecords");
}

void mobiledevice_sync_finish(int socket, const QString &dataClass)
{
    const CFType request = message({str(QStringLiteral("SDMessageFinishSessionOnDevice")), str(dataClass)});
    mobiledevice_sendmsg(socket, request, false, kTimeoutMs);
    mobiledevice_recmsg(socket, request, kFinishTimeoutMs);
}

int mobiledevice_sync_set_tethered(void *device, const QString &key, bool disable)
{
    CFType value = CFType::makeDictionary();
    value.set(str(QStringLiteral("DisableTethered")), CFType::fromBool(disable));
    return mobiledevice_set_value(device, QString::fromLatin1(kTetheredSyncDomain), key, value);
}
