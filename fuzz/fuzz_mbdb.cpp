// A backup's catalogue, Manifest.mbdb: reading it, writing what was read and
// reading that again must give the same records, and the backup's file tree
// built from it keeps every node inside the tree.

#include <QDir>
#include <QFile>

#include <stdexcept>

#include "BackupManifest.h"
#include "FuzzSupport.h"
#include "MbdbFile.h"

namespace
{

bool sameString(const MbdbString &a, const MbdbString &b)
{
    return a.length == b.length && a.data == b.data;
}

bool sameRecord(const MbdbRecord &a, const MbdbRecord &b)
{
    if (!sameString(a.domain, b.domain) || !sameString(a.path, b.path) || !sameString(a.linkTarget, b.linkTarget)
        || !sameString(a.dataHash, b.dataHash) || !sameString(a.encryptionKey, b.encryptionKey))
        return false;
    if (a.mode != b.mode || a.inode[0] != b.inode[0] || a.inode[1] != b.inode[1] || a.userId != b.userId
        || a.groupId != b.groupId || a.mtime != b.mtime || a.atime != b.atime || a.ctime != b.ctime
        || a.size != b.size || a.protectionClass != b.protectionClass || a.properties.size() != b.properties.size())
        return false;
    for (qsizetype i = 0; i < a.properties.size(); ++i) {
        if (!sameString(a.properties[i].name, b.properties[i].name)
            || !sameString(a.properties[i].value, b.properties[i].value))
            return false;
    }
    return true;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// No node's name can lead anywhere but to a child of its parent.
void checkTree(const BackupManifest::_FileNode &node, int depth)
{
    FUZZ_CHECK(depth < 100000);
    for (const BackupManifest::_FileNode *child : node.children) {
        FUZZ_CHECK(child->parent == &node);
        FUZZ_CHECK(!child->name.isEmpty() && child->name != QLatin1String(".") && child->name != QLatin1String("..")
                       && !child->name.contains(QLatin1Char('/')),
                   child->name);
        checkTree(*child, depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInit(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString folder = fuzzScratch() + QStringLiteral("/backup");
    const QString first = folder + QStringLiteral("/Manifest.mbdb");
    fuzzWriteFile(first, fuzzBytes(data, size));
    QHash<QString, MbdbRecord> read;
    try {
        read = readMbdb(first);
    } catch (const std::runtime_error &) {
        return 0;
    }

    const QString second = folder + QStringLiteral("/second.mbdb");
    QList<MbdbRecord> records = read.values();
    try {
        writeMbdb(records, second);
    } catch (const std::runtime_error &e) {
        fuzzFail("what was read cannot be written", QString::fromUtf8(e.what()));
    }
    QHash<QString, MbdbRecord> again;
    try {
        again = readMbdb(second);
    } catch (const std::runtime_error &e) {
        fuzzFail("what was written cannot be read", QString::fromUtf8(e.what()));
    }
    FUZZ_CHECK(again.size() == read.size());
    for (auto it = read.begin(); it != read.end(); ++it)
        FUZZ_CHECK(again.contains(it.key()) && sameRecord(it.value(), again.value(it.key())), it.key());
    // Writing is a function of the records alone.
    QList<MbdbRecord> againRecords = again.values();
    const QString third = folder + QStringLiteral("/third.mbdb");
    writeMbdb(againRecords, third);
    FUZZ_CHECK(readAll(third) == readAll(second));

    BackupManifest manifest(folder);
    try {
        manifest.loadFiles();
    } catch (const std::runtime_error &) {
        FUZZ_CHECK(manifest.root.children.isEmpty(), QStringLiteral("a refused catalogue left a tree"));
        return 0;
    }
    checkTree(manifest.root, 0);
    return 0;
}
