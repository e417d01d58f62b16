#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "AppFolders.h"
#include "AppHomeFixture.h"
#include "PrivateFiles.h"

namespace
{

const QString kId = QStringLiteral("7A31C09E55D24fb8B1E6D0934C2AF7B1");

// Sets an environment variable for the life of the object, or unsets it,
// and puts the old state back.
class EnvScope
{
public:
    explicit EnvScope(const char *name) : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name)) {}
    ~EnvScope()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    void set(const QByteArray &value) { qputenv(m_name, value); }
    void unset() { qunsetenv(m_name); }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

// Points HOME and the data home at fresh folders of the test's own.
class AppFoldersTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(dataHome.isValid());
        homeVar.set(QFile::encodeName(home.path()));
        dataHomeVar.set(QFile::encodeName(dataHome.path()));
        homePath = QDir::homePath();
        ASSERT_EQ(homePath, QDir::cleanPath(home.path()));
        dataPath = QDir::cleanPath(dataHome.path());
    }

    void writeFile(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    // Every entry below folder, as paths relative to it, sorted.
    static QStringList tree(const QString &folder)
    {
        QStringList entries;
        QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            entries << QDir(folder).relativeFilePath(it.next());
        entries.sort();
        return entries;
    }

    QTemporaryDir home;
    QTemporaryDir dataHome;
    EnvScope homeVar{"HOME"};
    EnvScope dataHomeVar{"XDG_DATA_HOME"};
    QString homePath;
    QString dataPath;
};

TEST_F(AppFoldersTest, MakerFolderLiesInTheDataHome)
{
    struct Case {
        const char *name;
        const char *dataHome; // nullptr: unset; "@": the test's data home
        const char *expected; // "@data" or "@home" followed by the rest
    };
    const Case cases[] = {
        {"data home set", "@", "@data/Quenmarvile"},
        {"data home with a trailing slash", "@/", "@data/Quenmarvile"},
        {"data home unset", nullptr, "@home/.local/share/Quenmarvile"},
        {"data home empty", "", "@home/.local/share/Quenmarvile"},
        {"relative data home is ignored", "relative/share", "@home/.local/share/Quenmarvile"},
    };
    // A folder left over from a Windows-like layout changes nothing.
    QDir().mkpath(homePath + "/AppData/Roaming");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.dataHome)
            dataHomeVar.unset();
        else
            dataHomeVar.set(QByteArray(c.dataHome).replace("@", QFile::encodeName(dataPath)));
        const QString expected =
            QString::fromUtf8(c.expected).replace("@data", dataPath).replace("@home", homePath);
        EXPECT_EQ(roamingBaseDir(), expected);
        EXPECT_EQ(resolveAppDataDir(), expected + "/" + kId);
        EXPECT_EQ(redirectFilePath(), expected + "/" + kId + ".redirect");
        // Asking creates nothing.
        EXPECT_FALSE(QFileInfo::exists(roamingBaseDir()));
    }
    EXPECT_EQ(tree(homePath), QStringList({"AppData", "AppData/Roaming"}));
    EXPECT_TRUE(tree(dataPath).isEmpty());
}

TEST_F(AppFoldersTest, RedirectFileMovesTheFolderOnlyToAnExistingPath)
{
    const QString maker = dataPath + "/Quenmarvile";
    const QString redirect = maker + "/" + kId + ".redirect";
    EXPECT_EQ(redirectFilePath(), redirect);

    const QString target = homePath + "/elsewhere";
    const QString unicodeTarget = homePath + QStringLiteral("/Zoë's data");
    const QString plainFile = homePath + "/a-file";
    QDir().mkpath(target);
    QDir().mkpath(unicodeTarget);
    writeFile(plainFile, "x");

    struct Case {
        const char *name;
        QByteArray content; // empty and absent differ: see 'present'
        bool present;
        QString expectedRedirect;
        QString expectedAppData;
    };
    const QString fallback = maker + "/" + kId;
    const Case cases[] = {
        {"no redirect file", {}, false, {}, fallback},
        {"empty file", "", true, {}, fallback},
        {"existing folder", target.toUtf8(), true, target, target + "/" + kId},
        {"trailing line end is part of the path", target.toUtf8() + "\n", true, {}, fallback},
        {"leading blank is part of the path", " " + target.toUtf8(), true, {}, fallback},
        {"trailing slash", target.toUtf8() + "/", true, target + "/", target + "/" + kId},
        {"UTF-8 path", unicodeTarget.toUtf8(), true, unicodeTarget, unicodeTarget + "/" + kId},
        {"missing folder", (homePath + "/nowhere").toUtf8(), true, {}, fallback},
        {"an existing plain file counts as a path", plainFile.toUtf8(), true, plainFile, plainFile + "/" + kId},
        {"far too long to be a path", QByteArray(5000, 'a'), true, {}, fallback},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(redirect);
        if (c.present)
            writeFile(redirect, c.content);
        EXPECT_EQ(readRedirectDir(), c.expectedRedirect);
        EXPECT_EQ(resolveAppDataDir(), c.expectedAppData);
    }
}

TEST_F(AppFoldersTest, WriteRedirectDirReplacesTheContentAndCreatesNoFolder)
{
    const QString maker = dataPath + "/Quenmarvile";
    const QString redirect = maker + "/" + kId + ".redirect";

    writeRedirectDir(homePath);
    EXPECT_FALSE(QFileInfo::exists(maker));

    QDir().mkpath(maker);
    writeFile(redirect, "a much longer old content than the new path");
    const QString target = homePath + QStringLiteral("/dé");
    QDir().mkpath(target);
    writeRedirectDir(target);
    QFile f(redirect);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), target.toUtf8());
    EXPECT_EQ(readRedirectDir(), target);
}

TEST_F(AppFoldersTest, AppDataDirIsResolvedOnceAndCreatedOnEveryCall)
{
    const QDir first = appDataDir();
    EXPECT_TRUE(first.isAbsolute());
    EXPECT_TRUE(first.exists());
    EXPECT_EQ(first.dirName(), kId);

    EXPECT_EQ(first.path(), dataPath + "/Quenmarvile/" + kId);

    // A new home or data home does not move the folder while the process runs.
    QTemporaryDir other;
    homeVar.set(QFile::encodeName(other.path()));
    dataHomeVar.set(QFile::encodeName(other.path()));
    EXPECT_EQ(appDataDir().path(), first.path());
    EXPECT_TRUE(tree(other.path()).isEmpty());

    ASSERT_TRUE(QDir(first.path()).removeRecursively());
    EXPECT_TRUE(appDataDir().exists());

    const QDir local = localDatabasesDir();
    EXPECT_TRUE(local.exists());
    EXPECT_EQ(local.path(), first.path() + "/local_databases");
}

TEST_F(AppFoldersTest, AppDataDirIsMadeForTheUserAlone)
{
    // Whatever the umask lets through, the folder and the maker folder made
    // for it are the user's alone; the data home around them was there.
    const QString dataHomeMode = QString::number(permissionBits(dataPath), 8);
    const QDir folder = appDataDir();
    EXPECT_EQ(permissionBits(folder.path()), 0700);
    EXPECT_EQ(permissionBits(dataPath + "/Quenmarvile"), 0700);
    EXPECT_EQ(QString::number(permissionBits(dataPath), 8), dataHomeMode);

    // Made again after it went, the same way.
    ASSERT_TRUE(QDir(folder.path()).removeRecursively());
    EXPECT_EQ(permissionBits(appDataDir().path()), 0700);
}

// The folder is resolved once per process, so each of these stands alone.
TEST_F(AppFoldersTest, ARedirectToAPlainFileIsAFaultAndNothingIsMadeThere)
{
    const QString maker = dataPath + "/Quenmarvile";
    const QString plainFile = homePath + "/notes & <more>.txt";
    writeFile(plainFile, "kept as it is");
    writeFile(maker + "/" + kId + ".redirect", plainFile.toUtf8());

    const QString fault = appDataDirFault();
    EXPECT_TRUE(fault.contains(maker + "/" + kId + ".redirect")) << fault.toStdString();
    EXPECT_TRUE(fault.contains(plainFile + ", which is not a folder")) << fault.toStdString();

    EXPECT_EQ(AppHomeFixture::readFile(plainFile), QByteArray("kept as it is"));
    EXPECT_EQ(tree(homePath), QStringList({"notes & <more>.txt"}));
    EXPECT_EQ(tree(dataPath), QStringList({"Quenmarvile", "Quenmarvile/" + kId + ".redirect"}));
}

TEST_F(AppFoldersTest, AMakerFolderThatIsAPlainFileIsAFault)
{
    writeFile(dataPath + "/Quenmarvile", "x");
    EXPECT_EQ(appDataDirFault(),
              QStringLiteral("The data folder %1 cannot be created.").arg(dataPath + "/Quenmarvile/" + kId));
    EXPECT_EQ(tree(dataPath), QStringList({"Quenmarvile"}));
}

TEST_F(AppFoldersTest, ARedirectToAFolderIsNoFault)
{
    const QString target = homePath + "/elsewhere";
    QDir().mkpath(target);
    writeFile(dataPath + "/Quenmarvile/" + kId + ".redirect", target.toUtf8());
    EXPECT_EQ(appDataDirFault(), QString());
    EXPECT_TRUE(QFileInfo(target + "/" + kId).isDir());
}

} // namespace
