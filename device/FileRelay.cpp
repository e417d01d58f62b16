#include "FileRelay.h"

#include "CFType.h"
#include "Lockdown.h"
#include "ServiceSocket.h"

#include <stdexcept>

namespace
{

constexpr int kSendTimeoutMs = 60000;
// The device gathers and packs everything before it answers.
constexpr int kAnswerTimeoutMs = 3600000;

} // namespace

void file_relay_start(void *device, int *socketOut)
{
    mobiledevice_start_service(device, kFileRelayService, socketOut);
}

void file_relay_request(int socket, const QStringList &sources)
{
    CFType request = CFType::makeDictionary();
    CFType names = CFType::makeArray();
    for (const QString &source : sources)
        names.append(CFType::fromString(source));
    request.set(CFType::fromString(QStringLiteral("Sources")), names);

    mobiledevice_sendmsg(socket, request, false, kSendTimeoutMs);
    const CFType answer = mobiledevice_recmsg(socket, request, kAnswerTimeoutMs);
    const QString status = answer.value(QStringLiteral("Status")).stringValue();
    if (status.compare(QLatin1String("Acknowledged"), Qt::CaseInsensitive) != 0) {
        const QString xml = QString::fromUtf8(CFType::toPropertyListData(answer, kCFPropertyListFormatXml));
        throw std::runtime_error(QStringLiteral("invalid feedback.\n%1").arg(xml).toUtf8().toStdString());
    }
}
