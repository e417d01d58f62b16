#include "NotificationProxy.h"

#include "CFType.h"
#include "Lockdown.h"
#include "ServiceSocket.h"

#include <QDebug>

#include <stdexcept>

namespace
{

constexpr int kTimeoutMs = 60000;
// A relayed notification is small and comes whole.
constexpr int kRelayBodyTimeoutMs = 500;

CFType command(const char *name)
{
    CFType message = CFType::makeDictionary();
    message.set(CFType::fromString(QStringLiteral("Command")), CFType::fromString(QLatin1String(name)));
    return message;
}

CFType command(const char *name, const QString &notification)
{
    CFType message = command(name);
    message.set(CFType::fromString(QStringLiteral("Name")), CFType::fromString(notification));
    return message;
}

QString commandOf(const CFType &message)
{
    return message.value(QStringLiteral("Command")).stringValue();
}

bool is(const QString &received, const char *name)
{
    return received.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

} // namespace

void notification_proxy_start(void *device, int *socketOut)
{
    mobiledevice_start_service(device, kNotificationProxyService, socketOut);
}

void mobiledevice_notification_observe(int socket, const QString &name)
{
    mobiledevice_sendmsg(socket, command("ObserveNotification", name), false,
                         kTimeoutMs);
}

QString mobiledevice_notification_get_throw(int socket)
{
    const CFType reply = mobiledevice_recmsg(socket, CFType(), kRelayBodyTimeoutMs);
    const QString received = commandOf(reply);
    if (is(received, "RelayNotification")) {
        const QString name = reply.value(QStringLiteral("Name")).stringValue();
        qDebug().noquote() << QStringLiteral("mobiledevice_notification_get_throw, got notification %1.").arg(name);
        return name;
    }
    if (is(received, "ProxyDeath"))
        throw std::runtime_error("ERROR: NotificationProxy died!");
    throw std::runtime_error(
        QStringLiteral("unknown NotificationProxy command '%1' received!").arg(received).toUtf8().toStdString());
}

void mobiledevice_notification_post(int socket, const QString &name)
{
    qDebug().noquote() << QStringLiteral("mobiledevice_notification_post, notification:%1").arg(name);
    mobiledevice_sendmsg(socket, command("PostNotification", name), false,
                         kTimeoutMs);
    const CFType shutdown = command("Shutdown");
    mobiledevice_sendmsg(socket, shutdown, false, kTimeoutMs);
    const QString answer = commandOf(mobiledevice_recmsg(socket, shutdown, kTimeoutMs));
    if (!is(answer, "ProxyDeath"))
        qDebug().noquote() << QStringLiteral("mobiledevice_notification_post, unexpected answer: %1").arg(answer);
}
