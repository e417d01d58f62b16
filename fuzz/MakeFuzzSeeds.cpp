// Writes the seed corpus of every harness, one folder per harness under the
// folder given, from the fixture builders the tests use: real shapes of
// Manifest.plist, keybags, catalogues, file_relay archives, service
// messages, AFC replies and sms.db files, kept small so that every harness
// starts from the interesting structure rather than from nothing.
//
//   make_fuzz_seeds <corpus folder>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdio>
#include <stdexcept>

#include "BackupGenerator.h"
#include "BplistBuilder.h"
#include "CpioArchive.h"
#include "IOS5DbFixture.h"
#include "IOS6SmsDbFixture.h"
#include "LocalDbUpdateThread.h"
#include "OldLocalDbFixture.h"
#include "PlistNode.h"
#include "RealIOS5Files.h"
#include "ReleaseSmsDbWriter.h"
#include "SqliteImage.h"
#include "Sqlite3DB.h"

namespace
{

QDir g_out;

// A literal with the NUL bytes inside it, without its terminator.
template<size_t N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, qsizetype(N - 1));
}

void seed(const char *harness, const char *name, const QByteArray &bytes)
{
    g_out.mkpath(QString::fromLatin1(harness));
    QFile f(g_out.filePath(QString::fromLatin1(harness) + QLatin1Char('/') + QString::fromLatin1(name)));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write a seed");
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return f.readAll();
}

PlistNode str(const char *text)
{
    return PlistNode::fromString(QString::fromUtf8(text));
}

PlistNode array(const QList<PlistNode> &items)
{
    PlistNode a = PlistNode::newArray();
    for (const PlistNode &i : items)
        a.arrayAppend(i);
    return a;
}

// --- property lists ------------------------------------------------------

const QByteArray kSampleXml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n<dict>\n"
    "  <key>Name</key><string>Zo\xc3\xab's iPhone</string>\n"
    "  <key>Encrypted</key><true/>\n"
    "  <key>Count</key><integer>4294967301</integer>\n"
    "  <key>Ratio</key><real>0.25</real>\n"
    "  <key>Blob</key><data>AAEC/w==</data>\n"
    "  <key>Date</key><date>2013-05-06T07:08:09Z</date>\n"
    "  <key>List</key><array><string>a</string><integer>2</integer><dict><key>deep</key><false/></dict></array>\n"
    "</dict>\n</plist>\n";

void plistSeeds()
{
    seed("fuzz_plist", "sample-xml", kSampleXml);
    seed("fuzz_plist", "sample-binary", PlistNode::fromData(kSampleXml).toBinary());
    BplistBuilder b;
    const int shared = b.addAscii("shared");
    const int utf16 = b.addRaw(bytes("\x62\x00\xe9\x4e\x2d"));
    const int list = b.addArray({shared, shared, utf16, b.addDate(-0.5), b.addReal(1e300), b.addBool(false)});
    seed("fuzz_plist", "shared-objects-binary", b.build(b.addDict({b.addAscii("k"), b.addAscii("l")}, {list, shared})));
    // The participants of an iOS 5 iMessage conversation.
    seed("fuzz_plist", "participants-binary",
         IOS5DbFixture::participants({"+15550001", "friend@example.com"}, IOS5DbFixture::Binary));
}

// --- backups -------------------------------------------------------------

void backupSeeds()
{
    const QList<BackupGenerator::File> files = {
        BackupGenerator::folder("HomeDomain", "Library/SMS"),
        BackupGenerator::file("HomeDomain", "Library/SMS/sms.db", "SQLite format 3"),
        BackupGenerator::file("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", QByteArray(40, 'a')),
        BackupGenerator::link("MediaDomain", "Media/link", "/var/mobile/Media/DCIM"),
        BackupGenerator::file("AppDomain-com.example.app", "Documents/notes.txt", "notes"),
    };
    struct Kind {
        const char *name;
        bool encrypted;
        bool binary;
    };
    for (const Kind &k : {Kind{"plain-xml", false, false}, Kind{"plain-binary", false, true},
                          Kind{"encrypted-xml", true, false}, Kind{"encrypted-binary", true, true}}) {
        QTemporaryDir dir;
        BackupGenerator::Options options;
        options.encrypted = k.encrypted;
        options.binaryPlist = k.binary;
        options.iterations = 10;
        const BackupGenerator::Result r = BackupGenerator::write(dir.path(), files, options);
        seed("fuzz_manifest_plist", k.name, readFile(dir.filePath("Manifest.plist")));
        if (!k.binary)
            seed("fuzz_mbdb", k.encrypted ? "encrypted" : "plain", r.mbdb);
        if (k.encrypted && !k.binary)
            seed("fuzz_keybag", "unlocks", r.keybag.bytes);
    }
    // A class the password does not protect.
    seed("fuzz_keybag", "class-without-password",
         BackupGenerator::makeKeybag("secret", {{1, 2}, {3, 0}}, 10, 7).bytes);

    // Records with properties, none strings and empty strings.
    BackupGenerator::MbdbEntry e;
    e.domain = QByteArray("HomeDomain");
    e.path = QByteArray("Library/SMS/sms.db");
    e.dataHash = QByteArray(20, '\x11');
    e.mode = BackupGenerator::FileMode;
    e.inode = 42;
    e.size = 15;
    e.protectionClass = 3;
    e.properties = {{QByteArray("com.apple.assetsd.UUID"), QByteArray("1234")}, {std::nullopt, QByteArray()}};
    BackupGenerator::MbdbEntry folder;
    folder.domain = QByteArray("HomeDomain");
    folder.path = QByteArray("Library/SMS");
    folder.mode = BackupGenerator::FolderMode;
    seed("fuzz_mbdb", "properties",
         BackupGenerator::mbdbHeader() + BackupGenerator::mbdbRecord(folder) + BackupGenerator::mbdbRecord(e));
}

// --- devices -------------------------------------------------------------

void archiveSeeds()
{
    using namespace CpioArchive;
    const QList<Entry> usual = {folder("./var"), folder("./var/mobile"), folder("./var/mobile/Library/SMS"),
                                file("./var/mobile/Library/SMS/sms.db", "SQLite format 3"),
                                file("./var/mobile/Library/AddressBook/AddressBook.sqlitedb", "book")};
    seed("fuzz_file_relay_archive", "user-databases", write(usual));
    seed("fuzz_file_relay_archive", "user-databases-gzip", write(usual, true));
    seed("fuzz_file_relay_archive", "links-fifos-and-escapes",
         write({special("./var/link", Entry::Symlink, "/etc"), file("./var/link/passwd", "x"),
                special("./var/fifo", Entry::Fifo), file("./var/../../outside", "x"), file("/abs", "y")}));
}

QByteArray framed(const PlistNode &message, bool binary)
{
    const QByteArray body = binary ? message.toBinary() : message.toXml().toUtf8();
    QByteArray out(4, '\0');
    qToBigEndian<quint32>(quint32(body.size()), out.data());
    return out + body;
}

void serviceSeeds()
{
    PlistNode query = PlistNode::newDict();
    query.dictSet("Request", str("QueryType"));
    query.dictSet("Type", str("com.apple.mobile.lockdown"));
    PlistNode value = PlistNode::newDict();
    value.dictSet("Key", str("ProductVersion"));
    value.dictSet("Value", str("6.1.2"));
    value.dictSet("Data", PlistNode::fromByteArray(QByteArray(8, '\x5a')));
    value.dictSet("Date", PlistNode::fromDateTime(QDateTime(QDate(2013, 3, 1), QTime(12, 0), Qt::UTC)));
    PlistNode ack = PlistNode::newDict();
    ack.dictSet("Status", str("Acknowledged"));
    seed("fuzz_service_message", "xml-then-binary", framed(query, false) + framed(value, true));
    seed("fuzz_service_message", "acknowledged", framed(ack, false));

    PlistNode exchange = array({str("DLMessageVersionExchange"), PlistNode::fromUInt(300), PlistNode::fromUInt(0)});
    PlistNode ready = array({str("DLMessageDeviceReady")});
    PlistNode payload = PlistNode::newDict();
    payload.dictSet("MessageName", str("Backup"));
    PlistNode process = array({str("DLMessageProcessMessage"), payload});
    PlistNode disconnect = array({str("DLMessageDisconnect"), str("___EmptyParameterString___")});
    seed("fuzz_device_link", "handshake-and-process",
         framed(exchange, true) + framed(ready, true) + framed(process, true) + framed(process, true));
    seed("fuzz_device_link", "disconnect", framed(exchange, false) + framed(ready, false) + framed(disconnect, false));
}

QByteArray afcReply(quint64 operation, const QByteArray &parameters, const QByteArray &payload = QByteArray())
{
    QByteArray h(40, '\0');
    memcpy(h.data(), "CFA6LPAA", 8);
    qToLittleEndian<quint64>(quint64(40 + parameters.size() + payload.size()), h.data() + 8);
    qToLittleEndian<quint64>(quint64(40 + parameters.size()), h.data() + 16);
    qToLittleEndian<quint64>(quint64(0), h.data() + 24);
    qToLittleEndian<quint64>(operation, h.data() + 32);
    return h + parameters + payload;
}

QByteArray le64(quint64 v)
{
    QByteArray out(8, '\0');
    qToLittleEndian<quint64>(v, out.data());
    return out;
}

void afcSeeds()
{
    const QByteArray names = bytes(".\0..\0DCIM\0a.jpg\0");
    const QByteArray info = bytes("st_size\0""1234\0st_blocks\0""8\0st_nlink\0""1\0st_ifmt\0S_IFREG\0"
                                  "st_mtime\0""1357000000000000000\0");
    seed("fuzz_afc", "listing-info-open-read",
         afcReply(2, QByteArray(), names) + afcReply(2, QByteArray(), info) + afcReply(14, le64(5))
             + afcReply(2, QByteArray(), "hello") + afcReply(1, le64(0)) + afcReply(1, le64(0)));
    seed("fuzz_afc", "errors", afcReply(1, le64(8)) + afcReply(1, le64(10)) + afcReply(1, le64(4)));
}

// --- message databases ---------------------------------------------------

QByteArray ios6Db(bool deleteSome)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("sms.db");
    {
        IOS6SmsDbFixture fx(path, IOS6SmsDbFixture::Device);
        keepDeletedBytes(fx.db(), 512);
        fx.begin();
        const qint64 ann = fx.addHandle("+15550001", "SMS", "us");
        const qint64 bo = fx.addHandle("bo@example.com", "iMessage");
        const qint64 one = fx.addChat("SMS;-;+15550001", "+15550001");
        const qint64 two = fx.addChat("iMessage;-;bo@example.com", "bo@example.com", "iMessage");
        fx.joinChatHandle(one, ann);
        fx.joinChatHandle(two, bo);
        for (int i = 0; i < 6; ++i) {
            const qint64 chat = i % 2 ? two : one;
            const qint64 m = fx.addMessage(chat, i % 2 ? bo : ann, QStringLiteral("GUID-%1").arg(i),
                                           QStringLiteral("message number %1").arg(i), 380000000 + i * 60, i % 3 == 0,
                                           0, -1, i % 2 ? "iMessage" : "SMS");
            if (i == 4)
                fx.addAttachment(m, "ATT-1", "~/Library/SMS/Attachments/ab/01/IMG_0001.JPG", "image/jpeg");
        }
        fx.commit();
        if (deleteSome) {
            fx.db().executeThrow("DELETE FROM chat_message_join WHERE message_id IN (2, 3)");
            fx.db().executeThrow("DELETE FROM message WHERE ROWID IN (2, 3)");
            fx.db().executeThrow("DELETE FROM handle WHERE ROWID = 2");
        }
    }
    return readFile(path);
}

QByteArray ios5Db(IOS5DbFixture::Layout layout, bool deleteSome)
{
    QTemporaryDir dir;
    QString path;
    {
        IOS5DbFixture fx(dir.path(), layout);
        path = fx.dbPath();
        keepDeletedBytes(fx.db(), 512);
        fx.begin();
        fx.addGroup(1, 1001, 3);
        fx.addMember(1, 1, "+15550001", "us");
        for (int i = 1; i <= 3; ++i) {
            IOS5DbFixture::Sms s;
            s.rowid = i;
            s.groupId = 1;
            s.address = "+15550001";
            s.country = "us";
            s.date = 1357000000 + i * 60;
            s.flags = i % 2 ? 2 : 3;
            s.text = QStringLiteral("sms %1").arg(i);
            fx.addSms(s);
        }
        if (layout == IOS5DbFixture::Full) {
            fx.addMadridChat(1, "chat1", IOS5DbFixture::participants({"bo@example.com"}, IOS5DbFixture::Binary));
            IOS5DbFixture::IMessage m;
            m.rowid = 4;
            m.date = 380000000;
            m.handle = "bo@example.com";
            m.guid = "00000000-0000-0000-0000-000000000004";
            m.text = "imessage 4";
            fx.addIMessage(m);
        }
        fx.commit();
        if (deleteSome)
            fx.db().executeThrow("DELETE FROM message WHERE ROWID = 2");
    }
    return readFile(path);
}

QByteArray oldLocalDb()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("old.db");
    {
        OldLocalDbFixture old(path, LocalDbUpdateThread::bodyKey());
        old.add("+1 (555) 000-0001", QString::fromUtf8("Hello \xe2\x9c\x93"), "Ann", 1357000000, 0);
        old.add("+1 (555) 000-0001", "Bye", "Ann", 1357000060, 1);
        old.add("+1 (555) 000-0001", QString(), "Ann", 1357000120, 1);
        old.close();
    }
    return readFile(path);
}

// An input of fuzz_deleted_scans_with_log: the database's length, the
// database, its log.
QByteArray withLog(const QString &smsDb)
{
    const QByteArray db = readFile(smsDb);
    const QByteArray log = readFile(smsDb + QStringLiteral("-wal"));
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>(db.size() >> (24 - 8 * i));
    return out + db + log;
}

// A few messages of a release in log mode, some deleted in one transaction
// (which rebuilds their page) and the log started again once, as a phone
// leaves it; the writer's connection is still open when the files are read.
QByteArray releaseWithLog(ReleaseSmsDbWriter::Release release)
{
    QTemporaryDir dir;
    ReleaseSmsDbWriter w(dir.path(), release, ReleaseSmsDbWriter::Wal, 1024);
    for (int i = 1; i <= 24; ++i) {
        ReleaseSmsDbWriter::Message m;
        m.iMessage = i % 4 == 3;
        m.address = m.iMessage ? QStringLiteral("friend@example.com") : QStringLiteral("+919876500%1").arg(i % 3);
        m.date = 400000000 + i * 97;
        m.fromMe = i % 2 == 0;
        m.text = QStringLiteral("message %1 %2").arg(i).arg(QString(10 + i % 40, QChar(u'a' + i % 26)));
        m.guid = QStringLiteral("5E2A%1-1B2C-4D3E-8F40-A1B2C3D4E5F6").arg(i, 4, 10, QLatin1Char('0'));
        w.addMessage(m);
        if (i == 12)
            w.restartLog();
    }
    w.beginBatch();
    for (const int i : {3, 4, 9, 15, 20})
        w.deleteMessage(i);
    w.endBatch();
    return withLog(w.dbPath());
}

void logSeeds()
{
    QTemporaryDir dir;
    const QString real = RealIOS5Files::copyInto(QStringLiteral(LARKSPAN_SOURCE_DIR "/tests/support/real-ios5"),
                                                 dir.path());
    seed("fuzz_deleted_scans_with_log", "real-ios5-phone", withLog(real));
    seed("fuzz_deleted_scans_with_log", "ios5_1-deleted", releaseWithLog(ReleaseSmsDbWriter::IOS51));
    seed("fuzz_deleted_scans_with_log", "ios6-deleted", releaseWithLog(ReleaseSmsDbWriter::IOS6));
}

void databaseSeeds()
{
    const QByteArray six = ios6Db(false);
    const QByteArray sixDeleted = ios6Db(true);
    seed("fuzz_ios6_sms_db", "device", six);
    seed("fuzz_ios6_deleted_scan", "deleted-rows", sixDeleted);
    seed("fuzz_sqlite_pages", "ios6-deleted-rows", sixDeleted);
    const QByteArray five = ios5Db(IOS5DbFixture::Full, false);
    seed("fuzz_ios5_sms_db", "full", five);
    seed("fuzz_ios5_sms_db", "before-imessage", ios5Db(IOS5DbFixture::BeforeIMessage, false));
    const QByteArray fiveDeleted = ios5Db(IOS5DbFixture::Full, true);
    seed("fuzz_ios5_deleted_scan", "deleted-rows", fiveDeleted);
    seed("fuzz_sqlite_pages", "ios5-deleted-rows", fiveDeleted);
    seed("fuzz_old_local_db", "three-messages", oldLocalDb());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    g_out = QDir(QString::fromLocal8Bit(argv[1]));
    try {
        plistSeeds();
        backupSeeds();
        archiveSeeds();
        serviceSeeds();
        afcSeeds();
        databaseSeeds();
        logSeeds();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
