// A stand-in for the device backup tool, with its command line:
//
//   AppleMobileBackup -u ID --backup  --target ID --root FOLDER
//   AppleMobileBackup -u ID --restore --target ID --root FOLDER --source ID
//
// A backup writes FOLDER/ID as a plain backup folder of the scenario device's
// backup domains (Manifest.plist, Status.plist, Manifest.mbdb and the files
// under the SHA-1 of "domain-path"). A restore checks FOLDER/ID (the source)
// against its Manifest.mbdb and, when the scenario names a folder for it,
// copies the files there as domain/path. The scenario can make the tool run
// longer, print texts of its own and end with a chosen exit code; failures
// print "Error: ..." on standard error.

#include "SimScenario.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QUuid>

#include <plist/plist.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace
{

struct Options
{
    QString device;
    QString target;
    QString source;
    QString root;
    bool backup = false;
    bool restore = false;
};

[[noreturn]] void die(const QString &message, int code = 1)
{
    std::fprintf(stderr, "Error: %s\n", message.toUtf8().constData());
    std::exit(code);
}

bool parse(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        const auto next = [&](QString &into) {
            if (i + 1 >= argc)
                return false;
            into = QString::fromLocal8Bit(argv[++i]);
            return true;
        };
        bool ok = true;
        if (a == "-u")
            ok = next(o.device);
        else if (a == "--target")
            ok = next(o.target);
        else if (a == "--source")
            ok = next(o.source);
        else if (a == "--root")
            ok = next(o.root);
        else if (a == "--backup")
            o.backup = true;
        else if (a == "--restore")
            o.restore = true;
        else
            ok = false;
        if (!ok)
            return false;
    }
    return !o.device.isEmpty() && !o.target.isEmpty() && !o.root.isEmpty() && o.backup != o.restore &&
           (o.backup || !o.source.isEmpty());
}

// A name that stays one entry inside its folder.
bool safeName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

bool safeRelativePath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return false;
    for (const QString &part : path.split(QLatin1Char('/'))) {
        if (!safeName(part))
            return false;
    }
    return true;
}

QString fileId(const QString &domain, const QString &path)
{
    return QString::fromLatin1(
        QCryptographicHash::hash((domain + QLatin1Char('-') + path).toUtf8(), QCryptographicHash::Sha1).toHex());
}

// --- Manifest.mbdb ---------------------------------------------------------

void putU16(QByteArray &out, quint16 v)
{
    out.append(char(v >> 8)).append(char(v));
}

void putU32(QByteArray &out, quint32 v)
{
    putU16(out, quint16(v >> 16));
    putU16(out, quint16(v));
}

void putU64(QByteArray &out, quint64 v)
{
    putU32(out, quint32(v >> 32));
    putU32(out, quint32(v));
}

void putString(QByteArray &out, const QByteArray &s, bool none = false)
{
    if (none) {
        putU16(out, 0xFFFF);
        return;
    }
    putU16(out, quint16(s.size()));
    out.append(s);
}

struct Record
{
    QString domain;
    QString path;
    bool folder = false;
    quint16 mode = 0;
    QByteArray hash; // empty for a folder
    quint64 size = 0;
};

// Reads records while every length stays inside the file; false when one
// does not.
class MbdbReader
{
public:
    explicit MbdbReader(const QByteArray &bytes)
        : m_bytes(bytes)
    {
    }

    bool read(QList<Record> &records)
    {
        if (m_bytes.size() < 6 || !m_bytes.startsWith(QByteArray("mbdb\x05\x00", 6)))
            return false;
        m_at = 6;
        while (m_at < m_bytes.size()) {
            Record r;
            QByteArray domain, path, skip, hash;
            quint64 ignored = 0, size = 0, mode = 0, count = 0;
            if (!string(domain) || !string(path) || !string(skip) || !string(hash) || !string(skip) || !number(2, mode) ||
                !number(8, ignored) || !number(4, ignored) || !number(4, ignored) || !number(4, ignored) ||
                !number(4, ignored) || !number(4, ignored) || !number(8, size) || !number(1, ignored) || !number(1, count))
                return false;
            for (quint64 i = 0; i < count; ++i) {
                if (!string(skip) || !string(skip))
                    return false;
            }
            r.domain = QString::fromUtf8(domain);
            r.path = QString::fromUtf8(path);
            r.mode = quint16(mode);
            r.folder = (r.mode & 0xF000) == 0x4000;
            r.hash = hash;
            r.size = size;
            records << r;
        }
        return true;
    }

private:
    bool number(int width, quint64 &v)
    {
        if (m_bytes.size() - m_at < width)
            return false;
        v = 0;
        for (int i = 0; i < width; ++i)
            v = (v << 8) | uchar(m_bytes.at(m_at + i));
        m_at += width;
        return true;
    }
    bool string(QByteArray &s)
    {
        quint64 length = 0;
        if (!number(2, length))
            return false;
        s.clear();
        if (length == 0xFFFF || length == 0)
            return true;
        if (quint64(m_bytes.size() - m_at) < length)
            return false;
        s = m_bytes.mid(m_at, qsizetype(length));
        m_at += qsizetype(length);
        return true;
    }

    const QByteArray &m_bytes;
    qsizetype m_at = 0;
};

// --- property lists --------------------------------------------------------

bool writePlist(const QString &path, plist_t root)
{
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    plist_free(root);
    QFile f(path);
    const bool ok = xml && f.open(QIODevice::WriteOnly) && f.write(xml, length) == qint64(length);
    plist_to_xml_free(xml);
    return ok;
}

plist_t lockdownOf(const SimDevice &device)
{
    plist_t lockdown = plist_new_dict();
    const QJsonObject global = device.values.value(QLatin1String("")).toObject();
    for (const char *key : {"UniqueDeviceID", "DeviceName", "ProductType", "ProductVersion", "SerialNumber"}) {
        const QString value = global.value(QLatin1String(key)).toString(key == QByteArray("UniqueDeviceID") ? device.id : QString());
        plist_dict_set_item(lockdown, key, plist_new_string(value.toUtf8().constData()));
    }
    return lockdown;
}

int32_t referenceSeconds(const QDateTime &t)
{
    return int32_t(t.toSecsSinceEpoch() - 978307200);
}

// --- the two operations ----------------------------------------------------

int backup(const SimDevice &device, const QDir &folder)
{
    if (!QDir().mkpath(folder.absolutePath()))
        die(QStringLiteral("cannot create the backup folder"));
    QByteArray mbdb("mbdb\x05\x00", 6);
    quint64 inode = 0;
    int files = 0;
    for (auto it = device.backup.domains.begin(); it != device.backup.domains.end(); ++it) {
        const QString &domain = it.key();
        const QDir base(it.value());
        QStringList paths;
        QDirIterator walk(base.absolutePath(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                          QDirIterator::Subdirectories);
        while (walk.hasNext())
            paths << walk.next();
        paths.sort();
        for (const QString &absolute : paths) {
            const QFileInfo info(absolute);
            if (info.isSymLink() || (!info.isDir() && !info.isFile()))
                continue;
            const QString path = base.relativeFilePath(absolute);
            const QByteArray domainBytes = domain.toUtf8();
            const QByteArray pathBytes = path.toUtf8();
            if (domainBytes.size() > 0xFFFE || pathBytes.size() > 0xFFFE)
                continue;
            QByteArray hash;
            if (info.isFile()) {
                QFile in(absolute);
                QFile out(folder.filePath(fileId(domain, path)));
                if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
                    die(QStringLiteral("cannot copy a file of the domain %1").arg(domain));
                QCryptographicHash sha1(QCryptographicHash::Sha1);
                while (!in.atEnd()) {
                    const QByteArray chunk = in.read(1 << 20);
                    if (chunk.isEmpty() || out.write(chunk) != chunk.size())
                        die(QStringLiteral("cannot copy a file of the domain %1").arg(domain));
                    sha1.addData(chunk);
                }
                hash = sha1.result();
                ++files;
            }
            const quint32 mtime = quint32(info.lastModified().toSecsSinceEpoch());
            putString(mbdb, domainBytes);
            putString(mbdb, pathBytes);
            putString(mbdb, QByteArray(), true);
            putString(mbdb, hash, info.isDir());
            putString(mbdb, QByteArray(), true);
            putU16(mbdb, info.isDir() ? 0x41ED : 0x81A4);
            putU64(mbdb, ++inode);
            putU32(mbdb, 501);
            putU32(mbdb, 501);
            putU32(mbdb, mtime);
            putU32(mbdb, mtime);
            putU32(mbdb, mtime);
            putU64(mbdb, info.isDir() ? 0 : quint64(info.size()));
            mbdb.append(char(info.isDir() ? 0 : 4));
            mbdb.append(char(0));
        }
    }
    QFile catalogue(folder.filePath(QStringLiteral("Manifest.mbdb")));
    if (!catalogue.open(QIODevice::WriteOnly) || catalogue.write(mbdb) != mbdb.size())
        die(QStringLiteral("cannot write Manifest.mbdb"));
    catalogue.close();

    const QDateTime now = QDateTime::currentDateTimeUtc();
    plist_t manifest = plist_new_dict();
    plist_dict_set_item(manifest, "Lockdown", lockdownOf(device));
    plist_dict_set_item(manifest, "Date", plist_new_date(referenceSeconds(now), 0));
    plist_dict_set_item(manifest, "IsEncrypted", plist_new_bool(0));
    plist_dict_set_item(manifest, "WasPasscodeSet", plist_new_bool(0));
    plist_t status = plist_new_dict();
    plist_dict_set_item(status, "SnapshotState", plist_new_string("finished"));
    plist_dict_set_item(status, "IsFullBackup", plist_new_bool(1));
    plist_dict_set_item(status, "BackupState", plist_new_string("new"));
    plist_dict_set_item(status, "Date", plist_new_date(referenceSeconds(now), 0));
    plist_dict_set_item(status, "UUID", plist_new_string(QUuid::createUuid().toString(QUuid::WithoutBraces).toUtf8().constData()));
    if (!writePlist(folder.filePath(QStringLiteral("Manifest.plist")), manifest) ||
        !writePlist(folder.filePath(QStringLiteral("Status.plist")), status))
        die(QStringLiteral("cannot write the backup description"));
    std::printf("Backup of %d files finished.\n", files);
    return 0;
}

int restore(const SimDevice &device, const QDir &folder)
{
    QFile catalogue(folder.filePath(QStringLiteral("Manifest.mbdb")));
    if (!catalogue.open(QIODevice::ReadOnly))
        die(QStringLiteral("the folder holds no backup"));
    const QByteArray bytes = catalogue.readAll();
    QList<Record> records;
    if (!MbdbReader(bytes).read(records))
        die(QStringLiteral("Manifest.mbdb is damaged"));
    int files = 0;
    for (const Record &r : records) {
        if (!safeName(r.domain) || !safeRelativePath(r.path))
            die(QStringLiteral("the backup names a path outside its domain"));
        if ((r.mode & 0xF000) != 0x8000)
            continue;
        const QString stored = folder.filePath(fileId(r.domain, r.path));
        if (!QFileInfo(stored).isFile())
            die(QStringLiteral("the backup lacks a file of the domain %1").arg(r.domain));
        if (!device.backup.restoreInto.isEmpty()) {
            const QString target = QDir(device.backup.restoreInto).filePath(r.domain + QLatin1Char('/') + r.path);
            QDir().mkpath(QFileInfo(target).absolutePath());
            QFile::remove(target);
            if (!QFile::copy(stored, target))
                die(QStringLiteral("cannot restore a file of the domain %1").arg(r.domain));
        }
        ++files;
    }
    std::printf("Restore of %d files finished.\n", files);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    simJournal(QStringLiteral("AppleMobileBackup ") + arguments.join(QLatin1Char(' ')));

    Options o;
    if (!parse(argc, argv, o))
        die(QStringLiteral("usage: AppleMobileBackup -u ID (--backup | --restore) --target ID --root FOLDER [--source ID]"), 2);
    const SimScenario scenario = SimScenario::fromEnvironment();
    const int index = scenario.indexOf(o.device);
    if (index < 0)
        die(QStringLiteral("the device is not connected"));
    const SimDevice &device = scenario.devices.at(index);
    const QString folderName = o.backup ? o.target : o.source;
    if (!safeName(folderName))
        die(QStringLiteral("the device identifier cannot name a folder"));

    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(device.backup.durationMs));
    if (!device.backup.standardOutput.isEmpty())
        std::printf("%s\n", device.backup.standardOutput.toUtf8().constData());
    if (!device.backup.standardError.isEmpty())
        std::fprintf(stderr, "%s\n", device.backup.standardError.toUtf8().constData());
    if (device.backup.exitCode != 0 || !device.backup.standardError.isEmpty()) {
        simJournal(QStringLiteral("AppleMobileBackup ended with %1").arg(device.backup.exitCode));
        return device.backup.exitCode;
    }

    const QDir folder(QDir(o.root).absoluteFilePath(folderName));
    const int code = o.backup ? backup(device, folder) : restore(device, folder);
    simJournal(QStringLiteral("AppleMobileBackup finished"));
    return code;
}
