#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QList>
#include <QString>
#include <QStringList>

#include "MbdbRecord.h"

// Changes files of a user's backup folder all together or not at all.
//
// Each new content is first written in full beside its target under a
// temporary name (staged), with the mode of the file it replaces (a file new
// to the folder no more open than the folder). commit() then keeps every file about to be
// replaced under "<name>-<seconds>" and renames the staged files into place,
// in the order they were staged, so the catalogue staged last switches the
// backup over only once everything it names is there. When a step of commit
// fails, what it had renamed is put back and the kept copies go again: the
// folder is as it was. Until commit succeeds the folder holds nothing new but
// the temporary files, which the destructor removes.
class BackupFolderUpdate
{
    Q_DECLARE_TR_FUNCTIONS(BackupFolderUpdate)

public:
    explicit BackupFolderUpdate(const QDir &folder);
    ~BackupFolderUpdate();
    BackupFolderUpdate(const BackupFolderUpdate &) = delete;
    BackupFolderUpdate &operator=(const BackupFolderUpdate &) = delete;

    // Where a file of this name is stored in the folder.
    QString targetPath(const QString &name) const;
    bool isStaged(const QString &name) const;

    // Copies localFile as the new content of name, a plain file name of the
    // folder; staging a name again replaces what was staged for it. Returns
    // the staged file. Throws std::runtime_error "can not overwrite %1." with
    // the target's path.
    QString stageCopy(const QString &localFile, const QString &name);
    // Writes the catalogue as the new content of name (sorting the records,
    // as the writer does). Throws the writer's std::runtime_error.
    QString stageCatalogue(QList<MbdbRecord> &records, const QString &name);

    // Puts the staged files into place. A file replaced is kept under
    // "<name>-<stamp>", or the next free number of seconds after stamp when
    // that name is taken. Throws std::runtime_error "can not overwrite %1."
    // naming the file that could not be kept or placed; the folder is then as
    // it was before.
    void commit(qint64 stamp);

    // The paths under which commit kept the files it replaced.
    const QStringList &keptPaths() const { return m_kept; }

private:
    struct Entry
    {
        QString name;
        QString target;
        QString staged;
        QString kept; // set once the replaced file has been kept
        bool placed = false;
    };

    [[noreturn]] void fail(const QString &target) const;
    // The entry of name, made when new; throws for a name that is not a
    // plain file name.
    Entry &entryFor(const QString &name);
    void rollBack();

    QDir m_folder;
    QList<Entry> m_entries;
    QStringList m_kept;
    bool m_committed = false;
};
