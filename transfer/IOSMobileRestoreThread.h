#pragma once

#include <QDir>
#include <QString>
#include <QThread>

class IOSDevice;
class backup2tool;

// Restores the backup <backupRoot>/<device id> to the device with the device
// backup tool, and turns the tool's known refusals into what the user has to
// do. It changes no folder.
//
// Runs under a progress dialog as IOSMobileBackupThread does: Cancel stops
// the tool; it ends the dialog with success or with an error, and posts
// nothing after a cancel.
class IOSMobileRestoreThread : public QThread
{
    Q_OBJECT

public:
    IOSMobileRestoreThread(IOSDevice *device, const QDir &backupRoot, QObject *form, QObject *parent = nullptr);
    ~IOSMobileRestoreThread() override;

    // The error text shown for a failure of the tool whose text is given.
    static QString restoreErrorText(const QString &toolText);

protected:
    void run() override;

protected slots:
    void backupUpdate(double pg, QString status1, QString status2);

private:
    IOSDevice *device;
    QDir backupRoot;
    QObject *form;
    backup2tool *tool = nullptr;
};
