#pragma once

#include <QDir>
#include <QList>
#include <QString>

// Device backups are taken into one temporary folder, "__quenmarvile_iosbk_temp",
// at the root of the volume with the most free space among the mounted,
// writable, local file systems. The choice is remembered in the file
// "__quenmarvile_iosbk_temp.path" of the application-data folder (the chosen
// root as an absolute folder path, in UTF-8) and kept for as long as that
// file names an existing folder, whatever its free space; without it the
// next backup chooses again.

inline constexpr char kTempBackupFolderName[] = "__quenmarvile_iosbk_temp";
inline constexpr char kTempBackupPathFileName[] = "__quenmarvile_iosbk_temp.path";

// One volume a temporary backup could go to.
struct TempBackupVolume
{
    QString rootPath;
    quint64 freeBytes = 0;
};

// The mounted volumes that are ready, writable and hold a local file system
// (no network, memory or pseudo file systems), in the system's order.
QList<TempBackupVolume> localWritableVolumes();

// The root of the first volume with the most free space (strictly more than
// none) in which a test folder can be made and removed again; fallback when
// there is none.
QString chooseTempBackupVolume(const QList<TempBackupVolume> &volumes, const QString &fallback);

// The temporary backup root: the remembered choice, or a new one made among
// the local writable volumes (else the user's home folder, since a volume's
// root is rarely writable to a user) and written to the path file. Nothing is
// created but the path file; the backup tool makes the folder it needs.
QDir tempBackupRoot();
// The same, choosing among the given volumes.
QDir tempBackupRoot(const QList<TempBackupVolume> &volumes, const QString &fallback);

// The temporary backup root when a choice is remembered and the folder is
// there; empty otherwise. Chooses and writes nothing.
QString existingTempBackupRoot();

// Removes the temporary backup root with everything in it, then the path
// file. False when something could not be removed; failedPath (when given)
// then names it.
bool clearTempBackupRoot(QString *failedPath = nullptr);
