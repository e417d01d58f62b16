#include "AttributedBody.h"

#include <stdexcept>

namespace
{

const char kHead[] =
    "040B73747265616D747970656481E803840140848484194E534D757461626C6541747472696275746564537472696E6700848412"
    "4E5341747472696275746564537472696E67008484084E534F626A6563740085928484840F4E534D757461626C65537472696E67"
    "018484084E53537472696E67019584012B03EFBFBC86840269490101928484840C4E5344696374696F6E61727900958401690292"
    "849898225F5F6B494D46696C655472616E73666572475549444174747269627574654E616D65869284989824";

const char kTail[] =
    "86928498981D5F5F6B494D4D657373616765506172744174747269627574654E616D658692848484084E534E756D626572008484"
    "074E5356616C7565009584012A849B9B00868686";

// The length byte in front of the guid in kHead.
constexpr int kGuidLength = 0x24;

} // namespace

QByteArray attributedBodyFromText(const QString &transferGuid)
{
    const QByteArray guid = transferGuid.toUtf8();
    if (guid.size() != kGuidLength)
        throw std::runtime_error(QStringLiteral("Invalid attachment transfer GUID \"%1\": %2 bytes, %3 expected.")
                                     .arg(transferGuid)
                                     .arg(guid.size())
                                     .arg(kGuidLength)
                                     .toStdString());
    static const QByteArray head = QByteArray::fromHex(kHead);
    static const QByteArray tail = QByteArray::fromHex(kTail);
    return head + guid + tail;
}
