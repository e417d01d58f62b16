#include "MainWindow.h"

#include <QMetaObject>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QThread>
#include <QtDebug>

#include <list>
#include <stdexcept>

#include "AbsIOSMessageDb.h"
#include "BackupManifest.h"
#include "CachedMessageDb.h"
#include "CFType.h"
#include "CountryLibDb.h"
#include "HtmlEscape.h"
#include "IOS6MessageDb.h"
#include "IOSDevice.h"
#include "IOSLoadFileRelayThread.h"
#include "IOS6RestoreMessagesThread.h"
#include "IOSMobileBackupThread.h"
#include "IOSMobileRestoreThread.h"
#include "ITunesCacheSMSThread.h"
#include "LoadItunesBackupDlg.h"
#include "ItemModelMain.h"
#include "Lockdown.h"
#include "MessageBoxes.h"
#include "MobileDeviceFramework.h"
#include "PasscodeDlg.h"
#include "ProgressForm.h"
#include "ServiceUrl.h"
#include "WorkerStage.h"
#include "_ChatSessionItemNode.h"
#include "_IOSDeviceItemNode.h"
#include "_RootDeviceItemNode.h"
#include "device_notification_target.h"

namespace
{

using Node = AbsTreeItemModel::_ItemNode;

// Whether the country library knows the code. A library that cannot be
// read is no reason to ask: the code then counts as known.
bool isKnownCountry(const QString &mcc)
{
    if (mcc.isEmpty())
        return false;
    try {
        CountryLibDb countries{QString()};
        bool found = false;
        countries.countryByMmc(mcc, &found);
        return found;
    } catch (...) {
        return true;
    }
}

// Devices load through a file transfer up to system 7 (or when the version
// has no number), through a device backup from system 8 on and before 5.
bool loadsByFileRelay(const IOSDevice &device)
{
    const QList<int> numbers = device.versionNumbers();
    return numbers.isEmpty() || (numbers.first() >= 5 && numbers.first() <= 7);
}

// Nothing chosen, nothing to write: said before any question is asked, so
// that no phone is backed up and restored and no backup rewritten for none.
bool hasMessagesToWrite(const QList<_MsgMessage *> &messages)
{
    if (!messages.isEmpty())
        return true;
    showInformation(MainWindow::tr("IDS_CAN_NOT_FOUND_AND_MESSAGES"));
    return false;
}

// No message can be merged into the older sms.db of a phone before iOS 6.
// A backup that names its system is known by that; one that does not is
// known by its cached sms.db.
bool isBackupBeforeIOS6(const BackupManifest &backup)
{
    static const QRegularExpression major(QStringLiteral("^\\s*(\\d+)"));
    const QRegularExpressionMatch match = major.match(backup.info.productVersion);
    return match.hasMatch() && match.captured(1).toInt() < 6;
}

bool isCachedBeforeIOS6(const QDir &cacheDir)
{
    try {
        return AbsIOSMessageDb::dbVersion(cacheDir.absoluteFilePath(QLatin1String(kCachedSmsDbPath))) < 6;
    } catch (const std::exception &) {
        // The merge opens the file itself and tells what is wrong with it.
        return false;
    }
}

} // namespace

void MainWindow::subscribeToDevices()
{
    if (!mobiledevice_frameworks_loaded())
        return;
    // The framework keeps the target for the rest of the process: the
    // subscription is never cancelled. The list is never freed for that
    // reason, and a window that goes is no longer called (the target guards
    // its receiver).
    static auto *targets = new std::list<device_notification_target>();
    targets->emplace_back(this, "iosDeviceConnected", "iosDeviceDisconnected");
    try {
        const int result = mobiledevice_subscribe(&targets->back());
        if (result != 0)
            qWarning("device notification subscription failed: %d", result);
    } catch (const std::exception &e) {
        qWarning("%s", e.what());
        showError(QString::fromUtf8(e.what()));
    }
}

void MainWindow::iosDeviceConnected(void *p)
{
    if (!p)
        return;
    // A device that arrives while another is being loaded waits its turn:
    // its boxes and dialogs would otherwise run inside the other's.
    if (m_arrivingDevice) {
        if (p != m_arrivingDevice && !m_waitingDevices.contains(p))
            m_waitingDevices.append(p);
        return;
    }
    m_arrivingDevice = p;
    m_arrivingDeviceLeft = false;
    loadArrivedDevice(p);
    m_arrivingDevice = nullptr;
    m_arrivingDeviceLeft = false;

    if (!m_waitingDevices.isEmpty()) {
        void *next = m_waitingDevices.takeFirst();
        QMetaObject::invokeMethod(
            this, [this, next]() { iosDeviceConnected(next); }, Qt::QueuedConnection);
    }
}

void MainWindow::loadArrivedDevice(void *p)
{
    try {
        showInformation(tr("<p><b>Notes:</b> If your iPhone is protected with a passcode, please enter your passcode "
                           "on iPhone first.</p>"));
        if (m_arrivingDeviceLeft)
            return;

        IOSDevice device;
        const QList<CFType> values = mobiledevice_copy_values(
            p,
            {QStringLiteral("UniqueDeviceID"), QStringLiteral("DeviceName"), QStringLiteral("MobileSubscriberCountryCode"),
             QStringLiteral("ProductVersion"), QStringLiteral("ProductType")},
            QString());
        const auto text = [&values](int i) { return i < values.size() ? values.at(i).stringValue() : QString(); };
        device.uniqueDeviceId = text(0);
        device.deviceName = text(1);
        device.mobileSubscriberCountryCode = text(2);
        device.productVersion = text(3);
        device.productType = text(4);
        device.handle = p;

        if (!isKnownCountry(device.mobileSubscriberCountryCode)) {
            QString note = tr("IDS_ANDROID_%1_CANT_READ_MMC_NUMBER");
            if (note.contains(QLatin1String("%1")))
                note = note.arg(htmlEscape(device.deviceName));
            showInformation(note);
            askCountryCode(device.mobileSubscriberCountryCode);
        }
        // An identifier that cannot name a cache folder stops the road
        // before anything is copied.
        device.cacheDir();

        if (m_arrivingDeviceLeft || !copyDeviceDatabases(device) || m_arrivingDeviceLeft)
            return;
        addArrivedDevice(device);
    } catch (const std::exception &e) {
        qWarning("%s", e.what());
        // A device that was unplugged on the way fails whatever is asked of
        // it next; that is no error to show.
        if (!m_arrivingDeviceLeft)
            showError(QString::fromUtf8(e.what()));
    }
}

bool MainWindow::copyDeviceDatabases(IOSDevice &device)
{
    if (!loadsByFileRelay(device))
        return copyDeviceDatabasesByBackup(device);
    ProgressForm form(QString(), this);
    IOSLoadFileRelayThread worker(&device, &form, this);
    return runDeviceStage(form, worker, device.handle);
}

bool MainWindow::copyDeviceDatabasesByBackup(IOSDevice &device)
{
    device.checkBackupReadable();
    if (!device.checkBackupSettings(true, false))
        return false;

    ProgressForm backupForm(QString(), this);
    IOSMobileBackupThread backup(&device, &backupForm, this);
    if (!runDeviceStage(backupForm, backup, device.handle) || m_arrivingDeviceLeft)
        return false;

    // The backup stays where it is for the next backup to bring up to date;
    // clearing the cache removes it.
    ProgressForm cacheForm(QString(), this);
    BackupManifest manifest(backup.backupDir().absoluteFilePath(device.uniqueDeviceId), this);
    try {
        manifest.loadInfo();
        if (manifest.info.isEncrypted) {
            PasscodeDlg passcode(&manifest, this);
            if (passcode.exec() != 1)
                return false;
        }
        manifest.loadFiles();
    } catch (const std::exception &e) {
        showError(QString::fromUtf8(e.what()));
        return false;
    }
    ITunesCacheSMSThread cache(&manifest, device.cacheDir(), &cacheForm, this);
    return runDeviceStage(cacheForm, cache, device.handle);
}

void MainWindow::addArrivedDevice(const IOSDevice &device)
{
    const QDir cacheDir = device.cacheDir();
    const QSharedPointer<AbsMessageDb> db = openCachedMessageDb(cacheDir, device.mobileSubscriberCountryCode);

    _IOSDeviceItemNode *node =
        m_mainModel->addDevice(db, QSharedPointer<const IOSDevice>::create(device), device.deviceName);
    try {
        db->chats(node->dataSet);
    } catch (const std::exception &e) {
        // The device stays listed, without conversations.
        showError(tr("%1, line:%2").arg(QString::fromUtf8(e.what())).arg(404));
        return;
    }
    m_mainModel->loadChatSessions(node);
    selectNode(node);
}

void MainWindow::iosDeviceDisconnected(void *p)
{
    // Stored devices have no handle: a null one is nobody's.
    if (!p)
        return;
    m_waitingDevices.removeAll(p);
    if (p == m_arrivingDevice)
        m_arrivingDeviceLeft = true;
    if (p == m_transferDevice)
        m_transferDeviceLeft = true;
    // A stage run for the phone cannot finish without it: it ends as a
    // cancel (which stops the backup tool), and its road says why.
    for (const auto &stage : std::as_const(m_deviceStages)) {
        if (stage.first == p && stage.second)
            stage.second->close();
    }

    const QList<AbsTreeItemModel::_ItemNode *> devices = m_mainModel->deviceRoot()->children;
    for (AbsTreeItemModel::_ItemNode *node : devices) {
        if (node->type != _IOSDeviceItemNode::Type)
            continue;
        const auto *deviceNode = static_cast<const _IOSDeviceItemNode *>(node);
        if (deviceNode->device && deviceNode->device->handle == p) {
            // The list and the conversation view let go of the node's
            // records as its rows go (forgetRemovedRows).
            m_mainModel->removeNode(node);
            return;
        }
    }
}

void MainWindow::miUnmoutDevice()
{
    // The node that is current goes, whatever its handle: stored devices
    // share the null one.
    AbsTreeItemModel::_ItemNode *node = currentNode();
    if (!node || node->type != _IOSDeviceItemNode::Type)
        return;
    m_mainModel->removeNode(node);
}

// ---------------------------------------------------------------------------
// Writing chosen messages to another phone or into an iTunes backup

void MainWindow::restoreMessagesToDevice(const QList<_MsgMessage *> &messages)
{
    const Node *current = currentNode();
    if (!current)
        return;
    if (!hasMessagesToWrite(messages))
        return;
    const _IOSDeviceItemNode *sourceDevice = nullptr;
    if (current->type == _IOSDeviceItemNode::Type)
        sourceDevice = static_cast<const _IOSDeviceItemNode *>(current);
    else if (current->type == _ChatSessionItemNode::Type && current->parent
             && current->parent->type == _IOSDeviceItemNode::Type)
        sourceDevice = static_cast<const _IOSDeviceItemNode *>(current->parent);
    // The chosen records stay with their source for the whole road, even
    // should the source leave the tree while a stage runs.
    const _AbsDBItemNode *source = currentSourceNode();
    const MsgDataSet keepRecordsAlive = source ? source->dataSet : MsgDataSet();

    const _IOSDeviceItemNode *target = askTargetDevice(sourceDevice);
    if (!target)
        return;
    const auto *targetDb = dynamic_cast<const AbsIOSMessageDb *>(target->db.data());
    if (!targetDb || targetDb->iosVersion() != 6) {
        showWarning(tr("Failed to recover. Only iOS 6 or above is supported."));
        return;
    }
    // The stages work on a copy: the target's node may leave the tree while
    // they run.
    IOSDevice device(*target->device);
    // From here on the phone's leaving ends the transfer.
    m_transferDevice = device.handle;
    m_transferDeviceLeft = false;
    const auto stopWatching = qScopeGuard([this] {
        m_transferDevice = nullptr;
        m_transferDeviceLeft = false;
    });
    if (!device.checkBackupSettings(true, true))
        return;
    if (!device.productType.startsWith(QLatin1String("iPhone"), Qt::CaseInsensitive)
        && !askQuestion(tr("You can transfer iMessage only to an iPad/iPod. Want to continue?")))
        return;
    if (!transferTargetStayed(device))
        return;
    QString tips = tr("IDS_RESTORE_IOS_TIPS_FIND_MY_IPHONE_MUST_OFF");
    if (tips.contains(QLatin1String("%1")))
        tips = tips.arg(serviceUrl(QStringLiteral("/guides/how-to-disable-find-my-iphone.html"))
                            .toString(QUrl::FullyEncoded)
                            .toHtmlEscaped());
    if (!askQuestion(tips))
        return;

    // Before each stage the phone must still be there; a stage it leaves
    // ends as cancelled. Either way the transfer ends saying so.
    if (!transferTargetStayed(device))
        return;
    ProgressForm backupForm(QString(), this);
    IOSMobileBackupThread backup(&device, &backupForm, this);
    if (!runDeviceStage(backupForm, backup, device.handle)) {
        transferTargetStayed(device);
        return;
    }

    if (!transferTargetStayed(device))
        return;
    BackupManifest manifest(backup.backupDir().absoluteFilePath(device.uniqueDeviceId), this);
    try {
        manifest.loadInfo();
        manifest.loadFiles();
    } catch (const std::exception &e) {
        showError(QString::fromUtf8(e.what()));
        return;
    }
    ProgressForm cacheForm(QString(), this);
    ITunesCacheSMSThread cache(&manifest, &cacheForm, this);
    if (!runDeviceStage(cacheForm, cache, device.handle)) {
        transferTargetStayed(device);
        return;
    }

    if (!transferTargetStayed(device))
        return;
    int merged = 0;
    int written = 0;
    if (!mergeIntoBackup(device.mobileSubscriberCountryCode, messages, manifest, cache.cacheDir(), merged, written)) {
        transferTargetStayed(device);
        return;
    }

    // A phone that holds every message already is not restarted to get its
    // own backup back.
    if (written > 0) {
        if (!transferTargetStayed(device))
            return;
        ProgressForm restoreForm(QString(), this);
        IOSMobileRestoreThread restore(&device, backup.backupDir(), &restoreForm, this);
        if (!runDeviceStage(restoreForm, restore, device.handle)) {
            transferTargetStayed(device);
            return;
        }
    }

    showInformation(tr("IDS_SUC_RESTORE_%1_MESSAGES_TO_IOS").arg(merged));
}

void MainWindow::exportMessagesToItunes(const QList<_MsgMessage *> &messages)
{
    if (!hasMessagesToWrite(messages))
        return;
    // The messages' records stay with their source while the merge runs,
    // even should the source leave the tree meanwhile.
    const _AbsDBItemNode *source = currentSourceNode();
    const MsgDataSet keepRecordsAlive = source ? source->dataSet : MsgDataSet();

    QSharedPointer<BackupManifest> manifest;
    {
        LoadItunesBackupDlg chooser(this);
        if (chooser.exec() != 1)
            return;
        manifest = chooser.selectedBackup();
    }
    if (!manifest)
        return;
    if (manifest->info.isEncrypted) {
        showWarning(tr("IDS_CANT_EXPORT_ITUNES_BACKUP_IS_ENCRYPT"));
        return;
    }
    if (isBackupBeforeIOS6(*manifest)) {
        showWarning(tr("Failed to recover. Only iOS 6 or above is supported."));
        return;
    }
    try {
        manifest->loadFiles();
    } catch (const std::exception &e) {
        showError(QString::fromUtf8(e.what()));
        return;
    }

    ProgressForm cacheForm(QString(), this);
    ITunesCacheSMSThread cache(manifest.data(), &cacheForm, this);
    if (!runWorkerStage(cacheForm, cache))
        return;
    if (isCachedBeforeIOS6(cache.cacheDir())) {
        showWarning(tr("Failed to recover. Only iOS 6 or above is supported."));
        return;
    }

    int merged = 0;
    int written = 0;
    if (!mergeIntoBackup(QString(), messages, *manifest, cache.cacheDir(), merged, written))
        return;
    showInformation(tr("IDS_SUC_RESTORE_%1_MESSAGES_TO_IOS").arg(merged));
}

bool MainWindow::mergeIntoBackup(const QString &country, const QList<_MsgMessage *> &messages,
                                 const BackupManifest &backup, const QDir &cacheDir, int &merged, int &written)
{
    // The worker opens the cached database itself and tells when it cannot;
    // the backup is then left as it was.
    std::unique_ptr<IOS6MessageDb> cachedDb;
    try {
        cachedDb = std::make_unique<IOS6MessageDb>(cacheDir, country, false);
    } catch (const std::exception &e) {
        qWarning("%s", e.what());
        showError(QString::fromUtf8(e.what()));
        return false;
    }
    ProgressForm form(QString(), this);
    IOS6RestoreMessagesThread merge(country, messages, cachedDb.get(), backup.folder, &form, this);
    // Into a phone's backup, the phone's leaving ends the merge; an iTunes
    // backup has no phone behind it.
    if (!runDeviceStage(form, merge, m_transferDevice))
        return false;
    merged = merge.mergedCount();
    written = merge.writtenCount();
    return true;
}

bool MainWindow::runDeviceStage(ProgressForm &form, QThread &worker, void *device)
{
    m_deviceStages.append(qMakePair(device, QPointer<ProgressForm>(&form)));
    const bool done = runWorkerStage(form, worker);
    m_deviceStages.removeLast();
    return done;
}

bool MainWindow::transferTargetStayed(const IOSDevice &device)
{
    if (!m_transferDeviceLeft)
        return true;
    showError(tr("\"%1\" was disconnected, so the transfer to it was not finished. Connect it again and start the "
                 "transfer again.")
                  .arg(htmlEscape(device.deviceName)));
    // Said once; the road ends here.
    m_transferDevice = nullptr;
    m_transferDeviceLeft = false;
    return false;
}
