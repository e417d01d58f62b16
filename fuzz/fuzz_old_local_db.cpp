// A local database of the old single-file format, converted at start as the
// program converts it. Whatever the file holds, the run ends, and leaves
// either the old file or a converted folder, never both or neither.

#include <QDir>
#include <QFile>
#include <QString>
#include <QThread>

#include "AppFolders.h"
#include "FuzzSupport.h"

// The worker's body runs on the harness's own thread, as nothing here can
// answer a progress dialog.
#define protected public
#include "LocalDbUpdateThread.h"
#undef protected

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInit(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QDir folder = localDatabasesDir();
    folder.removeRecursively();
    QDir().mkpath(folder.absolutePath());
    fuzzWriteFile(folder.absoluteFilePath(QStringLiteral("old.db")), fuzzBytes(data, size));

    LocalDbUpdateThread worker(nullptr);
    worker.run();

    const QStringList left = folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    const bool converted = left == QStringList{QStringLiteral("old")};
    const bool kept = left.size() == 1 && left.first().startsWith(QLatin1String("old.db"));
    FUZZ_CHECK(converted || kept, left.join(QLatin1Char(' ')));
    return 0;
}
