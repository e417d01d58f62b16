// The archive a device's file_relay service sends, unpacked as a load from
// the device unpacks it: whatever the archive holds, nothing lands outside
// the output folder, and only folders and regular files are made there.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <sys/stat.h>

#include <stdexcept>
#include <vector>

#include "FuzzSupport.h"

// The unpacking step is reached without a device: the harness stands in
// for the thread's run, which hands it the received archive.
#define private public
#define protected public
#include "IOSLoadFileRelayThread.h"
#undef private
#undef protected

namespace
{

// Every entry under folder, links included and not followed.
void checkOnlyFoldersAndFiles(const QString &folder)
{
    QDirIterator it(folder, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st;
        FUZZ_CHECK(lstat(QFile::encodeName(path).constData(), &st) == 0, path);
        FUZZ_CHECK(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode), path);
    }
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInit(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString scratch = fuzzScratch();
    const QString archivePath = scratch + QStringLiteral("/relay/file-relay.cpio");
    const QString output = scratch + QStringLiteral("/relay/file-relay");
    fuzzWriteFile(archivePath, fuzzBytes(data, size));
    QDir().mkpath(output);
    const QStringList homeBefore = entriesOf(fuzzHome());

    IOSLoadFileRelayThread worker(nullptr, nullptr);
    std::vector<char> buffer(65536);
    try {
        worker.unpackArchive(archivePath, QDir(output), buffer.data(), int(buffer.size()));
    } catch (const std::runtime_error &) {
        // Refused or cut short; what was unpacked so far must still be sound.
    }

    FUZZ_CHECK(entriesOf(scratch) == QStringList{QStringLiteral("relay")});
    FUZZ_CHECK(entriesOf(scratch + QStringLiteral("/relay"))
               == (QStringList{QStringLiteral("file-relay"), QStringLiteral("file-relay.cpio")}));
    FUZZ_CHECK(entriesOf(fuzzHome()) == homeBefore, entriesOf(fuzzHome()).join(QLatin1Char(' ')));
    checkOnlyFoldersAndFiles(output);
    return 0;
}
