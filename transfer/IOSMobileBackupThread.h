#pragma once

#include <QDir>
#include <QString>
#include <QThread>

class IOSDevice;
class backup2tool;

// Takes a full backup of a connected device with the device backup tool into
// <temporary backup root>/<device id>. An earlier backup there is kept for
// the tool to bring up to date when it is complete (Status.plist says
// "finished") and of the device's present system version; any other earlier
// folder is removed first.
//
// Runs under a progress dialog (any object with its slots and userCacel()
// signal, reached through ProgressForm's posting functions); Cancel stops the
// tool. It ends the dialog with success or with an error, and posts nothing
// after a cancel. After an error the device's backup folder is removed; after
// a success or a cancel it stays for the next stages and the next backup.
//
// Constructed, run and destroyed as every worker: the device record must
// outlive the thread and nobody changes it while the thread runs.
class IOSMobileBackupThread : public QThread
{
    Q_OBJECT

public:
    IOSMobileBackupThread(IOSDevice *device, QObject *form, QObject *parent = nullptr);
    ~IOSMobileBackupThread() override;

    // The temporary backup root; the device's backup is the folder named by
    // its id in it.
    QDir &backupDir() { return m_backupDir; }

    // <root>/<id>; throws std::runtime_error for an id that cannot name a
    // single folder (empty, ".", "..", holding a path separator or NUL).
    static QString deviceBackupPath(const QDir &root, const QString &deviceId);

    // Whether an earlier backup in folder may be brought up to date for a
    // device of the system version: its three catalogue files are there, its
    // snapshot is "finished" and it was taken of that version.
    static bool isReusableBackup(const QString &folder, const QString &productVersion);

protected:
    void run() override;

protected slots:
    void backupUpdate(double pg, QString status1, QString status2);

private:
    IOSDevice *device;
    QObject *form;
    QDir m_backupDir;
    backup2tool *tool = nullptr;
};
