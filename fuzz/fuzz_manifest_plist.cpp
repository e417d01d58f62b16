// A backup's Manifest.plist as the backup list reads it, and for an
// encrypted backup the unlocking of its keybag with a password.

#include <stdexcept>

#include "BackupKeybag.h"
#include "BackupManifest.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInit(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString folder = fuzzScratch() + QStringLiteral("/backup");
    fuzzWriteFile(folder + QStringLiteral("/Manifest.plist"), fuzzBytes(data, size));
    BackupManifest manifest(folder);
    try {
        manifest.loadInfo();
    } catch (const std::runtime_error &) {
        FUZZ_CHECK(manifest.info.uniqueDeviceId.isEmpty(), QStringLiteral("a refused list left its values"));
        return 0;
    }
    (void)manifest.id();
    if (!manifest.info.isEncrypted)
        return 0;
    // Every round of the key derivation costs the same; a keybag that asks
    // for many only makes the run slow (its limit is tested in the suite).
    const BackupKeybag bag(manifest.info.backupKeyBag);
    if (BackupKeybag::intValue(bag.tags, QStringLiteral("ITER")) > 2000)
        return 0;
    if (manifest.unlock(QStringLiteral("secret")))
        FUZZ_CHECK(!manifest.keybag.classes.isEmpty());
    return 0;
}
