// The device's file protocol from the computer's side: the input is what the
// device answers to a folder listing, a file's information, an open, a read,
// a lock and a close, in that order. Each request takes the next reply; one
// that fails leaves the rest to the next request.

#include <stdexcept>
#include <vector>

#include "AfcProtocol.h"
#include "FuzzDevice.h"

namespace
{

template<typename F>
void attempt(F &&request)
{
    try {
        request();
    } catch (const std::runtime_error &) {
    }
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
    const int s = peer.socket();
    attempt([&] {
        const QStringList names = afc_read_dir(s, QStringLiteral("/var/mobile/Media"));
        for (const QString &name : names)
            (void)name.size();
    });
    attempt([&] {
        const QMap<QString, QString> info = afc_get_file_info(s, QStringLiteral("/var/mobile/Media/a.jpg"));
        (void)info.value(QStringLiteral("st_size")).toLongLong();
    });
    qint64 handle = 0;
    attempt([&] { handle = afc_file_open(s, QStringLiteral("/var/mobile/Media/a.jpg"), kAfcModeRead); });
    attempt([&] {
        std::vector<char> buffer(4096);
        const int n = afc_file_read(s, handle, buffer.data(), unsigned(buffer.size()));
        FUZZ_CHECK(n <= int(buffer.size()), QStringLiteral("more was read than asked for"));
    });
    attempt([&] { (void)afc_file_lock(s, handle, 2); });
    attempt([&] { afc_file_close(s, handle); });
    attempt([&] {
        AfcPacketHeader header;
        int status = 0;
        (void)afc_receive(s, &header, &status);
    });
    return 0;
}
