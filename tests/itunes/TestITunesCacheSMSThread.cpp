#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QTranslator>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "AppFolders.h"
#include "BackupGenerator.h"
#include "BackupManifest.h"
#include "CacheDb.h"
#include "CacheRows.h"
#include "CaseName.h"
#include "FileNodeLookup.h"
#include "ITunesCacheSMSThread.h"
#include "PrivateFiles.h"
#include "PrivateModes.h"
#include "RandomBytes.h"
#include "RecordingProgress.h"

namespace
{

using G = BackupGenerator;
using Node = BackupManifest::_FileNode;

const QString kLibrary = QStringLiteral("file-relay/var/mobile/Library");
const QString kNoDatabase = QStringLiteral("Found no message database file in this iTunes backup.");
const QByteArray kDir = "<dir>";

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

// Everything below root by relative path: a file's contents, or "<dir>".
QMap<QString, QByteArray> listing(const QString &root)
{
    QMap<QString, QByteArray> out;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        out.insert(base.relativeFilePath(path), info.isDir() ? kDir : readAll(path));
    }
    return out;
}

// A time no copy is given: a copy that still has it was not written again.
constexpr qint64 kMarkTime = 1000000000;

// Overwrites every copied file of cached (relative to library) with bytes of
// its own size and gives it kMarkTime, so that a copy written again shows
// while one left alone still looks as it was made. What the cache then holds.
QMap<QString, QByteArray> markCopies(const QString &library, const QMap<QString, QByteArray> &cached)
{
    QMap<QString, QByteArray> marked = cached;
    for (auto it = marked.begin(); it != marked.end(); ++it) {
        if (it.value() == kDir)
            continue;
        it.value() = QByteArray(it.value().size(), 'm');
        const QString path = QDir(library).filePath(it.key());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
        f.write(it.value());
        EXPECT_TRUE(f.setFileTime(QDateTime::fromSecsSinceEpoch(kMarkTime), QFileDevice::FileModificationTime));
    }
    return marked;
}

// The modification time of every file below root, by relative path.
QMap<QString, qint64> fileTimes(const QString &root)
{
    QMap<QString, qint64> out;
    const QDir base(root);
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        out.insert(base.relativeFilePath(path), QFileInfo(path).lastModified().toSecsSinceEpoch());
    }
    return out;
}

// The files of a backup as a phone makes them, with other folders of the
// library beside the two the cache takes.
struct Sample
{
    QByteArray smsDb = randomBytes(20000, 1);
    QByteArray image = randomBytes(5000, 2);
    QByteArray addressBook = randomBytes(3000, 3);
    QByteArray images = randomBytes(700, 4);

    QList<G::File> files() const
    {
        G::File sms = G::file("HomeDomain", "Library/SMS/sms.db", smsDb, 4);
        sms.mtime = 1357000001;
        G::File img = G::file("MediaDomain", "Library/SMS/Attachments/0a/IMG_0001.JPG", image, 2);
        img.mtime = 1357000002;
        return {
            G::folder("HomeDomain", ""),
            G::folder("HomeDomain", "Library"),
            G::folder("HomeDomain", "Library/SMS"),
            sms,
            G::file("HomeDomain", "Library/SMS/empty.txt", QByteArray()),
            G::link("HomeDomain", "Library/SMS/link", "/etc/passwd"),
            G::folder("MediaDomain", "Library/SMS/Attachments"),
            G::folder("MediaDomain", "Library/SMS/Attachments/0a"),
            img,
            G::folder("HomeDomain", "Library/AddressBook"),
            G::file("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", addressBook),
            G::file("HomeDomain", "Library/AddressBook/AddressBookImages.sqlitedb", images),
            G::folder("HomeDomain", "Library/Notes"),
            G::file("HomeDomain", "Library/Notes/notes.sqlite", "notes"),
            G::file("HomeDomain", "Library/Preferences/com.example.plist", "prefs"),
        };
    }

    // What the cache folder holds after a run over files().
    QMap<QString, QByteArray> cached() const
    {
        return {
            {"SMS", kDir},
            {"SMS/sms.db", smsDb},
            {"SMS/empty.txt", QByteArray()},
            {"SMS/Attachments", kDir},
            {"SMS/Attachments/0a", kDir},
            {"SMS/Attachments/0a/IMG_0001.JPG", image},
            {"AddressBook", kDir},
            {"AddressBook/AddressBook.sqlitedb", addressBook},
            {"AddressBook/AddressBookImages.sqlitedb", images},
        };
    }

    // Every node of the two folders, announced in the tree's order.
    static QStringList announced()
    {
        return {"SMS",          "empty.txt", "link", "sms.db", "Attachments", "0a", "IMG_0001.JPG", "AddressBook",
                "AddressBook.sqlitedb", "AddressBookImages.sqlitedb"};
    }
};

class CacheThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&m_translator);
    }
    void TearDown() override { QCoreApplication::removeTranslator(&m_translator); }

    QString backupFolder() const { return m_dir.filePath(QStringLiteral("backup")); }
    QString cacheFolder() const { return m_dir.filePath(QStringLiteral("cache")); }
    QString cacheLibrary() const { return QDir(cacheFolder()).filePath(kLibrary); }
    QString dbPath() const { return QDir(cacheFolder()).filePath(QStringLiteral("manifest.db")); }

    // Writes the backup and opens it as the program does before a run.
    void writeBackup(const QList<G::File> &files, bool encrypted = false)
    {
        m_options.encrypted = encrypted;
        m_result = G::write(backupFolder(), files, m_options);
        openBackup();
    }

    void openBackup()
    {
        m_manifest = std::make_unique<BackupManifest>(backupFolder());
        m_manifest->loadInfo();
        if (m_manifest->info.isEncrypted) {
            ASSERT_TRUE(m_manifest->unlock(QString::fromUtf8(m_options.password)));
        }
        m_manifest->loadFiles();
    }

    QString storedPath(const QString &domain, const QString &path) const
    {
        return QDir(backupFolder()).filePath(G::storedName(domain, path));
    }

    // One run into the test's cache folder; the thread is gone (and its
    // rows committed) when this returns.
    std::unique_ptr<RecordingProgress> run(int cancelAfter = -1)
    {
        auto progress = std::make_unique<RecordingProgress>();
        if (cancelAfter >= 0)
            progress->cancelAfterChecks(cancelAfter);
        {
            ITunesCacheSMSThread thread(m_manifest.get(), QDir(cacheFolder()), progress.get());
            EXPECT_TRUE(progress->runWorker(thread));
        }
        return progress;
    }

    static QStringList savedNames(const RecordingProgress &progress)
    {
        QStringList names;
        for (const RecordingProgress::Post &p : progress.updates()) {
            if (p.text.isEmpty() && p.progress == -1) {
                QString name = p.progressText;
                if (name.startsWith(QLatin1String("Saving ")) && name.endsWith(QLatin1String("...")))
                    name = name.mid(7, name.size() - 10);
                else
                    name = QStringLiteral("(unexpected) ") + p.progressText;
                names << name;
            }
        }
        return names;
    }

    // Everything in the test folder but the backup and the cache.
    QMap<QString, QByteArray> outside() const
    {
        QMap<QString, QByteArray> all = listing(m_dir.path());
        for (auto it = all.begin(); it != all.end();) {
            if (it.key().startsWith(QLatin1String("backup")) || it.key().startsWith(QLatin1String("cache")))
                it = all.erase(it);
            else
                ++it;
        }
        return all;
    }

    QTemporaryDir m_dir;
    QTranslator m_translator;
    G::Options m_options;
    G::Result m_result;
    Sample m_sample;
    std::unique_ptr<BackupManifest> m_manifest;
};

} // namespace

TEST_F(CacheThreadTest, TheFirstConstructorNamesTheCacheAfterTheBackupAndCreatesNothing)
{
    writeBackup(m_sample.files());
    RecordingProgress progress;
    const QString expected = appDataDir().absoluteFilePath(QStringLiteral("itunes_cache/") + m_manifest->id());
    {
        ITunesCacheSMSThread thread(m_manifest.get(), &progress);
        EXPECT_EQ(thread.cacheDir().absolutePath(), expected);
    }
    EXPECT_FALSE(QFileInfo::exists(expected));

    {
        ITunesCacheSMSThread thread(m_manifest.get(), &progress);
        ASSERT_TRUE(progress.runWorker(thread));
    }
    EXPECT_EQ(progress.result(), 1);
    EXPECT_EQ(readAll(QDir(expected).filePath(kLibrary + "/SMS/sms.db")), m_sample.smsDb);
}

TEST_F(CacheThreadTest, WithoutABackupNothingIsTouched)
{
    ASSERT_TRUE(QDir().mkpath(cacheFolder()));
    writeAll(cacheFolder() + "/keep", "k");
    RecordingProgress progress;
    {
        ITunesCacheSMSThread thread(nullptr, QDir(cacheFolder()), &progress);
        ASSERT_TRUE(progress.runWorker(thread));
    }
    EXPECT_EQ(progress.errorText(), kNoDatabase);
    EXPECT_EQ(listing(cacheFolder()), (QMap<QString, QByteArray>{{"keep", "k"}}));
}

namespace
{

struct KindCase
{
    std::string name;
    bool encrypted;
};

void PrintTo(const KindCase &c, std::ostream *os)
{
    *os << c.name;
}

class CacheThreadKindTest : public CacheThreadTest, public ::testing::WithParamInterface<KindCase>
{
};

} // namespace

TEST_P(CacheThreadKindTest, CopiesTheMessageAndAddressBookFoldersByteExact)
{
    writeBackup(m_sample.files(), GetParam().encrypted);
    const auto progress = run();

    EXPECT_EQ(progress->result(), 1);
    EXPECT_EQ(progress->endings(), 1);
    EXPECT_EQ(progress->successText(), QString());
    ASSERT_FALSE(progress->updates().isEmpty());
    const RecordingProgress::Post first = progress->updates().first();
    EXPECT_EQ(first.text, QStringLiteral("Loading iTunes backup..."));
    EXPECT_EQ(first.progress, 99);
    EXPECT_EQ(first.progressText, QString());
    EXPECT_EQ(savedNames(*progress), Sample::announced());

    EXPECT_EQ(listing(cacheLibrary()), m_sample.cached());
    // Nothing but the copies and the cache database.
    QStringList top = QDir(cacheFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    EXPECT_EQ(top, QStringList({"file-relay", "manifest.db"}));
    EXPECT_EQ(QFileInfo(cacheLibrary() + "/SMS/sms.db").lastModified().toSecsSinceEpoch(), 1357000001);
    EXPECT_EQ(QFileInfo(cacheLibrary() + "/SMS/Attachments/0a/IMG_0001.JPG").lastModified().toSecsSinceEpoch(),
              1357000002);

    const QMap<QString, qint64> rows{
        {G::storedName("HomeDomain", "Library/SMS/sms.db"), 1357000001},
        {G::storedName("HomeDomain", "Library/SMS/empty.txt"), 1357000000},
        {G::storedName("MediaDomain", "Library/SMS/Attachments/0a/IMG_0001.JPG"), 1357000002},
        {G::storedName("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"), 1357000000},
        {G::storedName("HomeDomain", "Library/AddressBook/AddressBookImages.sqlitedb"), 1357000000},
    };
    EXPECT_EQ(readCacheRows(dbPath()), rows);
}

TEST_P(CacheThreadKindTest, ASecondRunCopiesNothingButAnnouncesEveryNode)
{
    writeBackup(m_sample.files(), GetParam().encrypted);
    ASSERT_EQ(run()->result(), 1);
    const QMap<QString, qint64> rows = readCacheRows(dbPath());

    // Marked copies show whether anything was written again.
    const QMap<QString, QByteArray> marked = markCopies(cacheLibrary(), m_sample.cached());
    const QMap<QString, qint64> times = fileTimes(cacheLibrary());

    openBackup();
    const auto progress = run();
    EXPECT_EQ(progress->result(), 1);
    EXPECT_EQ(savedNames(*progress), Sample::announced());
    EXPECT_EQ(listing(cacheLibrary()), marked);
    EXPECT_EQ(fileTimes(cacheLibrary()), times);
    EXPECT_EQ(readCacheRows(dbPath()), rows);
}

INSTANTIATE_TEST_SUITE_P(Cases, CacheThreadKindTest,
                         ::testing::Values(KindCase{"Plain", false}, KindCase{"Encrypted", true}), CaseName());

namespace
{

struct RecopyCase
{
    std::string name;
    // Changes the backup or the cache after the first run; returns the
    // cached path that must be copied again.
    std::function<QString(QList<G::File> &files, const QString &cacheLibrary)> change;
    QString copiedId;
    qint64 newTime;
};

void PrintTo(const RecopyCase &c, std::ostream *os)
{
    *os << c.name;
}

class CacheThreadRecopyTest : public CacheThreadTest, public ::testing::WithParamInterface<RecopyCase>
{
};

} // namespace

TEST_P(CacheThreadRecopyTest, OnlyTheChangedOrMissingCopyIsWrittenAgain)
{
    QList<G::File> files = m_sample.files();
    writeBackup(files);
    ASSERT_EQ(run()->result(), 1);

    QMap<QString, QByteArray> expected = markCopies(cacheLibrary(), m_sample.cached());
    QMap<QString, qint64> times = fileTimes(cacheLibrary());
    const QString recopied = GetParam().change(files, cacheLibrary());
    expected[recopied] = m_sample.cached().value(recopied);
    times[recopied] = GetParam().newTime;
    m_result = G::write(backupFolder(), files, m_options);
    openBackup();

    const auto progress = run();
    EXPECT_EQ(progress->result(), 1);
    EXPECT_EQ(listing(cacheLibrary()), expected);
    EXPECT_EQ(fileTimes(cacheLibrary()), times);
    EXPECT_EQ(readCacheRows(dbPath()).value(GetParam().copiedId), GetParam().newTime);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CacheThreadRecopyTest,
    ::testing::Values(
        RecopyCase{"RecordTimeChanged",
                   [](QList<G::File> &files, const QString &) {
                       for (G::File &f : files)
                           if (f.path == QLatin1String("Library/SMS/sms.db"))
                               f.mtime = 1400000000;
                       return QStringLiteral("SMS/sms.db");
                   },
                   G::storedName("HomeDomain", "Library/SMS/sms.db"), 1400000000},
        RecopyCase{"CopyMissingThoughItsRowIsCurrent",
                   [](QList<G::File> &, const QString &library) {
                       QFile::remove(library + "/SMS/Attachments/0a/IMG_0001.JPG");
                       return QStringLiteral("SMS/Attachments/0a/IMG_0001.JPG");
                   },
                   G::storedName("MediaDomain", "Library/SMS/Attachments/0a/IMG_0001.JPG"), 1357000002},
        RecopyCase{"CopyOfAnotherSizeThanItWasMade",
                   [](QList<G::File> &, const QString &library) {
                       QFile copy(library + "/AddressBook/AddressBook.sqlitedb");
                       EXPECT_TRUE(copy.resize(1000));
                       return QStringLiteral("AddressBook/AddressBook.sqlitedb");
                   },
                   G::storedName("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"), 1357000000},
        // The time alone may stay while the catalogue's size moves.
        RecopyCase{"RecordSizeChangedButNotItsTime",
                   [](QList<G::File> &files, const QString &) {
                       for (G::File &f : files)
                           if (f.path == QLatin1String("Library/SMS/sms.db"))
                               f.recordSize = quint64(f.content.size()) + 4096;
                       return QStringLiteral("SMS/sms.db");
                   },
                   G::storedName("HomeDomain", "Library/SMS/sms.db"), 1357000001}),
    CaseName());

// An earlier version cut every decrypted file to its record's size, and a
// real backup's catalogue can give the size of an older version of a file:
// the next run makes those cut copies whole, and the run after that leaves
// them alone.
TEST_F(CacheThreadTest, CopiesCutToAStaleRecordSizeAreMadeWholeByTheNextRun)
{
    // As a real iPhone's encrypted backup has them: its sms.db catalogued
    // at 29 pages of 4096 while it holds 43, its address book at 69 of 75.
    const QByteArray smsDb = randomBytes(43 * 4096, 21);
    const QByteArray addressBook = randomBytes(75 * 4096, 22);
    G::File sms = G::file("HomeDomain", "Library/SMS/sms.db", smsDb, 4);
    sms.recordSize = 29 * 4096;
    sms.mtime = 1357000001;
    G::File book = G::file("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", addressBook, 3);
    book.recordSize = 69 * 4096;
    writeBackup({G::folder("HomeDomain", "Library"), G::folder("HomeDomain", "Library/SMS"), sms,
                 G::folder("HomeDomain", "Library/AddressBook"), book},
                true);
    const QString smsId = G::storedName("HomeDomain", "Library/SMS/sms.db");
    const QString bookId = G::storedName("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb");

    // What the earlier version left: the cut copies, and rows of their
    // catalogue times alone.
    ASSERT_TRUE(QDir().mkpath(cacheLibrary() + "/SMS"));
    ASSERT_TRUE(QDir().mkpath(cacheLibrary() + "/AddressBook"));
    writeAll(cacheLibrary() + "/SMS/sms.db", smsDb.left(29 * 4096));
    writeAll(cacheLibrary() + "/AddressBook/AddressBook.sqlitedb", addressBook.left(69 * 4096));
    writeEarlierCacheDb(dbPath(), {{smsId, 1357000001}, {bookId, 1357000000}});

    ASSERT_EQ(run()->result(), 1);
    const QMap<QString, QByteArray> whole{
        {"SMS", kDir}, {"SMS/sms.db", smsDb}, {"AddressBook", kDir}, {"AddressBook/AddressBook.sqlitedb", addressBook}};
    EXPECT_EQ(listing(cacheLibrary()), whole);
    {
        CacheDb db(dbPath());
        const CacheDb::Entry s = db.entry(smsId);
        EXPECT_EQ(s.lastDate, 1357000001);
        EXPECT_EQ(s.recordSize, std::optional<qint64>(29 * 4096));
        EXPECT_EQ(s.copySize, std::optional<qint64>(43 * 4096));
        const CacheDb::Entry b = db.entry(bookId);
        EXPECT_EQ(b.recordSize, std::optional<qint64>(69 * 4096));
        EXPECT_EQ(b.copySize, std::optional<qint64>(75 * 4096));
    }

    const QMap<QString, QByteArray> marked = markCopies(cacheLibrary(), whole);
    openBackup();
    ASSERT_EQ(run()->result(), 1);
    EXPECT_EQ(listing(cacheLibrary()), marked);
    EXPECT_EQ(fileTimes(cacheLibrary()),
              (QMap<QString, qint64>{{"SMS/sms.db", kMarkTime}, {"AddressBook/AddressBook.sqlitedb", kMarkTime}}));
}

TEST_F(CacheThreadTest, ARecordTimeOfZeroNeverCountsAsCurrent)
{
    // 0 is also what a missing row reads as.
    G::File db = G::file("HomeDomain", "Library/SMS/sms.db", "db");
    db.mtime = 0;
    writeBackup({G::folder("HomeDomain", "Library"), G::folder("HomeDomain", "Library/SMS"), db});
    ASSERT_EQ(run()->result(), 1);
    writeAll(cacheLibrary() + "/SMS/sms.db", "marker");
    openBackup();
    ASSERT_EQ(run()->result(), 1);
    EXPECT_EQ(readAll(cacheLibrary() + "/SMS/sms.db"), "db");
}

TEST_F(CacheThreadTest, FoldersOfAnyLetterCaseAreFoundAndStoredUnderTheNamesReadersOpen)
{
    const QByteArray db = randomBytes(100, 9);
    writeBackup({
        G::folder("HomeDomain", "library"),
        G::folder("HomeDomain", "library/sms"),
        G::file("HomeDomain", "library/sms/sms.db", db),
        G::folder("HomeDomain", "library/sms/Parts"),
        G::file("HomeDomain", "library/sms/Parts/Pic.JPG", "pic"),
        G::folder("HomeDomain", "library/ADDRESSBOOK"),
        G::file("HomeDomain", "library/ADDRESSBOOK/AddressBook.sqlitedb", "ab"),
    });
    const auto progress = run();
    EXPECT_EQ(progress->result(), 1);
    EXPECT_EQ(savedNames(*progress), QStringList({"sms", "Parts", "Pic.JPG", "sms.db", "ADDRESSBOOK",
                                                  "AddressBook.sqlitedb"}));
    const QMap<QString, QByteArray> expected{
        {"SMS", kDir},     {"SMS/sms.db", db},
        {"SMS/Parts", kDir}, {"SMS/Parts/Pic.JPG", "pic"},
        {"AddressBook", kDir}, {"AddressBook/AddressBook.sqlitedb", "ab"},
    };
    EXPECT_EQ(listing(cacheLibrary()), expected);
}

TEST_F(CacheThreadTest, WithoutAnAddressBookTheMessagesAloneAreCopied)
{
    writeBackup({G::folder("HomeDomain", "Library"), G::folder("HomeDomain", "Library/SMS"),
                 G::file("HomeDomain", "Library/SMS/sms.db", "db")});
    const auto progress = run();
    EXPECT_EQ(progress->result(), 1);
    const QMap<QString, QByteArray> expected{{"SMS", kDir}, {"SMS/sms.db", "db"}};
    EXPECT_EQ(listing(cacheLibrary()), expected);
}

TEST_F(CacheThreadTest, AFolderIsWhatItsModeSaysAndAnEmptyFileIsAFile)
{
    G::File sized = G::folder("HomeDomain", "Library/SMS/Sized");
    sized.recordSize = 4096;
    G::File bare = G::file("HomeDomain", "Library/SMS/zero.bin", QByteArray());
    writeBackup({G::folder("HomeDomain", "Library"), G::folder("HomeDomain", "Library/SMS"),
                 G::file("HomeDomain", "Library/SMS/sms.db", "db"), sized,
                 G::file("HomeDomain", "Library/SMS/Sized/inner.txt", "inner"), bare});
    ASSERT_EQ(run()->result(), 1);
    EXPECT_TRUE(QFileInfo(cacheLibrary() + "/SMS/Sized").isDir());
    EXPECT_EQ(readAll(cacheLibrary() + "/SMS/Sized/inner.txt"), "inner");
    const QFileInfo zero(cacheLibrary() + "/SMS/zero.bin");
    EXPECT_TRUE(zero.isFile());
    EXPECT_EQ(zero.size(), 0);
}

// A phone's backup stores empty files without a key; they hold nothing to
// decrypt and are copied as empty files, while a file with contents whose
// key is missing still stops the run.
TEST_F(CacheThreadTest, AnEncryptedEmptyFileWithoutAKeyIsCopiedEmpty)
{
    G::File empty = G::file("HomeDomain", "Library/SMS/sms.db-shm", QByteArray());
    empty.keyForm = G::KeyForm::Absent;
    G::File sms = G::file("HomeDomain", "Library/SMS/sms.db", m_sample.smsDb, 4);
    writeBackup({G::folder("HomeDomain", "Library"), G::folder("HomeDomain", "Library/SMS"), sms, empty}, true);
    // The phone stores no padding for a file without contents.
    QFile stored(storedPath("HomeDomain", "Library/SMS/sms.db-shm"));
    ASSERT_TRUE(stored.resize(0));

    const auto progress = run();
    EXPECT_EQ(progress->result(), 1) << progress->errorText().toStdString();
    const QMap<QString, QByteArray> expected{
        {"SMS", kDir}, {"SMS/sms.db", m_sample.smsDb}, {"SMS/sms.db-shm", QByteArray()}};
    EXPECT_EQ(listing(cacheLibrary()), expected);

    G::File keyless = G::file("HomeDomain", "Library/SMS/sms.db-wal", "contents");
    keyless.keyForm = G::KeyForm::Absent;
    writeBackup({G::folder("HomeDomain", "Library"), G::folder("HomeDomain", "Library/SMS"), sms, empty, keyless},
                true);
    const auto refused = run();
    EXPECT_EQ(refused->result(), 0);
    EXPECT_NE(refused->errorText().toStdString().find("cannot be unwrapped"), std::string::npos)
        << refused->errorText().toStdString();
    EXPECT_FALSE(QFileInfo::exists(cacheLibrary() + "/SMS"));
}

TEST_F(CacheThreadTest, FileNamesLoseTheCharactersNoFileNameMayHold)
{
    writeBackup({G::folder("HomeDomain", "Library"), G::folder("HomeDomain", "Library/SMS"),
                 G::file("HomeDomain", "Library/SMS/sms.db", "db"),
                 G::folder("HomeDomain", "Library/SMS/dir:*"),
                 G::file("HomeDomain", "Library/SMS/dir:*/a\\b:c*d?e\"f<g>h|i.txt", "odd")});
    ASSERT_EQ(run()->result(), 1);
    EXPECT_EQ(readAll(cacheLibrary() + "/SMS/dir/abcdefghi.txt"), "odd");
}

namespace
{

struct NoDatabaseCase
{
    std::string name;
    QList<G::File> files;
    // Applied to the written backup before it is opened.
    std::function<void(const QString &backupFolder)> damage;
};

void PrintTo(const NoDatabaseCase &c, std::ostream *os)
{
    *os << c.name;
}

class CacheThreadNoDatabaseTest : public CacheThreadTest, public ::testing::WithParamInterface<NoDatabaseCase>
{
};

const G::File kLib = G::folder("HomeDomain", "Library");
const G::File kSms = G::folder("HomeDomain", "Library/SMS");
const G::File kAb = G::folder("HomeDomain", "Library/AddressBook");
const G::File kAbDb = G::file("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", "ab");

} // namespace

TEST_P(CacheThreadNoDatabaseTest, PostsItsMessageAndLeavesNothingBehind)
{
    G::write(backupFolder(), GetParam().files, m_options);
    if (GetParam().damage)
        GetParam().damage(backupFolder());
    openBackup();

    const auto progress = run();
    EXPECT_EQ(progress->result(), 0);
    EXPECT_EQ(progress->endings(), 1);
    EXPECT_EQ(progress->errorText(), kNoDatabase);
    EXPECT_FALSE(QFileInfo::exists(cacheFolder()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CacheThreadNoDatabaseTest,
    ::testing::Values(
        NoDatabaseCase{"NoLibrary", {G::file("HomeDomain", "Documents/x", "x")}, {}},
        NoDatabaseCase{"AddressBookOnly", {kLib, kAb, kAbDb}, {}},
        NoDatabaseCase{"MessageFolderWithoutDatabase",
                       {kLib, kSms, G::file("HomeDomain", "Library/SMS/other.db", "o"), kAb, kAbDb},
                       {}},
        NoDatabaseCase{"MessageFolderIsAFile", {kLib, G::file("HomeDomain", "Library/SMS", "not a folder")}, {}},
        NoDatabaseCase{"DatabaseIsAFolder", {kLib, kSms, G::folder("HomeDomain", "Library/SMS/sms.db")}, {}},
        NoDatabaseCase{"DatabaseNotStored",
                       {kLib, kSms, G::file("HomeDomain", "Library/SMS/sms.db", "db"),
                        G::file("HomeDomain", "Library/SMS/keep.txt", "k"), kAb, kAbDb},
                       [](const QString &folder) {
                           QFile::remove(QDir(folder).filePath(G::storedName("HomeDomain", "Library/SMS/sms.db")));
                       }}),
    CaseName());

namespace
{

struct CancelCase
{
    std::string name;
    int checksBeforeCancel; // reads of the flag that still say "go on"
    bool earlierCache;      // a finished run filled the cache before
};

void PrintTo(const CancelCase &c, std::ostream *os)
{
    *os << c.name;
}

class CacheThreadCancelTest : public CacheThreadTest, public ::testing::WithParamInterface<CancelCase>
{
};

} // namespace

TEST_P(CacheThreadCancelTest, LeavesNoCacheAndPostsNothing)
{
    writeBackup(m_sample.files(), true);
    if (GetParam().earlierCache) {
        ASSERT_EQ(run()->result(), 1);
        // A changed database makes the second run copy something.
        QFile::remove(cacheLibrary() + "/SMS/sms.db");
        openBackup();
    }
    const auto progress = run(GetParam().checksBeforeCancel);
    EXPECT_EQ(progress->endings(), 0);
    EXPECT_FALSE(QFileInfo::exists(cacheFolder())) << listing(cacheFolder()).keys().join(", ").toStdString();
}

INSTANTIATE_TEST_SUITE_P(Cases, CacheThreadCancelTest,
                         ::testing::Values(CancelCase{"AtTheFirstNode", 0, false},
                                           CancelCase{"InsideTheMessages", 4, false},
                                           CancelCase{"InTheAddressBook", 8, false},
                                           CancelCase{"AtTheLastNode", 9, false},
                                           CancelCase{"AtTheFirstNodeOverAnEarlierCache", 0, true},
                                           CancelCase{"AtTheLastNodeOverAnEarlierCache", 9, true}),
                         CaseName());

TEST_F(CacheThreadTest, ACancelInADeviceFolderKeepsWhatTheCacheDidNotMake)
{
    // A device's folder holds more than the cache.
    ASSERT_TRUE(QDir().mkpath(cacheLibrary() + "/Preferences"));
    writeAll(cacheFolder() + "/file-relay.cpio", "archive");
    writeAll(cacheLibrary() + "/Preferences/x.plist", "x");
    const QMap<QString, QByteArray> before = listing(cacheFolder());

    writeBackup(m_sample.files());
    const auto progress = run(5);
    EXPECT_EQ(progress->endings(), 0);
    EXPECT_EQ(listing(cacheFolder()), before);
}

TEST_F(CacheThreadTest, TheDecryptedCopiesAreForTheUserAlone)
{
    writeBackup(m_sample.files(), true);
    ASSERT_EQ(run()->result(), 1);
    EXPECT_EQ(listing(cacheLibrary()), m_sample.cached());
    EXPECT_EQ(notPrivateEntries(cacheFolder()), "");

    // Copies an earlier version left open to others are narrowed too, also
    // those that are current and not copied again.
    for (const char *path : {"/SMS/sms.db", "/AddressBook/AddressBook.sqlitedb", "/SMS/Attachments"})
        ASSERT_TRUE(QFile::setPermissions(cacheLibrary() + QLatin1String(path), QFileDevice::Permissions(0x7755)));
    ASSERT_TRUE(QFile::setPermissions(cacheFolder(), QFileDevice::Permissions(0x7755)));
    ASSERT_EQ(run()->result(), 1);
    EXPECT_EQ(notPrivateEntries(cacheFolder()), "");
}

TEST_F(CacheThreadTest, ACancelledRunLeavesNothingOpenToOthers)
{
    // A device's folder keeps what the cache did not make; it stays, made
    // private as the run began.
    ASSERT_TRUE(QDir().mkpath(cacheFolder()));
    writeAll(cacheFolder() + "/file-relay.cpio", "archive");
    writeBackup(m_sample.files(), true);
    for (int cancelAfter : {0, 4, 9}) {
        SCOPED_TRACE(cancelAfter);
        ASSERT_TRUE(QFile::setPermissions(cacheFolder(), QFileDevice::Permissions(0x7755)));
        const auto progress = run(cancelAfter);
        EXPECT_EQ(progress->endings(), 0);
        EXPECT_EQ(listing(cacheFolder()).keys(), QStringList{"file-relay.cpio"});
        EXPECT_EQ(permissionBits(cacheFolder()), 0700);
    }
}

namespace
{

struct ErrorCase
{
    std::string name;
    bool encrypted;
    std::function<void(const QString &backupFolder)> damage;
    std::string expectedText; // a part of the posted error
};

void PrintTo(const ErrorCase &c, std::ostream *os)
{
    *os << c.name;
}

class CacheThreadErrorTest : public CacheThreadTest, public ::testing::WithParamInterface<ErrorCase>
{
};

const QString kImagePath = QStringLiteral("Library/SMS/Attachments/0a/IMG_0001.JPG");

} // namespace

TEST_P(CacheThreadErrorTest, RemovesTheCacheWithEveryRowAndPostsTheError)
{
    writeBackup(m_sample.files(), GetParam().encrypted);
    ASSERT_EQ(run()->result(), 1);
    // The next run has the image to copy again, and it fails.
    QFile::remove(cacheLibrary() + "/SMS/Attachments/0a/IMG_0001.JPG");
    GetParam().damage(backupFolder());
    openBackup();

    const auto progress = run();
    EXPECT_EQ(progress->result(), 0);
    EXPECT_EQ(progress->endings(), 1);
    EXPECT_NE(progress->errorText().toStdString().find(GetParam().expectedText), std::string::npos)
        << progress->errorText().toStdString();
    EXPECT_FALSE(QFileInfo::exists(cacheFolder()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CacheThreadErrorTest,
    ::testing::Values(
        ErrorCase{"StoredFileIsAFolder", false,
                  [](const QString &folder) {
                      const QString stored = QDir(folder).filePath(G::storedName("MediaDomain", kImagePath));
                      QFile::remove(stored);
                      QDir().mkpath(stored);
                  },
                  "is not a regular file"},
        ErrorCase{"EncryptedFileOfABrokenLength", true,
                  [](const QString &folder) {
                      QFile f(QDir(folder).filePath(G::storedName("MediaDomain", kImagePath)));
                      ASSERT_TRUE(f.open(QIODevice::ReadWrite));
                      f.resize(f.size() - 1);
                  },
                  "POLARSSL_ERR_AES_INVALID_INPUT_LENGTH"}),
    CaseName());

namespace
{

struct HostileNameCase
{
    std::string name;
    QString nodeName;
    bool folder;
};

void PrintTo(const HostileNameCase &c, std::ostream *os)
{
    *os << c.name;
}

class CacheThreadHostileNameTest : public CacheThreadTest, public ::testing::WithParamInterface<HostileNameCase>
{
};

} // namespace

// However the tree came to hold it, a node whose name is no plain file name
// writes nothing, inside or outside the cache.
TEST_P(CacheThreadHostileNameTest, IsRefusedAndNothingIsWritten)
{
    writeBackup(m_sample.files());
    auto *sms = const_cast<Node *>(findNode(m_manifest->root, {"Library", "SMS"}));
    const Node *db = findNode(m_manifest->root, {"Library", "SMS", "sms.db"});
    ASSERT_TRUE(sms && db);
    MbdbRecord record = db->record;
    if (GetParam().folder)
        record.mode = G::FolderMode;
    auto *hostile = new Node(sms, record, GetParam().nodeName);
    sms->children.prepend(hostile);
    if (GetParam().folder)
        hostile->children.append(new Node(hostile, db->record, QStringLiteral("escape.db")));
    const QMap<QString, QByteArray> before = outside();

    const auto progress = run();
    EXPECT_EQ(progress->result(), 0);
    EXPECT_NE(progress->errorText().indexOf(QLatin1String("not a plain file name")), -1)
        << progress->errorText().toStdString();
    EXPECT_EQ(outside(), before);
    EXPECT_FALSE(QFileInfo::exists(cacheFolder()));
}

INSTANTIATE_TEST_SUITE_P(Cases, CacheThreadHostileNameTest,
                         ::testing::Values(HostileNameCase{"ParentFolder", "..", true},
                                           HostileNameCase{"ParentFile", "..", false},
                                           HostileNameCase{"SameFolder", ".", true},
                                           HostileNameCase{"Empty", "", false},
                                           HostileNameCase{"BlanksOnly", "   ", true},
                                           HostileNameCase{"ForbiddenOnly", "*?", false},
                                           HostileNameCase{"SeparatorsAroundParent", "/../", true}),
                         CaseName());

// End to end: a catalogue whose paths climb out of their folders.
TEST_F(CacheThreadTest, AHostileCatalogueWritesNothingOutsideTheCache)
{
    m_result = G::write(backupFolder(),
                        {G::folder("HomeDomain", "Library"), G::folder("HomeDomain", "Library/SMS"),
                         G::file("HomeDomain", "Library/SMS/sms.db", "db"),
                         G::folder("HomeDomain", "Library/SMS/.."),
                         G::file("HomeDomain", "Library/SMS/../../../../../../escape.txt", "escaped"),
                         G::folder("HomeDomain", "Library/SMS/../../.."),
                         G::file("HomeDomain", "Library/SMS/../../../../x.db", "escaped")},
                        m_options);
    const QMap<QString, QByteArray> before = outside();

    m_manifest = std::make_unique<BackupManifest>(backupFolder());
    m_manifest->loadInfo();
    bool loaded = true;
    try {
        m_manifest->loadFiles();
    } catch (const std::exception &) {
        loaded = false;
    }
    if (loaded)
        run();
    EXPECT_EQ(outside(), before);
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath("escape.txt")));
    EXPECT_FALSE(QFileInfo::exists(QDir(m_dir.path()).absoluteFilePath("../escape.txt")));
}
