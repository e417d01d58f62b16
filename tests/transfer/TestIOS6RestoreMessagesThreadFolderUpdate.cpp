#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>

#include "BackupFolderUpdate.h"
#include "FolderSnapshot.h"
#include "MbdbFile.h"
#include "PrivateFiles.h"

namespace
{

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

MbdbRecord record(const QString &domain, const QString &path)
{
    MbdbRecord r;
    r.domain.setData(domain.toUtf8());
    r.path.setData(path.toUtf8());
    r.mode = 0x81A4;
    return r;
}

class BackupFolderUpdateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = QDir(dir.filePath(QStringLiteral("backup")));
        ASSERT_TRUE(folder.mkpath(QStringLiteral(".")));
        writeFile(folder.filePath(QStringLiteral("a")), "old a");
        writeFile(folder.filePath(QStringLiteral("other")), "untouched");
        writeFile(folder.filePath(QStringLiteral("Manifest.mbdb")), "old catalogue");
        writeFile(dir.filePath(QStringLiteral("new-a")), "new a");
        writeFile(dir.filePath(QStringLiteral("new-b")), "new b");
    }

    // Stages a replacement of "a", a new "b" and a new catalogue, in that
    // order; returns the staged paths.
    QStringList stageAll(BackupFolderUpdate &update)
    {
        QStringList staged;
        staged << update.stageCopy(dir.filePath(QStringLiteral("new-a")), QStringLiteral("a"));
        staged << update.stageCopy(dir.filePath(QStringLiteral("new-b")), QStringLiteral("b"));
        QList<MbdbRecord> records = {record(QStringLiteral("HomeDomain"), QStringLiteral("x"))};
        staged << update.stageCatalogue(records, QStringLiteral("Manifest.mbdb"));
        return staged;
    }

    QTemporaryDir dir;
    QDir folder;
};

TEST_F(BackupFolderUpdateTest, CommitPlacesEverythingAndKeepsWhatItReplaced)
{
    {
        BackupFolderUpdate update(folder);
        stageAll(update);
        update.commit(1000);
        EXPECT_EQ(update.keptPaths(), QStringList({folder.filePath(QStringLiteral("a-1000")),
                                                   folder.filePath(QStringLiteral("Manifest.mbdb-1000"))}));
    }
    EXPECT_EQ(readFile(folder.filePath(QStringLiteral("a"))), "new a");
    EXPECT_EQ(readFile(folder.filePath(QStringLiteral("b"))), "new b");
    EXPECT_EQ(readFile(folder.filePath(QStringLiteral("a-1000"))), "old a");
    EXPECT_EQ(readFile(folder.filePath(QStringLiteral("Manifest.mbdb-1000"))), "old catalogue");
    EXPECT_EQ(readMbdb(folder.filePath(QStringLiteral("Manifest.mbdb"))).size(), 1);
    EXPECT_EQ(folder.entryList(QDir::Files | QDir::Hidden, QDir::Name),
              QStringList({"Manifest.mbdb", "Manifest.mbdb-1000", "a", "a-1000", "b", "other"}));
}

TEST_F(BackupFolderUpdateTest, NewContentsAreNoMoreOpenThanWhatTheyReplaceOrTheirFolder)
{
    // A backup of the user's alone, whose sms.db the user made readable to
    // the group: each keeps what it had.
    ASSERT_TRUE(QFile::setPermissions(folder.path(), QFileDevice::Permissions(0x7700)));
    ASSERT_TRUE(QFile::setPermissions(folder.filePath(QStringLiteral("a")), QFileDevice::Permissions(0x6640)));
    ASSERT_TRUE(QFile::setPermissions(folder.filePath(QStringLiteral("Manifest.mbdb")), QFileDevice::Permissions(0x6600)));
    ASSERT_TRUE(QFile::setPermissions(dir.filePath(QStringLiteral("new-b")), QFileDevice::Permissions(0x6644)));
    {
        BackupFolderUpdate update(folder);
        stageAll(update);
        update.commit(1000);
    }
    EXPECT_EQ(permissionBits(folder.filePath(QStringLiteral("a"))), 0640);
    EXPECT_EQ(permissionBits(folder.filePath(QStringLiteral("Manifest.mbdb"))), 0600);
    EXPECT_EQ(permissionBits(folder.filePath(QStringLiteral("b"))), 0600) << "new in a private folder";
    // The kept copies are the files they were.
    EXPECT_EQ(permissionBits(folder.filePath(QStringLiteral("a-1000"))), 0640);

    // A folder others may read gets new files as the copy came.
    const QDir open(dir.filePath(QStringLiteral("open")));
    ASSERT_TRUE(open.mkpath(QStringLiteral(".")));
    ASSERT_TRUE(QFile::setPermissions(open.path(), QFileDevice::Permissions(0x7755)));
    {
        BackupFolderUpdate update(open);
        update.stageCopy(dir.filePath(QStringLiteral("new-b")), QStringLiteral("b"));
        update.commit(1000);
    }
    EXPECT_EQ(permissionBits(open.filePath(QStringLiteral("b"))), 0644);
}

TEST_F(BackupFolderUpdateTest, AKeptNameInUseMovesOnToTheNextSecond)
{
    writeFile(folder.filePath(QStringLiteral("a-1000")), "kept by an earlier run");
    {
        BackupFolderUpdate update(folder);
        update.stageCopy(dir.filePath(QStringLiteral("new-a")), QStringLiteral("a"));
        update.commit(1000);
    }
    EXPECT_EQ(readFile(folder.filePath(QStringLiteral("a-1000"))), "kept by an earlier run");
    EXPECT_EQ(readFile(folder.filePath(QStringLiteral("a-1001"))), "old a");
    EXPECT_EQ(readFile(folder.filePath(QStringLiteral("a"))), "new a");
}

TEST_F(BackupFolderUpdateTest, WithoutCommitTheFolderStaysAsItWas)
{
    const auto before = folderSnapshot(folder.absolutePath());
    {
        BackupFolderUpdate update(folder);
        stageAll(update);
    }
    const auto after = folderSnapshot(folder.absolutePath());
    EXPECT_EQ(before, after) << snapshotDifference(before, after).toStdString();
}

// A step of the commit that fails puts back what the steps before it did:
// the staged file of one entry vanishes before commit, so renaming it fails
// after the entries before it are in place.
TEST_F(BackupFolderUpdateTest, AFailedRenamePutsEverythingBack)
{
    const char *targets[] = {"a", "b", "Manifest.mbdb"};
    for (int failing = 0; failing < 3; ++failing) {
        SCOPED_TRACE(targets[failing]);
        const auto before = folderSnapshot(folder.absolutePath());
        QString error;
        {
            BackupFolderUpdate update(folder);
            const QStringList staged = stageAll(update);
            ASSERT_TRUE(QFile::remove(staged.at(failing)));
            try {
                update.commit(1000);
            } catch (const std::runtime_error &e) {
                error = QString::fromUtf8(e.what());
            }
        }
        EXPECT_EQ(error,
                  QStringLiteral("can not overwrite %1.").arg(folder.absoluteFilePath(QLatin1String(targets[failing]))));
        const auto after = folderSnapshot(folder.absolutePath());
        EXPECT_EQ(before, after) << snapshotDifference(before, after).toStdString();
    }
}

TEST_F(BackupFolderUpdateTest, AFileThatCannotBeKeptStopsTheCommitBeforeAnyChange)
{
    // A folder where the new "b" should go can be neither kept nor replaced.
    ASSERT_TRUE(folder.mkpath(QStringLiteral("b/inner")));
    const auto before = folderSnapshot(folder.absolutePath());
    QString error;
    {
        BackupFolderUpdate update(folder);
        stageAll(update);
        try {
            update.commit(1000);
        } catch (const std::runtime_error &e) {
            error = QString::fromUtf8(e.what());
        }
    }
    EXPECT_EQ(error, QStringLiteral("can not overwrite %1.").arg(folder.absoluteFilePath(QStringLiteral("b"))));
    const auto after = folderSnapshot(folder.absolutePath());
    EXPECT_EQ(before, after) << snapshotDifference(before, after).toStdString();
}

TEST_F(BackupFolderUpdateTest, StagingRefusesNamesOutsideTheFolderAndMissingSources)
{
    struct Case
    {
        const char *source;
        QString name;
    };
    const Case cases[] = {{"new-a", "../escape"},
                          {"new-a", "sub/file"},
                          {"new-a", ".."},
                          {"new-a", "."},
                          {"new-a", ""},
                          {"new-a", QStringLiteral("nul") + QChar(0) + QStringLiteral("name")},
                          {"missing", "c"}};
    const auto before = folderSnapshot(dir.path());
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.source) + " -> " + c.name.toStdString());
        BackupFolderUpdate update(folder);
        EXPECT_THROW(update.stageCopy(dir.filePath(QLatin1String(c.source)), c.name), std::runtime_error);
    }
    const auto after = folderSnapshot(dir.path());
    EXPECT_EQ(before, after) << snapshotDifference(before, after).toStdString();
}

} // namespace
