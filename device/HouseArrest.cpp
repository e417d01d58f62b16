#include "HouseArrest.h"

#include "CFType.h"
#include "ServiceSocket.h"

#include <stdexcept>

namespace
{

constexpr int kTimeoutMs = 60000;

} // namespace

void house_arrest_vend_container(int socket, const QString &bundleId)
{
    CFType request = CFType::makeDictionary();
    request.set(CFType::fromString(QStringLiteral("Command")), CFType::fromString(QStringLiteral("VendContainer")));
    request.set(CFType::fromString(QStringLiteral("Identifier")), CFType::fromString(bundleId));
    mobiledevice_sendmsg(socket, request, false, kTimeoutMs);
    const CFType reply = mobiledevice_recmsg(socket, request, kTimeoutMs);
    // An answer that is no dictionary (or none that parses) vends nothing
    // either.
    if (!reply.isDictionary() || reply.value(QStringLiteral("Error")).ref())
        throw std::runtime_error(QStringLiteral("can not find %1.").arg(bundleId).toUtf8().toStdString());
}
