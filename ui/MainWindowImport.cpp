#include "MainWindow.h"

#include <QSharedPointer>

#include <exception>

#include "BackupManifest.h"
#include "CachedMessageDb.h"
#include "ITunesCacheSMSThread.h"
#include "LoadItunesBackupDlg.h"
#include "MessageBoxes.h"
#include "MsgDataSet.h"
#include "PasscodeDlg.h"
#include "ProgressForm.h"
#include "WorkerStage.h"
#include "_LocalDBItemNode.h"

void MainWindow::miImportItunes()
{
    QString targetName;
    importMessages(targetName);
}

void MainWindow::miImportToLocalDb()
{
    const AbsTreeItemModel::_ItemNode *node = currentNode();
    if (!node || node->type != _LocalDBItemNode::Type)
        return;
    QString targetName = node->name;
    importMessages(targetName);
}

void MainWindow::importMessages(QString &targetName)
{
    QSharedPointer<BackupManifest> backup;
    {
        LoadItunesBackupDlg chooser(this);
        if (chooser.exec() != QDialog::Accepted)
            return;
        backup = chooser.selectedBackup();
    }
    if (!backup)
        return;

    if (backup->info.isEncrypted) {
        PasscodeDlg passcode(backup.data(), this);
        if (passcode.exec() != QDialog::Accepted)
            return;
    }

    try {
        backup->loadFiles();
    } catch (const std::exception &e) {
        showError(QString::fromUtf8(e.what()));
        return;
    }

    QDir cacheDir;
    {
        // The worker tells of its failure itself; a cancel needs no word.
        ProgressForm form(QString(), this);
        ITunesCacheSMSThread thread(backup.data(), &form, this);
        if (!runWorkerStage(form, thread))
            return;
        cacheDir = thread.cacheDir();
    }

    try {
        const QSharedPointer<AbsMessageDb> db = openCachedMessageDb(cacheDir, QString());
        MsgDataSet set = MsgDataSet::create();
        db->messages(set, 0);
        // The cached copy is not needed open while the messages are stored.
        db->close();
        if (targetName.isEmpty())
            targetName = backup->info.deviceName + QStringLiteral("_Backup");
        backupMessagesToLocalDb(targetName, set.messageList());
    } catch (const std::exception &e) {
        qWarning("%s", e.what());
        showError(QString::fromUtf8(e.what()));
    }
}
