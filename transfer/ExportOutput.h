#pragma once

#include <QDir>
#include <QList>
#include <QSet>
#include <QString>

// What one export run writes, so that a cancel or an error removes exactly
// that, and a folder that existed before keeps everything it held.
//
// Files are written under fresh names beside their final ones and moved into
// place by commit, once every file is complete: until then an older file of
// the same name stays as it was, and a run that does not finish replaces
// nothing.
class ExportOutput
{
public:
    ExportOutput() = default;
    ExportOutput(const ExportOutput &) = delete;
    ExportOutput &operator=(const ExportOutput &) = delete;

    // Creates the folder and its missing parents, remembering the ones it
    // made. Throws std::runtime_error when the folder cannot be made.
    void makeFolder(const QString &path);

    // folder/<base><suffix>, or folder/<base>(<n>)<suffix> with the first
    // n = 1, 2, ... when an earlier file of this run took that name (letter
    // case ignored, as on the file systems exports are often copied to).
    QString freePath(const QDir &folder, const QString &base, const QString &suffix) const;

    // The path to write the file that commit moves to finalPath: a name
    // beside it that nothing uses yet.
    QString stage(const QString &finalPath);

    // Copies source to target unless something exists at target; the copy is
    // removed again by discard. False when nothing was copied.
    bool copyNew(const QString &source, const QString &target);

    // Moves every staged file onto its final path, replacing an older file
    // there. Throws std::runtime_error when a move fails.
    void commit();

    // Removes every staged file, every copy and every folder made, and the
    // files a failed commit had already moved to new names. False when
    // something could not be removed.
    bool discard();

private:
    struct Staged
    {
        QString part;
        QString final;
    };

    QList<Staged> m_staged;
    QSet<QString> m_claimed; // final paths, folded
    QStringList m_copies;
    QStringList m_folders; // in the order made
    QStringList m_committedNew;
};
