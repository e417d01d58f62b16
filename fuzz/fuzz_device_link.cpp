// The message exchange of the backup and sync services, read from what a
// device sends: the version handshake, then messages of the exchange, each
// read as the clients read it.

#include <stdexcept>

#include "DeviceLink.h"
#include "FuzzDevice.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInit(argc, argv);
    fuzzLoadSimFramework();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzPeer peer(fuzzBytes(data, size));
    const int s = peer.socket();
    try {
        dl_version_exchange(s);
    } catch (const std::runtime_error &) {
    }
    for (int i = 0; i < 4; ++i) {
        try {
            CFType message;
            QString name;
            mobiledevice_link_sc_recv_dlmessaeg(s, &message, &name, CFType());
            FUZZ_CHECK(name.isEmpty() || name.startsWith(QLatin1String("DL"), Qt::CaseInsensitive), name);
            fuzzReadValue(message);
            CFType whole;
            const CFType payload = mobiledevice_link_sc_recv_process_message(s, CFType(), &whole);
            fuzzReadValue(payload);
            fuzzReadValue(whole);
        } catch (const std::runtime_error &) {
        }
    }
    return 0;
}
