// The keybag of an encrypted backup: its items, the unlocking with a
// password, and the unwrapping of a file key for every class it names.

#include "BackupKeybag.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInit(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    BackupKeybag bag(bytes);
    for (auto it = bag.tags.begin(); it != bag.tags.end(); ++it)
        (void)BackupKeybag::intValue(bag.tags, it.key());
    // Every round of the key derivation costs the same; many only make the
    // run slow (the limit on them is tested in the suite).
    if (BackupKeybag::intValue(bag.tags, QStringLiteral("ITER")) > 2000)
        return 0;
    const bool unlocked = bag.unlock("secret");
    // The input's last bytes stand for a file's wrapped key, whatever its
    // length.
    const QByteArray wrapped = bytes.right(40);
    for (auto it = bag.classes.begin(); it != bag.classes.end(); ++it) {
        const QByteArray key = bag.unwrapKeyForClass(it.key(), wrapped);
        FUZZ_CHECK(key.isEmpty() || key.size() == 32);
        FUZZ_CHECK(key.isEmpty() || unlocked, QStringLiteral("a key unwrapped from a locked keybag"));
    }
    (void)bag.unwrapKeyForClass(-1, wrapped);
    return 0;
}
