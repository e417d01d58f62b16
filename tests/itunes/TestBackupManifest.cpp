#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>

#include "BackupGenerator.h"
#include "BackupManifest.h"
#include "CaseName.h"

namespace
{

using G = BackupGenerator;

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

std::string loadInfoError(BackupManifest &m)
{
    try {
        m.loadInfo();
    } catch (const std::runtime_error &e) {
        return e.what();
    }
    return "(no error)";
}

QByteArray xmlPlist(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">"
        + body + "</plist>\n";
}

} // namespace

TEST(BackupManifestInfo, ReadsManifestPlistInXmlAndBinaryForm)
{
    for (const bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "binary" : "xml");
        QTemporaryDir dir;
        G::Options o;
        o.binaryPlist = binary;
        o.encrypted = true;
        o.deviceName = QString::fromUtf8("J\xc3\xbcrgen's phone");
        const G::Result r = G::write(dir.filePath(o.uniqueId), {}, o);

        BackupManifest m(dir.filePath(o.uniqueId));
        EXPECT_TRUE(m.displayName.isEmpty());
        m.loadInfo();
        EXPECT_EQ(m.info.uniqueDeviceId, o.uniqueId);
        EXPECT_EQ(m.info.deviceName, o.deviceName);
        EXPECT_EQ(m.info.date.toUTC(), o.date);
        EXPECT_EQ(m.info.productType, o.productType);
        EXPECT_EQ(m.info.productVersion, o.productVersion);
        EXPECT_EQ(m.info.serialNumber, o.serialNumber);
        EXPECT_TRUE(m.info.isEncrypted);
        EXPECT_EQ(m.info.backupKeyBag, r.keybag.bytes);
        EXPECT_EQ(m.displayName, o.deviceName);
    }
}

TEST(BackupManifestInfo, MissingItemsGiveEmptyFields)
{
    QTemporaryDir dir;
    writeAll(dir.filePath("Manifest.plist"),
             xmlPlist("<dict><key>Lockdown</key><dict><key>UniqueDeviceID</key><string>abc</string>"
                      "<key>DeviceName</key><integer>7</integer></dict>"
                      "<key>IsEncrypted</key><string>yes</string></dict>"));
    BackupManifest m(dir.path());
    m.loadInfo();
    EXPECT_EQ(m.info.uniqueDeviceId, "abc");
    EXPECT_EQ(m.info.deviceName, ""); // of another type
    EXPECT_FALSE(m.info.date.isValid());
    EXPECT_EQ(m.info.productType, "");
    EXPECT_FALSE(m.info.isEncrypted);
    EXPECT_TRUE(m.info.backupKeyBag.isEmpty());
}

namespace
{

struct DisplayNameCase
{
    std::string name;
    QString folderName;
    QString expected;
};

void PrintTo(const DisplayNameCase &c, std::ostream *os)
{
    *os << c.name;
}

class BackupManifestDisplayName : public ::testing::TestWithParam<DisplayNameCase>
{
};

} // namespace

TEST_P(BackupManifestDisplayName, ComesFromTheFolderAndTheDevice)
{
    const DisplayNameCase &c = GetParam();
    QTemporaryDir dir;
    G::Options o;
    o.uniqueId = "a1b2";
    o.deviceName = "Phone";
    G::write(dir.filePath(c.folderName), {}, o);
    BackupManifest m(dir.filePath(c.folderName));
    m.loadInfo();
    EXPECT_EQ(m.displayName, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackupManifestDisplayName,
    ::testing::Values(DisplayNameCase{"FolderIsTheDeviceId", "a1b2", "Phone"},
                      DisplayNameCase{"DeviceIdWithTimeStamp", "a1b2-20130301-120000", "Phone-20130301-120000"},
                      DisplayNameCase{"EveryOccurrenceReplaced", "a1b2_a1b2", "Phone_Phone"},
                      DisplayNameCase{"OtherFolderName", "my copy", "Phone-my copy"},
                      DisplayNameCase{"SearchIsCaseSensitive", "A1B2", "Phone-A1B2"}),
    CaseName());

TEST(BackupManifestInfo, EachLoadOverwritesTheFields)
{
    QTemporaryDir dir;
    G::Options o;
    G::write(dir.path(), {}, o);
    BackupManifest m(dir.path());
    m.loadInfo();
    o.deviceName = "Renamed";
    o.encrypted = true;
    G::write(dir.path(), {}, o);
    m.loadInfo();
    EXPECT_EQ(m.info.deviceName, "Renamed");
    EXPECT_TRUE(m.info.isEncrypted);
    EXPECT_FALSE(m.info.backupKeyBag.isEmpty());
}

TEST(BackupManifestInfo, MissingManifestPlistIsNamed)
{
    QTemporaryDir dir;
    BackupManifest m(dir.filePath("gone"));
    EXPECT_EQ(loadInfoError(m), ("Cannot find " + dir.filePath("gone/Manifest.plist")).toStdString());
    EXPECT_TRUE(m.displayName.isEmpty());
    EXPECT_EQ(m.id().size(), 32); // still usable
}

namespace
{

struct BadPlistCase
{
    std::string name;
    QByteArray plist;
    std::string error; // a part of the text
};

void PrintTo(const BadPlistCase &c, std::ostream *os)
{
    *os << c.name;
}

class BackupManifestBadPlist : public ::testing::TestWithParam<BadPlistCase>
{
};

} // namespace

// A Manifest.plist that cannot be trusted is refused, and what was read before
// stays as it was.
TEST_P(BackupManifestBadPlist, IsRefusedAndKeepsTheEarlierInfo)
{
    const BadPlistCase &c = GetParam();
    QTemporaryDir dir;
    G::Options o;
    o.encrypted = true;
    G::write(dir.path(), {}, o);
    BackupManifest m(dir.path());
    m.loadInfo();
    const QString displayName = m.displayName;

    writeAll(dir.filePath("Manifest.plist"), c.plist);
    EXPECT_NE(loadInfoError(m).find(c.error), std::string::npos) << loadInfoError(m);
    EXPECT_EQ(m.info.uniqueDeviceId, o.uniqueId);
    EXPECT_TRUE(m.info.isEncrypted);
    EXPECT_EQ(m.displayName, displayName);
}

static QByteArray withDeviceId(const QByteArray &id)
{
    return xmlPlist("<dict><key>Lockdown</key><dict><key>UniqueDeviceID</key><string>" + id
                    + "</string></dict></dict>");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackupManifestBadPlist,
    ::testing::Values(
        // would otherwise pass for an unencrypted backup
        BadPlistCase{"NotAPropertyList", "this is not a property list", "is not a valid property list"},
        BadPlistCase{"CutShort", xmlPlist("<dict><key>IsEncrypted</key><tr").left(120),
                           "is not a valid property list"},
        BadPlistCase{"DamagedBinary", QByteArray("bplist00\x08\x00\x00\x00", 12), "is not a valid property list"},
        BadPlistCase{"EmptyFile", "", "is not a valid property list"},
        BadPlistCase{"NotADictionary", xmlPlist("<array><string>x</string></array>"),
                           "is not a valid property list"},
        // the identifier names folders of the device
        BadPlistCase{"DeviceIdWithSlash", withDeviceId("../x"), "Invalid device identifier \"../x\""},
        BadPlistCase{"DeviceIdWithBackslash", withDeviceId("a\\b"), "Invalid device identifier"},
        BadPlistCase{"DeviceIdDotDot", withDeviceId(".."), "Invalid device identifier"},
        BadPlistCase{"DeviceIdDot", withDeviceId("."), "Invalid device identifier"}),
    CaseName());

// A Manifest.plist larger than any real one is refused by its size, before
// anything of it is read, and what was read before stays.
TEST(BackupManifestInfo, AManifestPlistOverTheBoundIsRefusedUnread)
{
    QTemporaryDir dir;
    G::Options o;
    G::write(dir.path(), {}, o);
    BackupManifest m(dir.path());
    m.loadInfo();
    const QString displayName = m.displayName;

    // A valid list followed by zeros, the file 1 byte over 256 MiB; sparse,
    // so the test writes next to nothing.
    QFile plist(dir.filePath("Manifest.plist"));
    ASSERT_TRUE(plist.resize((qint64(256) << 20) + 1));
    const QString path = QDir::toNativeSeparators(dir.filePath("Manifest.plist"));
    EXPECT_EQ(loadInfoError(m), (path + " is too large to be read.").toStdString());
    EXPECT_EQ(m.info.uniqueDeviceId, o.uniqueId);
    EXPECT_EQ(m.displayName, displayName);

    // A list of a real size is read again.
    G::write(dir.path(), {}, o);
    EXPECT_EQ(loadInfoError(m), "(no error)");
}

// Nothing needs the device's identifier: a backup without one is listed
// under its device's name.
TEST(BackupManifestInfo, ABackupWithoutDeviceIdentifierIsStillRead)
{
    for (const QByteArray &plist :
         {xmlPlist("<dict><key>Lockdown</key><dict><key>DeviceName</key><string>Kim</string></dict></dict>"),
          xmlPlist("<dict><key>Lockdown</key><dict><key>DeviceName</key><string>Kim</string><key>UniqueDeviceID</key>"
                   "<string></string></dict></dict>")}) {
        QTemporaryDir dir;
        const QString folder = dir.filePath("abc");
        ASSERT_TRUE(QDir().mkpath(folder));
        writeAll(folder + "/Manifest.plist", plist);
        BackupManifest m(folder);
        EXPECT_EQ(loadInfoError(m), "(no error)");
        EXPECT_TRUE(m.info.uniqueDeviceId.isEmpty());
        EXPECT_FALSE(m.info.isEncrypted);
        EXPECT_EQ(m.displayName, "Kim-abc");
    }
}

TEST(BackupManifestId, IsTheMd5OfTheAbsoluteFolderPath)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("backup");
    const QString expected =
        QString::fromLatin1(QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Md5).toHex());
    EXPECT_EQ(BackupManifest(path).id(), expected);
    EXPECT_EQ(BackupManifest(path).id(), BackupManifest(path).id());
    EXPECT_NE(BackupManifest(dir.filePath("copy")).id(), expected);

    // A relative path counts from the working folder.
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    EXPECT_EQ(BackupManifest("backup").id(), expected);
}

TEST(BackupManifestUnlock, EveryAttemptStartsAfresh)
{
    QTemporaryDir dir;
    G::Options o;
    o.encrypted = true;
    o.password = "p\xc3\xa4ss";
    G::write(dir.path(), {}, o);
    BackupManifest m(dir.path());
    m.loadInfo();

    EXPECT_FALSE(m.unlock("pass"));
    EXPECT_FALSE(m.unlock(""));
    EXPECT_TRUE(m.unlock(QString::fromUtf8("p\xc3\xa4ss")));
    for (const auto &entry : m.keybag.classes)
        EXPECT_EQ(entry.value("KEY").size(), 32);

    // A wrong password after the right one leaves no key of the earlier
    // attempt behind.
    EXPECT_FALSE(m.unlock("wrong"));
    for (const auto &entry : m.keybag.classes)
        EXPECT_FALSE(entry.contains("KEY"));
}
