#include "MbdbFile.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QSaveFile>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "MbdbStream.h"

namespace
{

const char kHeader[6] = {'m', 'b', 'd', 'b', 0x05, 0x00};

// The owner and protection class the device gives the files of its user.
constexpr quint32 kMobileUser = 501;
constexpr quint8 kNewProtectionClass = 4;
constexpr quint16 kFolderMode = 0x41C0;
constexpr quint16 kFileMode = 0x81A4;

MbdbRecord readRecord(QIODevice &in)
{
    MbdbRecord r;
    r.domain = readMbdbString(in);
    r.path = readMbdbString(in);
    r.linkTarget = readMbdbString(in);
    r.dataHash = readMbdbString(in);
    r.encryptionKey = readMbdbString(in);
    r.mode = readBeUInt16(in);
    r.inode[0] = readBeUInt32(in);
    r.inode[1] = readBeUInt32(in);
    r.userId = readBeUInt32(in);
    r.groupId = readBeUInt32(in);
    r.mtime = readBeUInt32(in);
    r.atime = readBeUInt32(in);
    r.ctime = readBeUInt32(in);
    r.size = readBeUInt64(in);
    r.protectionClass = readUInt8(in);
    const int count = readUInt8(in);
    r.properties.reserve(count);
    for (int i = 0; i < count; ++i) {
        MbdbProperty p;
        p.name = readMbdbString(in);
        p.value = readMbdbString(in);
        r.properties.append(p);
    }
    return r;
}

void writeRecord(QIODevice &out, const MbdbRecord &r)
{
    writeMbdbString(out, r.domain);
    writeMbdbString(out, r.path);
    writeMbdbString(out, r.linkTarget);
    writeMbdbString(out, r.dataHash);
    writeMbdbString(out, r.encryptionKey);
    writeBeUInt16(out, r.mode);
    writeBeUInt32(out, r.inode[0]);
    writeBeUInt32(out, r.inode[1]);
    writeBeUInt32(out, r.userId);
    writeBeUInt32(out, r.groupId);
    writeBeUInt32(out, r.mtime);
    writeBeUInt32(out, r.atime);
    writeBeUInt32(out, r.ctime);
    writeBeUInt64(out, r.size);
    writeUInt8(out, r.protectionClass);
    writeUInt8(out, quint8(r.properties.size()));
    for (const MbdbProperty &p : r.properties) {
        writeMbdbString(out, p.name);
        writeMbdbString(out, p.value);
    }
}

quint32 toFileTime(const QDateTime &t)
{
    if (!t.isValid())
        return 0;
    return quint32(std::clamp<qint64>(t.toSecsSinceEpoch(), 0, 0xFFFFFFFFLL));
}

MbdbString utf8String(const QString &text)
{
    MbdbString s;
    s.setData(text.toUtf8());
    return s;
}

} // namespace

QString mbdbFileId(const QString &domain, const QString &path)
{
    const QByteArray name = (domain + QLatin1Char('-') + path).toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(name, QCryptographicHash::Sha1).toHex());
}

QByteArray fileSha1(const QString &filePath)
{
    // Streamed, so that a large database is never held in memory whole.
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!hash.addData(&file))
        return QByteArray();
    return hash.result();
}

bool mbdbKeyLess(const QString &domainA, const QString &pathA, const QString &domainB, const QString &pathB)
{
    const int byDomain = QString::compare(domainA, domainB, Qt::CaseSensitive);
    if (byDomain != 0)
        return byDomain < 0;
    return QString::compare(pathA, pathB, Qt::CaseSensitive) < 0;
}

bool mbdbRecordLess(const MbdbRecord &a, const MbdbRecord &b)
{
    return mbdbKeyLess(a.domain.toString(), a.path.toString(), b.domain.toString(), b.path.toString());
}

QHash<QString, MbdbRecord> readMbdb(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(file.errorString().toStdString());
    // The catalogue is parsed from memory: the table built from it is larger
    // than the file anyway, and every length can then be checked against
    // what is left without asking the file system.
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw std::runtime_error(file.errorString().toStdString());
    if (bytes.size() < qsizetype(sizeof kHeader))
        throw std::runtime_error(
            QObject::tr("Unexpected end of data in %1.").arg(QDir::toNativeSeparators(path)).toStdString());

    QBuffer in;
    in.setData(bytes);
    in.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    in.seek(sizeof kHeader);
    QHash<QString, MbdbRecord> records;
    try {
        while (!in.atEnd()) {
            MbdbRecord r = readRecord(in);
            records.insert(r.fileId(), std::move(r));
        }
    } catch (const std::runtime_error &) {
        throw std::runtime_error(QObject::tr("Unexpected end of data in %1 at offset %2.")
                                     .arg(QDir::toNativeSeparators(path))
                                     .arg(in.pos())
                                     .toStdString());
    }
    return records;
}

void writeMbdb(QList<MbdbRecord> &records, const QString &path)
{
    for (const MbdbRecord &r : records) {
        if (r.properties.size() > 0xFF)
            throw std::runtime_error(
                QObject::tr("A Manifest.mbdb record cannot hold more than 255 properties.").toStdString());
    }

    // Decode each sort key once rather than in every comparison.
    struct Key
    {
        QString domain;
        QString path;
        qsizetype index;
    };
    std::vector<Key> keys;
    keys.reserve(records.size());
    for (qsizetype i = 0; i < records.size(); ++i)
        keys.push_back({records[i].domain.toString(), records[i].path.toString(), i});
    std::stable_sort(keys.begin(), keys.end(),
                     [](const Key &a, const Key &b) { return mbdbKeyLess(a.domain, a.path, b.domain, b.path); });
    QList<MbdbRecord> sorted;
    sorted.reserve(records.size());
    for (const Key &k : keys)
        sorted.append(records[k.index]);
    records = std::move(sorted);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error(file.errorString().toStdString());
    if (file.write(kHeader, sizeof kHeader) != qint64(sizeof kHeader))
        throw std::runtime_error(file.errorString().toStdString());
    for (const MbdbRecord &r : records)
        writeRecord(file, r);
    if (!file.commit())
        throw std::runtime_error(file.errorString().toStdString());
}

void putMbdbRecord(QHash<QString, MbdbRecord> &records, const QString &localFile, const QString &domain,
                   const QString &path)
{
    putMbdbRecord(records, localFile, domain, path, fileSha1(localFile));
}

void putMbdbRecord(QHash<QString, MbdbRecord> &records, const QString &localFile, const QString &domain,
                   const QString &path, const QByteArray &sha1)
{
    // Inode words compare as signed numbers; held in 64 bits so that the
    // next number past the largest one cannot overflow.
    qint64 next = 0;
    for (const MbdbRecord &r : records)
        next = std::max<qint64>(next, qint32(r.inode[1]));

    const QFileInfo info(localFile);
    const quint32 modified = toFileTime(info.lastModified());
    const QDateTime born = info.birthTime();
    const quint32 created = toFileTime(born.isValid() ? born : info.metadataChangeTime());

    for (qsizetype i = path.lastIndexOf(QLatin1Char('/')); i > 0;) {
        const QString folder = path.left(i);
        const QString id = mbdbFileId(domain, folder);
        if (records.contains(id))
            break;
        MbdbRecord r;
        r.domain = utf8String(domain);
        r.path = utf8String(folder);
        r.mode = kFolderMode;
        r.inode[1] = quint32(++next);
        r.userId = r.groupId = kMobileUser;
        r.mtime = r.atime = modified;
        r.ctime = created;
        r.protectionClass = kNewProtectionClass;
        records.insert(id, r);
        i = folder.lastIndexOf(QLatin1Char('/'));
    }

    const QString id = mbdbFileId(domain, path);
    auto it = records.find(id);
    if (it == records.end()) {
        MbdbRecord r;
        r.domain = utf8String(domain);
        r.path = utf8String(path);
        r.mode = kFileMode;
        r.inode[1] = quint32(++next);
        r.userId = r.groupId = kMobileUser;
        r.protectionClass = kNewProtectionClass;
        it = records.insert(id, r);
    }
    it->dataHash.setData(sha1);
    it->mtime = it->atime = modified;
    it->ctime = created;
    // The contents behind an existing record are being replaced as well, so
    // its size has to follow them.
    it->size = quint64(std::max<qint64>(info.size(), 0));
}
