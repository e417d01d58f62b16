// The framing every device service speaks: a stream of length-prefixed
// property lists as a device would send them, read message by message, each
// value read whole, copied and written back as both kinds of list.

#include <stdexcept>

#include "FuzzDevice.h"
#include "ServiceSocket.h"

namespace
{

bool holdsDate(const CFType &v)
{
    if (v.isDate())
        return true;
    if (v.isDictionary()) {
        for (const CFType &key : v.keys())
            if (holdsDate(v.value(key)))
                return true;
    } else if (v.isArray()) {
        for (int i = 0; i < v.arrayCount(); ++i)
            if (holdsDate(v.item(i)))
                return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInit(argc, argv);
    fuzzLoadSimFramework();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzPeer peer(fuzzBytes(data, size));
    for (int i = 0; i < 8; ++i) {
        CFType message;
        try {
            message = mobiledevice_recmsg(peer.socket(), CFType(), 1000);
        } catch (const std::runtime_error &) {
            break;
        }
        fuzzReadValue(message);
        if (!message.ref())
            continue;
        fuzzReadValue(CFType::deepCopy(message));
        // The library writes dates as int32 seconds: a value with one
        // outside that range cannot be written, and says so.
        const bool mayFail = holdsDate(message);
        for (int format : {100, 200}) {
            const QByteArray written = CFType::toPropertyListData(message, format);
            FUZZ_CHECK(!written.isEmpty() || mayFail, QStringLiteral("a received value cannot be written back"));
            if (written.isEmpty())
                continue;
            const CFType again = CFType::fromPropertyListData(written);
            FUZZ_CHECK(again.ref() && again.typeId() == message.typeId(),
                       QStringLiteral("a written value does not read back"));
        }
    }
    return 0;
}
