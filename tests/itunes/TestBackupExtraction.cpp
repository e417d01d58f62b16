#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "BackupGenerator.h"
#include "BackupManifest.h"
#include "CaseName.h"
#include "FileNodeLookup.h"
#include "RandomBytes.h"

namespace
{

using G = BackupGenerator;
using Node = BackupManifest::_FileNode;

const QString kSmsPath = QStringLiteral("Library/SMS/sms.db");
constexpr quint32 kMtime = 1234567890;

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

// A generated backup with the message database in it, opened the way the
// program opens one: its Manifest.plist read, unlocked, its files loaded.
struct Backup
{
    QTemporaryDir dir;
    G::Options options;
    G::Result result;
    std::unique_ptr<BackupManifest> manifest;

    QString folder() const { return dir.filePath("backup"); }
    QString target() const { return dir.filePath("out/sms.db"); }
    QString storedSms() const { return QDir(folder()).filePath(G::storedName("HomeDomain", kSmsPath)); }

    void write(const G::File &sms, bool encrypted, QList<G::KeyClass> classes = G::defaultClasses())
    {
        options.encrypted = encrypted;
        options.classes = classes;
        result = G::write(folder(), {G::folder("HomeDomain", "Library"), G::folder("HomeDomain", "Library/SMS"), sms},
                          options);
        QDir(dir.path()).mkpath("out");
    }

    void open(bool unlock = true)
    {
        manifest = std::make_unique<BackupManifest>(folder());
        manifest->loadInfo();
        if (manifest->info.isEncrypted && unlock) {
            ASSERT_TRUE(manifest->unlock(QString::fromUtf8(options.password)));
        }
        manifest->loadFiles();
    }

    const Node *sms() const { return findNode(manifest->root, {"Library", "SMS", "sms.db"}); }

    std::string extractError()
    {
        try {
            manifest->extractFile(sms(), target());
        } catch (const std::runtime_error &e) {
            return e.what();
        }
        return "(no error)";
    }
};

G::File smsFile(const QByteArray &content)
{
    G::File f = G::file("HomeDomain", kSmsPath, content, 4);
    f.mtime = kMtime;
    return f;
}

// Nothing but the listed names in the folder: no temporary file is left.
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

class BackupExtractionSize : public ::testing::TestWithParam<int>
{
};

} // namespace

// A database whose size is a multiple of the cipher block has a whole block
// of padding after it, which must not end up in the copy.
TEST_P(BackupExtractionSize, ComesOutByteExact)
{
    const int size = GetParam();
    const QByteArray content = randomBytes(size, quint32(size) + 7);
    for (const bool encrypted : {false, true}) {
        SCOPED_TRACE(encrypted ? "encrypted" : "plain");
        Backup b;
        b.write(smsFile(content), encrypted);
        b.open();
        ASSERT_NE(b.sms(), nullptr);
        b.manifest->extractFile(b.sms(), b.target());

        const QFileInfo out(b.target());
        EXPECT_EQ(out.lastModified().toSecsSinceEpoch(), kMtime);
        EXPECT_EQ(out.lastRead().toSecsSinceEpoch(), kMtime);
        EXPECT_EQ(out.size(), size);
        EXPECT_TRUE(readAll(b.target()) == content);
        EXPECT_EQ(entries(b.dir.filePath("out")), QStringList{"sms.db"});
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BackupExtractionSize,
                         ::testing::Values(0, 1, 15, 16, 17, 32, 8191, 8192, 8200, 8192 + 16, 100000),
                         [](const ::testing::TestParamInfo<int> &info) { return std::to_string(info.param); });

namespace
{

// An encrypted file as the backup stores it, and how much of its contents
// the copy holds.
struct LengthCase
{
    std::string name;
    int contentSize;
    std::optional<quint64> recordSize; // none: the content's own size
    G::Padding padding;
    // The last bytes of unpadded contents, which then stand where padding
    // would: what they say of a length must not be believed.
    QByteArray ending;
    int copied; // bytes of the contents in the copy
};

void PrintTo(const LengthCase &c, std::ostream *os)
{
    *os << c.name;
}

class BackupExtractionLength : public ::testing::TestWithParam<LengthCase>
{
};

std::vector<LengthCase> lengthCases()
{
    using P = G::Padding;
    std::vector<LengthCase> cases;
    // Every padding length, the record's size agreeing or not.
    for (int n = 1; n <= 16; ++n) {
        cases.push_back({"Padding" + std::to_string(n), 64 - n, std::nullopt, P::Pkcs7, {}, 64 - n});
        cases.push_back({"Padding" + std::to_string(n) + "RecordSaysLess", 64 - n, 10, P::Pkcs7, {}, 64 - n});
    }
    const std::vector<LengthCase> more = {
        // A real phone's sms.db: 43 pages of 4096, catalogued when it held 29,
        // stored whole with a block of padding.
        {"RecordOfAnOlderSmallerFile", 176128, 118784, P::Pkcs7, {}, 176128},
        {"RecordShortByLessThanABlock", 100, 90, P::Pkcs7, {}, 100},
        {"RecordLongerThanTheFile", 20000, 20017, P::Pkcs7, {}, 20000},
        {"RecordLongerThanTheStoredFile", 3 * 4096, 10 * 4096, P::Pkcs7, {}, 3 * 4096},
        {"RecordOfZeroOverContents", 5000, 0, P::Pkcs7, {}, 5000},
        {"PaddingBlockAloneInTheLastRead", 8192, 4096, P::Pkcs7, {}, 8192},
        // Without valid padding the record's size is all there is.
        {"LastByteZero", 4096, 4000, P::None, QByteArray(1, '\0'), 4000},
        {"LastByteAboveSixteen", 4096, 4000, P::None, QByteArray(1, '\x11'), 4000},
        {"PaddingBytesThatDiffer", 4096, 4090, P::None, QByteArray("\x05\x05\x04\x05\x05", 5), 4090},
        {"LastBlockAllSeventeens", 4096, 4090, P::None, QByteArray(16, '\x11'), 4090},
        {"RecordAsLongAsTheStoredFile", 4096, 4096, P::None, QByteArray(1, '\0'), 4096},
        {"RecordCutAcrossTheReads", 8192 + 16, 8200, P::None, QByteArray(1, '\xff'), 8200},
    };
    cases.insert(cases.end(), more.begin(), more.end());
    return cases;
}

} // namespace

// The copy ends where the stored file's padding says: a catalogue's record
// can hold the size of an older, shorter or longer, version of the file,
// while the stored file holds the whole newer one.
TEST_P(BackupExtractionLength, EndsWhereThePaddingSays)
{
    const LengthCase &c = GetParam();
    QByteArray content = randomBytes(c.contentSize, quint32(c.contentSize) + 11);
    if (!c.ending.isEmpty())
        content.replace(content.size() - c.ending.size(), c.ending.size(), c.ending);
    G::File sms = smsFile(content);
    sms.recordSize = c.recordSize;
    sms.padding = c.padding;
    Backup b;
    b.write(sms, true);
    b.open();
    ASSERT_NE(b.sms(), nullptr);

    EXPECT_EQ(b.extractError(), "(no error)");
    const QByteArray copy = readAll(b.target());
    EXPECT_EQ(copy.size(), c.copied);
    EXPECT_TRUE(copy == content.left(c.copied));
    EXPECT_EQ(QFileInfo(b.target()).lastModified().toSecsSinceEpoch(), kMtime);
}

INSTANTIATE_TEST_SUITE_P(Cases, BackupExtractionLength, ::testing::ValuesIn(lengthCases()), CaseName());

TEST(BackupExtraction, PlainFileIsCopiedAsStored)
{
    const QByteArray content = randomBytes(70000, 4);
    Backup b;
    b.write(smsFile(content), false);
    b.open();
    EXPECT_FALSE(b.manifest->info.isEncrypted);
    b.manifest->extractFile(b.sms(), b.target());
    EXPECT_TRUE(readAll(b.target()) == content);
}

TEST(BackupExtraction, ReplacesAnEarlierCopy)
{
    Backup b;
    b.write(smsFile("new contents"), true);
    b.open();
    QFile old(b.target());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(5000, 'o'));
    old.close();
    b.manifest->extractFile(b.sms(), b.target());
    EXPECT_EQ(readAll(b.target()), "new contents");
}

namespace
{

struct FailureCase
{
    std::string name;
    std::function<void(G::File &sms, QList<G::KeyClass> &classes)> prepare;
    std::function<void(Backup &b)> spoil; // after writing, before opening
    bool unlock;
    std::string error; // a part of the text
};

void PrintTo(const FailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class BackupExtractionFailure : public ::testing::TestWithParam<FailureCase>
{
};

} // namespace

// A failed extraction is an error, and it leaves an earlier copy as it was:
// no ciphertext, no cut-short file, no temporary file.
TEST_P(BackupExtractionFailure, IsAnErrorAndLeavesTheEarlierCopy)
{
    const FailureCase &c = GetParam();
    G::File sms = smsFile(randomBytes(20000, 5));
    QList<G::KeyClass> classes = G::defaultClasses();
    if (c.prepare)
        c.prepare(sms, classes);
    Backup b;
    b.write(sms, true, classes);
    if (c.spoil)
        c.spoil(b);
    b.open(c.unlock);
    ASSERT_NE(b.sms(), nullptr);

    QFile old(b.target());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("earlier copy");
    old.close();

    const std::string error = b.extractError();
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_EQ(readAll(b.target()), "earlier copy");
    EXPECT_EQ(entries(b.dir.filePath("out")), QStringList{"sms.db"});
}

static void resizeStored(Backup &b, qint64 delta)
{
    QFile f(b.storedSms());
    ASSERT_TRUE(f.resize(f.size() + delta));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackupExtractionFailure,
    ::testing::Values(
        FailureCase{"KeybagStillLocked", nullptr, nullptr, false, "cannot be unwrapped"},
        FailureCase{"NoKeyInTheRecord", [](G::File &f, QList<G::KeyClass> &) { f.keyForm = G::KeyForm::Absent; },
                    nullptr, true, "cannot be unwrapped"},
        FailureCase{"KeyWithoutItsPrefix",
                    [](G::File &f, QList<G::KeyClass> &) { f.keyForm = G::KeyForm::WithoutPrefix; }, nullptr, true,
                    "cannot be unwrapped"},
        FailureCase{"ClassThePasswordDoesNotOpen",
                    [](G::File &, QList<G::KeyClass> &classes) { classes[3].wrap = 1; }, nullptr, true,
                    "cannot be unwrapped"},
        FailureCase{"StoredLengthNotWholeBlocks", nullptr, [](Backup &b) { resizeStored(b, -1); }, true,
                    "POLARSSL_ERR_AES_INVALID_INPUT_LENGTH."},
        // Without padding to go by, a record larger than the stored file
        // names bytes that are not there.
        FailureCase{"UnpaddedStoredFileShorterThanItsRecord",
                    [](G::File &f, QList<G::KeyClass> &) {
                        f.padding = G::Padding::None;
                        f.content[f.content.size() - 1] = '\0';
                        f.recordSize = f.content.size() + 17;
                    },
                    nullptr, true, "fewer than the 20017 bytes"},
        FailureCase{"NothingStoredOfAFileWithContents", nullptr, [](Backup &b) { resizeStored(b, -20000 - 16); },
                    true, "fewer than the 20000 bytes"},
        FailureCase{"StoredFileMissing", nullptr, [](Backup &b) { QFile::remove(b.storedSms()); }, true,
                    "No such file"}),
    CaseName());

TEST(BackupExtraction, MissingTargetFolderIsAnError)
{
    Backup b;
    b.write(smsFile("x"), false);
    b.open();
    EXPECT_THROW(b.manifest->extractFile(b.sms(), b.dir.filePath("nowhere/sms.db")), std::runtime_error);
    EXPECT_FALSE(QFileInfo::exists(b.dir.filePath("nowhere")));
}

TEST(BackupExtraction, StoredFileThatIsNoRegularFileIsRefused)
{
    Backup b;
    b.write(smsFile("x"), false);
    b.open();
    ASSERT_TRUE(QFile::remove(b.storedSms()));
    ASSERT_EQ(::mkfifo(QFile::encodeName(b.storedSms()).constData(), 0600), 0);
    EXPECT_NE(b.extractError().find("is not a regular file"), std::string::npos);
    EXPECT_FALSE(QFileInfo::exists(b.target()));
}

TEST(BackupExtraction, NodeWhoseNameIsNoFileNameIsRefused)
{
    Backup b;
    b.write(smsFile("x"), false);
    b.open();
    for (const QString &name : {QString(""), QString("."), QString(".."), QString("a/b")}) {
        SCOPED_TRACE(name.toStdString());
        Node node(nullptr, b.sms()->record, name);
        try {
            b.manifest->extractFile(&node, b.target());
            ADD_FAILURE() << "extracted";
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find("not a plain file name"), std::string::npos) << e.what();
        }
        EXPECT_FALSE(QFileInfo::exists(b.target()));
    }
}

namespace
{

struct EmptyFileCase
{
    std::string name;
    G::KeyForm keyForm;
    bool unlock;
    bool storedEmpty; // the stored file holds nothing, not even padding
};

void PrintTo(const EmptyFileCase &c, std::ostream *os)
{
    *os << c.name;
}

class BackupExtractionEmptyFile : public ::testing::TestWithParam<EmptyFileCase>
{
};

} // namespace

// A file of size 0 in an encrypted backup has nothing to decrypt: whatever
// its record says of a key, it comes out as an empty file with its time.
TEST_P(BackupExtractionEmptyFile, NeedsNoKey)
{
    const EmptyFileCase &c = GetParam();
    G::File sms = smsFile(QByteArray());
    sms.keyForm = c.keyForm;
    Backup b;
    b.write(sms, true);
    if (c.storedEmpty) {
        QFile stored(b.storedSms());
        ASSERT_TRUE(stored.resize(0));
    }
    b.open(c.unlock);
    ASSERT_NE(b.sms(), nullptr);
    ASSERT_EQ(b.sms()->record.size, 0u);

    QFile old(b.target());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("earlier copy");
    old.close();

    EXPECT_EQ(b.extractError(), "(no error)");
    const QFileInfo out(b.target());
    EXPECT_TRUE(out.isFile());
    EXPECT_EQ(out.size(), 0);
    EXPECT_EQ(out.lastModified().toSecsSinceEpoch(), kMtime);
    EXPECT_EQ(entries(b.dir.filePath("out")), QStringList{"sms.db"});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackupExtractionEmptyFile,
    ::testing::Values(EmptyFileCase{"NoKeyStoredEmpty", G::KeyForm::Absent, true, true},
                      EmptyFileCase{"NoKeyStoredAsPadding", G::KeyForm::Absent, true, false},
                      EmptyFileCase{"KeyWithoutItsPrefix", G::KeyForm::WithoutPrefix, true, false},
                      EmptyFileCase{"KeybagStillLocked", G::KeyForm::Wrapped, false, true},
                      EmptyFileCase{"WrappedKeyStoredEmpty", G::KeyForm::Wrapped, true, true}),
    CaseName());
