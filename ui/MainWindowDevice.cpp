#include "MainWindow.h"

#include <QMetaObject>
#include <QThread>
#include <QtDebug>

#include <list>
#include <stdexcept>

#include "AbsIOSMessageDb.h"
#include "BackupManifest.h"
#include "CFType.h"
#include "CountryLibDb.h"
#include "HtmlEscape.h"
#include "IOS5MessageDb.h"
#include "IOS6MessageDb.h"
#include "IOSDevice.h"
#include "IOSLoadFileRelayThread.h"
#include "IOSMobileBackupThread.h"
#include "ITunesCacheSMSThread.h"
#include "ItemModelMain.h"
#include "Lockdown.h"
#include "MessageBoxes.h"
#include "MobileDeviceFramework.h"
#include "PasscodeDlg.h"
#include "ProgressForm.h"
#include "_IOSDeviceItemNode.h"
#include "_RootDeviceItemNode.h"
#include "device_notification_target.h"

namespace
{

const char kSmsDbPath[] = "file-relay/var/mobile/Library/SMS/sms.db";

// Runs one worker under its dialog: done when the dialog was accepted and
// not cancelled. The worker is always waited for before it goes.
bool runStage(ProgressForm &form, QThread &worker)
{
    worker.start(QThread::InheritPriority);
    const int result = form.exec();
    const bool done = result == 1 && !form.isCancelled();
    worker.wait();
    return done;
}

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
    return runStage(form, worker);
}

bool MainWindow::copyDeviceDatabasesByBackup(IOSDevice &device)
{
    if (!device.checkBackupSettings(true, false))
        return false;

    ProgressForm backupForm(QString(), this);
    IOSMobileBackupThread backup(&device, &backupForm, this);
    if (!runStage(backupForm, backup) || m_arrivingDeviceLeft)
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
    return runStage(cacheForm, cache);
}

void MainWindow::addArrivedDevice(const IOSDevice &device)
{
    const QDir cacheDir = device.cacheDir();
    const QString path = cacheDir.absoluteFilePath(QLatin1String(kSmsDbPath));
    QSharedPointer<AbsMessageDb> db;
    if (AbsIOSMessageDb::dbVersion(path) == 5)
        db.reset(new IOS5MessageDb(cacheDir, device.mobileSubscriberCountryCode));
    else
        db.reset(new IOS6MessageDb(cacheDir, device.mobileSubscriberCountryCode, false));

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

void MainWindow::miI2I()
{
}

void MainWindow::miI2ISel()
{
}

void MainWindow::miI2IChat()
{
}

void MainWindow::miI2IAll()
{
}

void MainWindow::miDb2I()
{
}

void MainWindow::miDb2ISel()
{
}

void MainWindow::miDb2IChat()
{
}

void MainWindow::miDb2IAll()
{
}

void MainWindow::miExport2iTunes()
{
}

void MainWindow::miExport2iTunesSel()
{
}

void MainWindow::miExport2iTunesChat()
{
}

void MainWindow::miExport2iTunesAll()
{
}
