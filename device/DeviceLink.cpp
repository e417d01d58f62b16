#include "DeviceLink.h"

#include "Errors.h"
#include "ServiceSocket.h"

#include <QDebug>


namespace
{

constexpr int kTimeoutMs = 60000;

QString xmlOf(const CFType &value)
{
    return QString::fromUtf8(CFType::toPropertyListData(value, kCFPropertyListFormatXml));
}

// Element 0 of a message; empty for anything that is not an array or has no
// element 0, so that such a message fails every name check.
QString nameOf(const CFType &message)
{
    return message.item(0).stringValue();
}

} // namespace

void dl_version_exchange(int socket)
{
    const CFType first = mobiledevice_recmsg(socket, CFType(), kTimeoutMs);
    if (nameOf(first) == QLatin1String("DLMessageDeviceReady"))
        return;

    // The device's version numbers are not compared: any first message is
    // answered with our agreement.
    CFType answer = CFType::makeArray();
    answer.append(CFType::fromString(QStringLiteral("DLMessageVersionExchange")));
    answer.append(CFType::fromString(QStringLiteral("DLVersionsOk")));
    mobiledevice_sendmsg(socket, answer, false, kTimeoutMs);

    const CFType reply = mobiledevice_recmsg(socket, answer, kTimeoutMs);
    if (nameOf(reply) != QLatin1String("DLMessageDeviceReady"))
        throwError(QStringLiteral("invalid feedback after send DLMessageVersionExchange.\n%1").arg(xmlOf(reply)));
}

CFType dl_send_process_message(int socket, const CFType &dictionary)
{
    // Without its payload the message would reach the device one element
    // short.
    if (!dictionary.isDictionary())
        throwError(QStringLiteral("dl_send_process_message: the message to send is not a dictionary."));
    CFType message = CFType::makeArray();
    message.append(CFType::fromString(QStringLiteral("DLMessageProcessMessage")));
    message.append(dictionary);
    mobiledevice_sendmsg(socket, message, true, kTimeoutMs);
    return CFType::deepCopy(message);
}

void dl_send_disconnect(int socket, const QString &reason)
{
    CFType message = CFType::makeArray();
    message.append(CFType::fromString(QStringLiteral("DLMessageDisconnect")));
    message.append(CFType::fromString(reason.isEmpty() ? QString::fromLatin1(kDLEmptyParameter) : reason));
    mobiledevice_sendmsg(socket, message, true, kTimeoutMs);
}

void mobiledevice_link_sc_recv_dlmessaeg(int socket, CFType *message, QString *name, CFType request)
{
    const CFType received = mobiledevice_recmsg(socket, request, kTimeoutMs);
    const QString receivedName = nameOf(received);
    if (!receivedName.startsWith(QLatin1String("DL"), Qt::CaseInsensitive)) {
        qDebug().noquote() << QStringLiteral("mobiledevice_link_sc_recv_dlmessaeg recv invalid msg:\n%1").arg(xmlOf(received));
        throwError(QStringLiteral("Did not receive a DL* message as expected."));
    }
    if (message)
        *message = received;
    if (name)
        *name = receivedName;
}

CFType mobiledevice_link_sc_recv_process_message(int socket, CFType request, CFType *whole)
{
    CFType received;
    QString name;
    mobiledevice_link_sc_recv_dlmessaeg(socket, &received, &name, request);
    if (name != QLatin1String("DLMessageProcessMessage")) {
        qDebug().noquote()
            << QStringLiteral("mobiledevice_link_sc_recv_process_message recv invalid msg:\n%1").arg(xmlOf(received));
        throwError(QStringLiteral("Did not receive DLMessageProcessMessage as expected."));
    }
    if (whole)
        *whole = received;
    return CFType::deepCopy(received.item(1));
}
