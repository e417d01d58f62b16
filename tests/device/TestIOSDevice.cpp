#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <stdexcept>
#include <type_traits>

#include "AppFolders.h"
#include "IOSDevice.h"

namespace
{

static_assert(std::has_virtual_destructor_v<IOSDevice>);
static_assert(std::is_copy_constructible_v<IOSDevice> && std::is_copy_assignable_v<IOSDevice>);

IOSDevice sampleDevice()
{
    IOSDevice d;
    d.deviceName = QStringLiteral("Kim's phone");
    d.uniqueDeviceId = QStringLiteral("0f1e2d3c4b5a69788796a5b4c3d2e1f00f1e2d3c");
    d.mobileSubscriberCountryCode = QStringLiteral("262");
    d.productVersion = QStringLiteral("6.1.3");
    d.productType = QStringLiteral("iPhone5,2");
    d.handle = reinterpret_cast<void *>(0x1234);
    return d;
}

QString iosCachePath()
{
    return appDataDir().filePath(QStringLiteral("ios_cache"));
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

TEST(IOSDeviceTest, ANewRecordHoldsNothing)
{
    const IOSDevice d;
    EXPECT_TRUE(d.deviceName.isNull());
    EXPECT_TRUE(d.uniqueDeviceId.isNull());
    EXPECT_TRUE(d.mobileSubscriberCountryCode.isNull());
    EXPECT_TRUE(d.productVersion.isNull());
    EXPECT_TRUE(d.productType.isNull());
    EXPECT_EQ(d.handle, nullptr);
    EXPECT_TRUE(d.versionNumbers().isEmpty());
}

TEST(IOSDeviceTest, CopiesAreIndependent)
{
    const IOSDevice original = sampleDevice();
    IOSDevice copied(original);
    IOSDevice assigned;
    assigned = original;

    for (IOSDevice *d : {&copied, &assigned}) {
        EXPECT_EQ(d->deviceName, original.deviceName);
        EXPECT_EQ(d->uniqueDeviceId, original.uniqueDeviceId);
        EXPECT_EQ(d->mobileSubscriberCountryCode, original.mobileSubscriberCountryCode);
        EXPECT_EQ(d->productVersion, original.productVersion);
        EXPECT_EQ(d->productType, original.productType);
        EXPECT_EQ(d->handle, original.handle);
        d->deviceName.append(QStringLiteral(" (changed)"));
        d->uniqueDeviceId = QStringLiteral("other");
        d->mobileSubscriberCountryCode.clear();
        d->productVersion[0] = QLatin1Char('7');
        d->productType = QString();
        d->handle = nullptr;
    }

    const IOSDevice expected = sampleDevice();
    EXPECT_EQ(original.deviceName, expected.deviceName);
    EXPECT_EQ(original.uniqueDeviceId, expected.uniqueDeviceId);
    EXPECT_EQ(original.mobileSubscriberCountryCode, expected.mobileSubscriberCountryCode);
    EXPECT_EQ(original.productVersion, expected.productVersion);
    EXPECT_EQ(original.productType, expected.productType);
    EXPECT_EQ(original.handle, expected.handle);
    EXPECT_EQ(copied.productVersion, QStringLiteral("7.1.3"));
}

TEST(IOSDeviceTest, VersionNumbersAreTheNumbersInOrder)
{
    const struct
    {
        QString version;
        QList<int> numbers;
    } cases[] = {
        {QStringLiteral("6.1.3"), {6, 1, 3}},
        {QStringLiteral("7.0"), {7, 0}},
        {QStringLiteral("10.3"), {10, 3}},
        {QStringLiteral("5"), {5}},
        {QStringLiteral("8.04"), {8, 4}},
        {QStringLiteral("9.3 beta 2"), {9, 3, 2}},
        {QStringLiteral("1..2"), {1, 2}},
        {QStringLiteral("beta"), {}},
        {QStringLiteral(""), {}},
        {QString(), {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.version.toStdString());
        IOSDevice d;
        d.productVersion = c.version;
        EXPECT_EQ(d.versionNumbers(), c.numbers);
    }
}

TEST(IOSDeviceTest, BackupsFromIOS10OnAreRefusedByName)
{
    // From iOS 10 on a backup lists its files in Manifest.db, which is not read.
    const struct
    {
        const char *version;
        bool readable;
    } cases[] = {{"4.3.5", true}, {"9.3.5", true}, {"", true}, {"beta", true}, {"10.0.2", false}, {"12.5.7", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.version);
        IOSDevice d = sampleDevice();
        d.productVersion = QString::fromLatin1(c.version);
        QString thrown;
        try {
            d.checkBackupReadable();
        } catch (const std::runtime_error &e) {
            thrown = QString::fromUtf8(e.what());
        }
        EXPECT_EQ(thrown.isEmpty(), c.readable) << thrown.toStdString();
        if (!c.readable) {
            EXPECT_TRUE(thrown.contains(QStringLiteral("iOS %1").arg(d.productVersion))) << thrown.toStdString();
            EXPECT_TRUE(thrown.contains(QLatin1String("Manifest.db"))) << thrown.toStdString();
        }
    }
}

TEST(IOSDeviceTest, TwoDevicesHaveTheirOwnCacheFolders)
{
    ASSERT_FALSE(QFileInfo::exists(iosCachePath()));
    IOSDevice first = sampleDevice();
    IOSDevice second = sampleDevice();
    second.uniqueDeviceId = QStringLiteral("a1b2c3d4e5f60718293a4b5c6d7e8f9012345678");

    const QDir a = first.cacheDir();
    const QDir b = second.cacheDir();
    EXPECT_EQ(a.absolutePath(), iosCachePath() + QLatin1Char('/') + first.uniqueDeviceId);
    EXPECT_EQ(b.absolutePath(), iosCachePath() + QLatin1Char('/') + second.uniqueDeviceId);
    EXPECT_TRUE(a.exists());
    EXPECT_TRUE(b.exists());
    QStringList expected{first.uniqueDeviceId, second.uniqueDeviceId};
    expected.sort();
    EXPECT_EQ(entriesOf(iosCachePath()), expected);

    // Asking again finds the same folder and keeps what it holds.
    QFile kept(a.filePath(QStringLiteral("kept")));
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
    kept.close();
    EXPECT_EQ(first.cacheDir().absolutePath(), a.absolutePath());
    EXPECT_TRUE(QFileInfo::exists(a.filePath(QStringLiteral("kept"))));
}

TEST(IOSDeviceTest, UnusualButSingleFolderNamesAreAccepted)
{
    for (const QString &id : {QStringLiteral("..."), QStringLiteral(".hidden"), QStringLiteral("name with spaces"),
                              QStringLiteral("ünïcödé")}) {
        SCOPED_TRACE(id.toStdString());
        IOSDevice d;
        d.uniqueDeviceId = id;
        const QDir dir = d.cacheDir();
        EXPECT_EQ(dir.dirName(), id);
        EXPECT_EQ(QFileInfo(dir.absolutePath()).absolutePath(), iosCachePath());
        EXPECT_TRUE(dir.exists());
    }
}

TEST(IOSDeviceTest, IdentifiersThatDoNotNameOneFolderAreRefused)
{
    const QString appData = appDataDir().absolutePath();
    const QStringList before = entriesOf(appData);
    const QString ids[] = {
        QString(),
        QStringLiteral(""),
        QStringLiteral("."),
        QStringLiteral(".."),
        QStringLiteral("../escaped"),
        QStringLiteral("../../escaped"),
        QStringLiteral("a/b"),
        QStringLiteral("trailing/"),
        QStringLiteral("/absolute/path"),
        QStringLiteral("back\\slash"),
        QString(QStringLiteral("nul%1byte")).arg(QChar(0)),
    };
    for (const QString &id : ids) {
        SCOPED_TRACE(id.toStdString());
        IOSDevice d = sampleDevice();
        d.uniqueDeviceId = id;
        EXPECT_THROW(d.cacheDir(), std::runtime_error);
    }
    // Nothing was created, neither inside the application-data folder nor beside it.
    EXPECT_EQ(entriesOf(appData), before);
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(appData).absolutePath() + QStringLiteral("/escaped")));
}

TEST(IOSDeviceTest, RefusalNamesTheIdentifierAsEscapedText)
{
    IOSDevice d;
    d.uniqueDeviceId = QStringLiteral("<b>x</b>/..");
    try {
        d.cacheDir();
        FAIL() << "no error";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("The device identifier \"&lt;b&gt;x&lt;/b&gt;/..\" cannot name a cache folder."));
    }
}

TEST(IOSDeviceTest, TheFolderIsReturnedEvenWhenItCannotBeCreated)
{
    // A file where the ios_cache folder belongs blocks every device folder.
    QFile blocker(iosCachePath());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    const IOSDevice d = sampleDevice();
    QDir dir;
    ASSERT_NO_THROW(dir = d.cacheDir());
    EXPECT_EQ(dir.absolutePath(), iosCachePath() + QLatin1Char('/') + d.uniqueDeviceId);
    EXPECT_FALSE(dir.exists());
}

} // namespace

// --- backup settings, against the simulated device library -----------------

#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QMessageBox>
#include <QTextDocument>

#include "MessageBoxAnswerer.h"
#include "SimFramework.h"

namespace
{

const QString kCloudWarning = QStringLiteral("Failed to transfer data to device. Please turn off iCloud backup on your iPhone to "
                                             "try again.<br/><br/><img src=\":res/close_icloudbk.jpg\"/>");
const QString kEncryptWarning = QStringLiteral(
    "Failed to transfer data to device. Your iTunes backup is encrypted. Please run iTunes on computer and then uncheck "
    "\"Encrypt iPhone backup\" option to try again.<br/><br/><img src=\":res/close_itunesbkenc.jpg\"/>");

QJsonObject settingsDevice(const char *id, const QJsonValue &cloud, const QJsonValue &encrypt, const QJsonObject &results = {})
{
    QJsonObject backup;
    if (!cloud.isNull())
        backup.insert("CloudBackupEnabled", cloud);
    if (!encrypt.isNull())
        backup.insert("WillEncrypt", encrypt);
    QJsonObject values{{"", QJsonObject{{"UniqueDeviceID", id}}}};
    if (!backup.isEmpty())
        values.insert("com.apple.mobile.backup", backup);
    return QJsonObject{{"id", id}, {"values", values}, {"results", results}};
}

class IOSDeviceBackupSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        scenario.write(QJsonObject{{"devices", QJsonArray{
                                                   settingsDevice("both", true, true),
                                                   settingsDevice("cloud", true, false),
                                                   settingsDevice("encrypt", false, true),
                                                   settingsDevice("none", false, false),
                                                   settingsDevice("nodomain", QJsonValue(), QJsonValue()),
                                                   settingsDevice("broken", true, true, {{"AMDeviceConnect", -402653183}}),
                                                   settingsDevice("numbers", 1, 1),
                                               }}});
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
        const QList<void *> arrived = subscribeAndWait(receiver, 7);
        ASSERT_EQ(arrived.size(), 7);
        const char *ids[] = {"both", "cloud", "encrypt", "none", "nodomain", "broken", "numbers"};
        for (int i = 0; i < 7; ++i)
            handles.insert(QLatin1String(ids[i]), arrived[i]);
    }

    SimScenarioFile scenario;
    DeviceReceiver receiver;
    QHash<QString, void *> handles;
};

TEST_F(IOSDeviceBackupSettingsTest, ASettingThatIsOnAndAskedForIsWarnedOf)
{
    const struct
    {
        const char *device;
        bool checkCloud;
        bool checkEncrypt;
        bool allowed;
        QString warning; // empty: no box
    } cases[] = {
        {"both", true, true, false, kCloudWarning}, // only the first setting found is named
        {"both", false, true, false, kEncryptWarning},
        {"both", false, false, true, QString()},
        {"cloud", true, false, false, kCloudWarning},
        {"cloud", false, true, true, QString()},
        {"encrypt", true, false, true, QString()}, // reading messages checks the cloud only
        {"encrypt", true, true, false, kEncryptWarning},
        {"none", true, true, true, QString()},
        {"nodomain", true, true, true, QString()},
        {"broken", true, true, true, QString()}, // no session, no check
        {"numbers", true, true, true, QString()}, // only booleans say "on"
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.device) + (c.checkCloud ? " cloud" : "") + (c.checkEncrypt ? " encrypt" : ""));
        MessageBoxAnswerer answerer;
        answerer.setDefaultAnswer(QMessageBox::Ok);
        IOSDevice d;
        d.uniqueDeviceId = QLatin1String(c.device);
        d.handle = handles.value(QLatin1String(c.device));
        EXPECT_EQ(d.checkBackupSettings(c.checkCloud, c.checkEncrypt), c.allowed);
        if (c.warning.isEmpty()) {
            EXPECT_TRUE(answerer.shown().isEmpty());
            continue;
        }
        ASSERT_EQ(answerer.shown().size(), 1);
        EXPECT_EQ(answerer.shown()[0].icon, int(QMessageBox::Warning));
        EXPECT_EQ(answerer.shown()[0].text, c.warning);
        EXPECT_EQ(answerer.shown()[0].textFormat, Qt::RichText);
    }
}

TEST(IOSDeviceBackupPicturesTest, ThePicturesOfTheWarningsLoad)
{
    for (const QString &warning : {kCloudWarning, kEncryptWarning}) {
        const QString source = warning.section(QLatin1Char('"'), -2, -2);
        SCOPED_TRACE(source.toStdString());
        EXPECT_FALSE(QImage(source).isNull());
        // The rich text of the box finds the picture by that name.
        QTextDocument document;
        document.setHtml(warning);
        const QVariant picture = document.resource(QTextDocument::ImageResource, QUrl(source));
        EXPECT_TRUE(picture.isValid());
    }
}

} // namespace
