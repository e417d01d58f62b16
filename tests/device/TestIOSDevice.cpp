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
