#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

#include "MobileDeviceFramework.h"

// The loader's state lives for the whole process; every test runs in a
// process of its own, so each one starts with nothing loaded.

namespace
{

const QString kFakeFrameworkDir = QStringLiteral(LARKSPAN_FAKE_FRAMEWORK_DIR);
const QString kFailedMobileDevice = QStringLiteral("Failed to load (Mobile Device) framework.");
const QString kFailedCoreFoundation = QStringLiteral("Failed to load (CoreFoundation) framework.");

QString deviceLibraryDir()
{
    return kFakeFrameworkDir + QStringLiteral("/mobiledevice");
}

QString coreFoundationDir()
{
    return kFakeFrameworkDir + QStringLiteral("/corefoundation");
}

QString besideExecutable(const char *relative)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(relative);
}

// A null value unsets the variable; an empty one sets it empty.
void setVariable(const char *name, const QString &value)
{
    if (value.isNull())
        qunsetenv(name);
    else
        qputenv(name, QFile::encodeName(value));
}

void setInstallDirs(const QString &deviceDir, const QString &supportDir)
{
    setVariable(kMobileDeviceDirVariable, deviceDir);
    setVariable(kApplicationSupportDirVariable, supportDir);
}

QString path()
{
    return qEnvironmentVariable("PATH");
}

using Fn = int (*)(void *);
using TypeIdFn = unsigned long (*)(const void *);
using BooleanTypeIdFn = unsigned long (*)();

class MobileDeviceFrameworkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(empty.isValid());
        ASSERT_TRUE(unloadable.isValid());
        // Files with the libraries' names that are no libraries at all.
        for (const char *name : {"libiTunesMobileDevice.so", "libCoreFoundation.so"}) {
            QFile f(unloadable.filePath(QLatin1String(name)));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("not a shared library\n");
        }
        ASSERT_TRUE(QFile::exists(deviceLibraryDir() + QStringLiteral("/libiTunesMobileDevice.so")));
        ASSERT_TRUE(QFile::exists(coreFoundationDir() + QStringLiteral("/libCoreFoundation.so")));
        setInstallDirs(QString(), QString());
    }

    QTemporaryDir empty;
    QTemporaryDir unloadable;
};

// --- where the libraries are found, and what a failure leaves behind ------

enum class Folder { Unset, DeviceLibrary, CoreFoundation, Empty, Unloadable };

struct LoadCase
{
    const char *name;
    Folder deviceDir;
    Folder supportDir;
    bool loaded;
    const char *error; // expected text, or the untouched preset on success
    bool deviceLibraryLoaded;
    bool coreFoundationLoaded;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const LoadCase &c, std::ostream *os)
{
    *os << c.name;
}

const LoadCase kLoadCases[] = {
    {"EachInItsOwnFolder", Folder::DeviceLibrary, Folder::CoreFoundation, true, "untouched", true, true},
    {"FoldersSwapped", Folder::CoreFoundation, Folder::DeviceLibrary, true, "untouched", true, true},
    {"NeitherFound", Folder::Empty, Folder::Empty, false, "Failed to load (Mobile Device) framework.", false, false},
    {"OnlyDeviceLibraryFound", Folder::DeviceLibrary, Folder::Empty, false, "Failed to load (CoreFoundation) framework.", true,
     false},
    // CoreFoundation is not even tried once the device library is missing.
    {"OnlyCoreFoundationFound", Folder::Empty, Folder::CoreFoundation, false, "Failed to load (Mobile Device) framework.", false,
     false},
    // A file of the right name that does not load is passed over for the next folder.
    {"UnloadableFileInFirstFolder", Folder::Unloadable, Folder::DeviceLibrary, false, "Failed to load (CoreFoundation) framework.",
     true, false},
    // Nothing is installed beside the test runner.
    {"NoVariablesAndNothingBesideExecutable", Folder::Unset, Folder::Unset, false, "Failed to load (Mobile Device) framework.",
     false, false},
};

class LoadOutcome : public MobileDeviceFrameworkTest, public ::testing::WithParamInterface<LoadCase>
{
protected:
    QString folder(Folder f) const
    {
        switch (f) {
        case Folder::Unset:
            return QString();
        case Folder::DeviceLibrary:
            return deviceLibraryDir();
        case Folder::CoreFoundation:
            return coreFoundationDir();
        case Folder::Empty:
            return empty.path();
        case Folder::Unloadable:
            return unloadable.path();
        }
        return QString();
    }
};

TEST_P(LoadOutcome, ResultMessageAndLoadedLibraries)
{
    const LoadCase &c = GetParam();
    setInstallDirs(folder(c.deviceDir), folder(c.supportDir));

    QString error = QStringLiteral("untouched");
    EXPECT_EQ(mobiledevice_load_frameworks(error), c.loaded);
    EXPECT_EQ(error, QString::fromLatin1(c.error));
    EXPECT_EQ(mobiledevice_frameworks_loaded(), c.loaded);
    EXPECT_EQ(amd_resolve("AMDeviceConnect") != nullptr, c.deviceLibraryLoaded);
    EXPECT_EQ(cf_resolve("CFRelease") != nullptr, c.coreFoundationLoaded);
}

INSTANTIATE_TEST_SUITE_P(Folders, LoadOutcome, ::testing::ValuesIn(kLoadCases),
                         [](const ::testing::TestParamInfo<LoadCase> &info) { return std::string(info.param.name); });

// --- resolution by name ----------------------------------------------------

TEST_F(MobileDeviceFrameworkTest, NothingResolvesBeforeLoading)
{
    EXPECT_FALSE(mobiledevice_frameworks_loaded());
    EXPECT_EQ(amd_resolve("AMDeviceConnect"), nullptr);
    EXPECT_EQ(cf_resolve("CFRelease"), nullptr);
    EXPECT_EQ(cf_resolve("kCFBooleanTrue"), nullptr);
}

TEST_F(MobileDeviceFrameworkTest, NamesResolveOnlyInTheirOwnLibrary)
{
    setInstallDirs(deviceLibraryDir(), coreFoundationDir());
    QString error;
    ASSERT_TRUE(mobiledevice_load_frameworks(error)) << error.toStdString();

    struct Case
    {
        void *(*resolve)(const char *);
        const char *name;
        bool found;
    };
    const Case cases[] = {
        {amd_resolve, "AMDeviceNotificationSubscribe", true},
        {amd_resolve, "AMDeviceConnect", true},
        {amd_resolve, "AMDeviceCopyValue", false},
        {amd_resolve, "amdeviceconnect", false},
        {amd_resolve, "CFRelease", false},
        {amd_resolve, "", false},
        {amd_resolve, nullptr, false},
        {cf_resolve, "CFRelease", true},
        {cf_resolve, "kCFBooleanTrue", true},
        {cf_resolve, "kCFBooleanFalse", true},
        {cf_resolve, "kCFTypeArrayCallBacks", false},
        {cf_resolve, "AMDeviceConnect", false},
        {cf_resolve, nullptr, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        EXPECT_EQ(c.resolve(c.name) != nullptr, c.found);
    }
}

TEST_F(MobileDeviceFrameworkTest, ResolvedAddressesAreTheFunctionsAndObjects)
{
    setInstallDirs(deviceLibraryDir(), coreFoundationDir());
    QString error;
    ASSERT_TRUE(mobiledevice_load_frameworks(error)) << error.toStdString();

    const auto connect = reinterpret_cast<Fn>(amd_resolve("AMDeviceConnect"));
    ASSERT_NE(connect, nullptr);
    EXPECT_EQ(connect(nullptr), -402653183);

    // A data symbol resolves to the address of the exported object, which
    // holds the value itself.
    const auto trueValue = static_cast<const void *const *>(cf_resolve("kCFBooleanTrue"));
    const auto falseValue = static_cast<const void *const *>(cf_resolve("kCFBooleanFalse"));
    const auto typeOf = reinterpret_cast<TypeIdFn>(cf_resolve("CFGetTypeID"));
    const auto booleanType = reinterpret_cast<BooleanTypeIdFn>(cf_resolve("CFBooleanGetTypeID"));
    ASSERT_NE(trueValue, nullptr);
    ASSERT_NE(falseValue, nullptr);
    ASSERT_NE(typeOf, nullptr);
    ASSERT_NE(booleanType, nullptr);
    EXPECT_NE(*trueValue, *falseValue);
    EXPECT_EQ(typeOf(*trueValue), booleanType());
    EXPECT_EQ(typeOf(*falseValue), booleanType());
    EXPECT_NE(typeOf(trueValue), booleanType());
}

// --- install folders and PATH ----------------------------------------------

TEST_F(MobileDeviceFrameworkTest, ReadInstallDirGivesTheVariableAsWritten)
{
    const struct
    {
        QString value;
        QString expected;
    } cases[] = {
        {QStringLiteral("/opt/Mobile Device Support"), QStringLiteral("/opt/Mobile Device Support")},
        {QStringLiteral(" /padded/ "), QStringLiteral(" /padded/ ")},
        {QStringLiteral("relative/dir"), QStringLiteral("relative/dir")},
        {QStringLiteral("/ünïcode/dir"), QStringLiteral("/ünïcode/dir")},
        {QStringLiteral(""), QStringLiteral("")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value.toStdString());
        setVariable(kMobileDeviceDirVariable, c.value);
        EXPECT_EQ(readInstallDir(kMobileDeviceDirVariable), c.expected);
    }
    qunsetenv(kMobileDeviceDirVariable);
    EXPECT_TRUE(readInstallDir(kMobileDeviceDirVariable).isNull());
    EXPECT_TRUE(readInstallDir(nullptr).isNull());
}

TEST_F(MobileDeviceFrameworkTest, FoldersGoInFrontOfPathEachFromItsOwnVariable)
{
    const QString deviceFallback = besideExecutable("Apple/Mobile Device Support");
    const QString supportFallback = besideExecutable("Apple/Apple Application Support");
    const QString unset; // null: the variable is removed

    const struct
    {
        const char *name;
        QString deviceDir;
        QString supportDir;
        QString oldPath;
        QString expected;
    } cases[] = {
        {"BothSet", QStringLiteral("/md"), QStringLiteral("/as"), QStringLiteral("/usr/bin:/bin"),
         QStringLiteral("/md:/as:/usr/bin:/bin")},
        {"DeviceUnset", unset, QStringLiteral("/as"), QStringLiteral("/usr/bin"), deviceFallback + QStringLiteral(":/as:/usr/bin")},
        {"SupportUnset", QStringLiteral("/md"), unset, QStringLiteral("/usr/bin"), QStringLiteral("/md:") + supportFallback + QStringLiteral(":/usr/bin")},
        {"DeviceEmpty", QStringLiteral(""), QStringLiteral("/as"), QStringLiteral("/usr/bin"), deviceFallback + QStringLiteral(":/as:/usr/bin")},
        {"BothUnset", unset, unset, QStringLiteral("/usr/bin"), deviceFallback + QLatin1Char(':') + supportFallback + QStringLiteral(":/usr/bin")},
        {"KeptAsWritten", QStringLiteral("/opt/a b/"), QStringLiteral("rel"), QStringLiteral("/usr/bin"),
         QStringLiteral("/opt/a b/:rel:/usr/bin")},
        // No trailing separator: an empty entry would search the current directory.
        {"OldPathEmpty", QStringLiteral("/md"), QStringLiteral("/as"), QStringLiteral(""), QStringLiteral("/md:/as")},
        {"OldPathUnset", QStringLiteral("/md"), QStringLiteral("/as"), unset, QStringLiteral("/md:/as")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        setInstallDirs(c.deviceDir, c.supportDir);
        setVariable("PATH", c.oldPath);
        QString error;
        EXPECT_FALSE(mobiledevice_load_frameworks(error));
        EXPECT_EQ(error, kFailedMobileDevice);
        EXPECT_EQ(path(), c.expected);
    }
}

TEST_F(MobileDeviceFrameworkTest, EveryCallPrependsTheFoldersAgain)
{
    setInstallDirs(deviceLibraryDir(), coreFoundationDir());
    qputenv("PATH", "/usr/bin");
    const QString folders = deviceLibraryDir() + QLatin1Char(':') + coreFoundationDir();

    QString error;
    ASSERT_TRUE(mobiledevice_load_frameworks(error)) << error.toStdString();
    EXPECT_EQ(path(), folders + QStringLiteral(":/usr/bin"));
    ASSERT_TRUE(mobiledevice_load_frameworks(error)) << error.toStdString();
    EXPECT_EQ(path(), folders + QLatin1Char(':') + folders + QStringLiteral(":/usr/bin"));
    EXPECT_TRUE(mobiledevice_frameworks_loaded());
}

TEST_F(MobileDeviceFrameworkTest, ALaterCallLoadsWhatWasMissingAndKeepsWhatLoaded)
{
    setInstallDirs(deviceLibraryDir(), empty.path());
    QString error;
    EXPECT_FALSE(mobiledevice_load_frameworks(error));
    EXPECT_EQ(error, kFailedCoreFoundation);
    EXPECT_FALSE(mobiledevice_frameworks_loaded());
    void *const connect = amd_resolve("AMDeviceConnect");
    ASSERT_NE(connect, nullptr);

    // The device library is no longer reachable, but the one already loaded
    // stays loaded.
    setInstallDirs(empty.path(), coreFoundationDir());
    error.clear();
    EXPECT_TRUE(mobiledevice_load_frameworks(error)) << error.toStdString();
    EXPECT_TRUE(error.isEmpty());
    EXPECT_TRUE(mobiledevice_frameworks_loaded());
    EXPECT_EQ(amd_resolve("AMDeviceConnect"), connect);
    EXPECT_NE(cf_resolve("CFRelease"), nullptr);
}

} // namespace
