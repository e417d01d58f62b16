#include "MainWindow.h"

#include "TempBackupRoot.h"

#include "ui_MainWindow.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMetaObject>
#include <QPersistentModelIndex>
#include <QSet>

#include "AboutUsForm.h"
#include "AppFolders.h"
#include "CountrySelForm.h"
#include "DataSourceSelForm.h"
#include "DesktopOpening.h"
#include "FileUtils.h"
#include "HtmlEscape.h"
#include "IOSDevice.h"
#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "LocalDbSelForm.h"
#include "MessageBoxes.h"
#include "MessageOrder.h"
#include "MessageText.h"
#include "ServiceUrl.h"
#include "ShellUtils.h"
#include "_ChatSessionItemNode.h"
#include "_IOSDeviceItemNode.h"
#include "_LocalDBItemNode.h"
#include "_RootDeviceItemNode.h"
#include "_RootLocalDBItemNode.h"

namespace
{

using Node = AbsTreeItemModel::_ItemNode;

bool isSourceType(int type)
{
    return type >= _IOSDeviceItemNode::Type && type <= _LocalDBItemNode::Type;
}

bool isInside(const Node *node, const Node *ancestor)
{
    for (; node; node = node->parent) {
        if (node == ancestor)
            return true;
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------------------
// Selection and the message list

void MainWindow::selectNode(AbsTreeItemModel::_ItemNode *node)
{
    const QModelIndex index = m_mainModel->indexOfNode(node);
    ui->treeViewDS->expand(index);
    // Made current from the event loop, after the caller has finished with
    // the tree; a node removed meanwhile is simply not selected.
    MyTreeView *tree = ui->treeViewDS;
    QMetaObject::invokeMethod(
        tree,
        [tree, target = QPersistentModelIndex(index)]() {
            if (target.isValid())
                tree->setCurrentIndex(target);
        },
        Qt::QueuedConnection);
}

void MainWindow::onMainTreeSelected(QItemSelection selections, QItemSelection)
{
    updateActions();
    if (selections.isEmpty() || selections.first().indexes().isEmpty())
        return;
    Node *node = m_mainModel->nodeOf(selections.first().indexes().first());
    if (!node)
        return;
    try {
        switch (node->type) {
        case _LocalDBItemNode::Type: {
            auto *source = static_cast<_AbsDBItemNode *>(node);
            if (source->children.isEmpty()) {
                readLocalDb(source);
                MyTreeView *tree = ui->treeViewDS;
                QMetaObject::invokeMethod(
                    tree,
                    [tree, target = QPersistentModelIndex(m_mainModel->indexOfNode(source))]() {
                        if (target.isValid())
                            tree->expand(target);
                    },
                    Qt::QueuedConnection);
                if (source->children.isEmpty()) {
                    // An empty database shows an empty list, not what some
                    // other source showed before.
                    clearMessageList();
                    break;
                }
            }
            showChatMessages(source->dataSet.messageList());
            m_shownSource = source;
            break;
        }
        case _ChatSessionItemNode::Type: {
            auto *session = static_cast<_ChatSessionItemNode *>(node);
            if (session->chats.isEmpty()) {
                clearMessageList();
                break;
            }
            auto *source = session->parent && isSourceType(session->parent->type)
                               ? static_cast<_AbsDBItemNode *>(session->parent)
                               : nullptr;
            // A device's conversations are listed before its messages are
            // read; read them now rather than show the conversation empty.
            if (source && source->dataSet.data()->messages.isEmpty())
                source->db->messages(source->dataSet, 0);
            QList<_MsgMessage *> messages;
            for (const _MsgChat *chat : session->chats) {
                for (_MsgMessage *m : chat->messages)
                    messages.append(m);
            }
            showChatMessages(messages);
            m_shownSource = source;
            break;
        }
        case _IOSDeviceItemNode::Type: {
            auto *source = static_cast<_AbsDBItemNode *>(node);
            source->db->messages(source->dataSet, 0);
            showChatMessages(source->dataSet.messageList());
            m_shownSource = source;
            break;
        }
        default:
            clearMessageList();
            break;
        }
    } catch (const std::exception &e) {
        showError(QString::fromUtf8(e.what()));
    }
}

void MainWindow::readLocalDb(_AbsDBItemNode *node)
{
    node->db->chats(node->dataSet);
    m_mainModel->loadChatSessions(node);
    // A database without conversations has no messages to read.
    if (!node->children.isEmpty())
        node->db->messages(node->dataSet, 0);
}

void MainWindow::showChatMessages(QList<_MsgMessage *> messages)
{
    sortMessages(messages, ui->treeViewSMS->header()->sortIndicatorOrder());
    m_smsModel->setMessages(messages);
    ui->txtSMS->clear();
    ui->txtSMS->setMessages(m_smsModel->messages());
    ui->lbSMSCount->setText(tr("Messages: %1").arg(messages.size()));
}

void MainWindow::clearMessageList()
{
    m_smsModel->setMessages({});
    ui->txtSMS->clear();
    ui->lbSMSCount->setText(tr("Messages: %1").arg(0));
    m_shownSource = nullptr;
}

void MainWindow::forgetRemovedRows(const QModelIndex &parent, int first, int last)
{
    // The list and the conversation view point into the records of one
    // source; they let go before a node that owns those records, or the
    // current node, leaves the tree.
    const Node *current = currentNode();
    for (int row = first; row <= last; ++row) {
        const Node *removed = m_mainModel->nodeOf(m_mainModel->index(row, 0, parent));
        if (!removed)
            continue;
        if ((m_shownSource && isInside(m_shownSource, removed)) || (current && isInside(current, removed))) {
            clearMessageList();
            return;
        }
    }
}

QList<_MsgMessage *> MainWindow::messagesOfCurrentNode()
{
    Node *node = currentNode();
    if (!node || !isSourceType(node->type))
        return {};
    auto *source = static_cast<_AbsDBItemNode *>(node);
    try {
        source->db->messages(source->dataSet, 0);
    } catch (const std::exception &e) {
        showError(QString::fromUtf8(e.what()));
        return {};
    }
    QList<_MsgMessage *> messages = source->dataSet.messageList();
    sortMessages(messages, ui->treeViewSMS->header()->sortIndicatorOrder());
    return messages;
}

void MainWindow::onSMSItemSelected(QItemSelection selections, QItemSelection)
{
    const QModelIndexList indexes = selections.indexes();
    if (indexes.isEmpty() || !m_smsModel->messageOf(indexes.first()))
        return;
    ui->txtSMS->showMessage(indexes.first().row());
}

void MainWindow::onSMSSortIndicatorChanged(int logicalIndex, Qt::SortOrder order)
{
    // Only the date column sorts; any other header click goes back to it,
    // newest first, which comes back here for column 0.
    if (logicalIndex != 0) {
        ui->treeViewSMS->header()->setSortIndicator(0, Qt::DescendingOrder);
        return;
    }
    showChatMessages(m_smsModel->messages());
}

QList<_MsgMessage *> MainWindow::selectedMessages() const
{
    QList<_MsgMessage *> messages;
    const QModelIndexList rows = ui->treeViewSMS->selectionModel()->selectedRows(0);
    for (const QModelIndex &row : rows) {
        if (_MsgMessage *m = m_smsModel->messageOf(row))
            messages.append(m);
    }
    return messages;
}

// ---------------------------------------------------------------------------
// Searches

void MainWindow::searchMessages()
{
    const QString keyword = ui->txtSMSKeyword->text().trimmed();
    if (keyword.isEmpty())
        return;
    const QList<_MsgMessage *> &messages = m_smsModel->messages();
    if (messages.isEmpty()) {
        showInformation(tr("IDS_CAN_NOT_FOUND_AND_MESSAGES"));
        return;
    }
    const int count = int(messages.size());
    const QModelIndex current = ui->treeViewSMS->currentIndex();
    const int start = current.isValid() ? current.row() + 1 : 0;
    // From the row after the current one to the end, then round from the
    // top, so that the current row is tried last.
    for (int i = 0; i < count; ++i) {
        const int row = (start + i) % count;
        if (messageText(messages.at(row)).contains(keyword, Qt::CaseInsensitive)) {
            ui->treeViewSMS->setCurrentIndex(m_smsModel->rowIndex(row));
            return;
        }
    }
    showInformation(tr("IDS_CAN_NOT_FOUNDSMS_KEYWORD_%0").arg(htmlEscape(keyword)));
}

void MainWindow::searchCotnact()
{
    Node *node = currentNode();
    if (!node)
        return;
    Node *source = nullptr;
    int start = 0;
    if (isSourceType(node->type)) {
        source = node;
    } else if (node->type == _ChatSessionItemNode::Type && node->parent) {
        source = node->parent;
        start = int(source->children.indexOf(node)) + 1;
    } else {
        return;
    }
    const QString keyword = ui->txtHandleKeyword->text().trimmed();
    if (keyword.isEmpty())
        return;
    const int count = int(source->children.size());
    for (int i = 0; i < count; ++i) {
        Node *child = source->children.at((start + i) % count);
        if (child->name.contains(keyword, Qt::CaseInsensitive)) {
            ui->treeViewDS->setCurrentIndex(m_mainModel->indexOfNode(child));
            return;
        }
    }
    showInformation(tr("IDS_CAN_NOT_FOUNDCONTACT_KEYWORD_%0").arg(htmlEscape(keyword)));
}

// ---------------------------------------------------------------------------
// Folders, pages and the cache

void MainWindow::miViewCache()
{
    const Node *node = currentNode();
    if (!node || node->type != _IOSDeviceItemNode::Type)
        return;
    const auto *device = static_cast<const _IOSDeviceItemNode *>(node);
    if (!device->device)
        return;
    try {
        openFolderOrTell(deviceCacheDir(*device->device).absolutePath());
    } catch (const std::exception &e) {
        showError(QString::fromUtf8(e.what()));
    }
}

void MainWindow::miOpenDbFolder()
{
    openFolderOrTell(localDatabasesDir().absolutePath());
}

void MainWindow::miHelp()
{
    openPageOrTell(serviceUrl(QStringLiteral("/larkspan/help.html")).toString(QUrl::FullyEncoded));
}

void MainWindow::miFeedback()
{
    openPageOrTell(serviceUrl(QStringLiteral("/support.html")).toString(QUrl::FullyEncoded));
}

void MainWindow::miHome()
{
    shellOpen(QString());
}

void MainWindow::miClearCache()
{
    const QDir appData = appDataDir();
    QStringList failed;
    bool kept = false;

    // A connected device reads its messages from its folder here; that folder
    // stays while the device is in the tree.
    QSet<QString> openDevices;
    for (const Node *node : m_mainModel->deviceRoot()->children) {
        if (node->type != _IOSDeviceItemNode::Type)
            continue;
        const auto *device = static_cast<const _IOSDeviceItemNode *>(node);
        if (device->device)
            openDevices.insert(device->device->uniqueDeviceId);
    }
    const QString iosCache = appData.filePath(QStringLiteral("ios_cache"));
    const QFileInfo iosCacheInfo(iosCache);
    if (iosCacheInfo.isDir() && !iosCacheInfo.isSymLink()) {
        const QFileInfoList entries =
            QDir(iosCache).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo &entry : entries) {
            if (openDevices.contains(entry.fileName())) {
                kept = true;
                continue;
            }
            const bool removed = entry.isDir() && !entry.isSymLink() ? removeDirRecursively(entry.filePath())
                                                                     : QFile::remove(entry.filePath());
            if (!removed)
                failed.append(entry.filePath());
        }
        if (!kept && !QDir(appData).rmdir(QStringLiteral("ios_cache")))
            failed.append(iosCache);
    } else if (!removeDirRecursively(iosCache)) {
        failed.append(iosCache);
    }

    const QString itunesCache = appData.filePath(QStringLiteral("itunes_cache"));
    if (!removeDirRecursively(itunesCache))
        failed.append(itunesCache);

    QString tempBackupFailed;
    if (!clearTempBackupRoot(&tempBackupFailed))
        failed.append(tempBackupFailed);

    if (!failed.isEmpty()) {
        QStringList shown;
        for (const QString &path : failed)
            shown.append(htmlEscape(QDir::toNativeSeparators(path)));
        showWarning(tr("Failed to clear some cache files. Could not remove:<br/>%1").arg(shown.join(QStringLiteral("<br/>"))));
        return;
    }
    if (kept) {
        showInformation(tr("Cleared cache files. The cache files of connected devices are kept."));
        return;
    }
    showInformation(tr("IDS_SUC_CLEAR_CACHE"));
}

void MainWindow::miAbout()
{
    AboutUsForm form(this);
    form.exec();
}

// ---------------------------------------------------------------------------
// Dialogs that other commands ask through

QString MainWindow::askLocalDbName(const QString &defaultName)
{
    QStringList names;
    for (const Node *node : m_mainModel->localDbRoot()->children)
        names.append(node->name);
    LocalDbSelForm form(names, defaultName, this);
    return form.getDbName();
}

bool MainWindow::askCountryCode(QString &mmc)
{
    CountrySelForm form(this);
    if (form.exec() != 1)
        return false;
    mmc = form.selectedMmc;
    return true;
}

_IOSDeviceItemNode *MainWindow::askTargetDevice(const _IOSDeviceItemNode *source)
{
    QList<DataSourceItem> items;
    for (Node *node : m_mainModel->deviceRoot()->children) {
        if (node->type != _IOSDeviceItemNode::Type)
            continue;
        auto *device = static_cast<_IOSDeviceItemNode *>(node);
        // A stored device has no handle: no phone stands behind it to be
        // backed up and restored, so it can never be written to.
        if (!device->device || !device->device->handle)
            continue;
        if (source && source->device && device->device->uniqueDeviceId == source->device->uniqueDeviceId)
            continue;
        DataSourceItem item;
        item.icon = QStringLiteral(":res/iphone.png");
        item.text = device->device->deviceName;
        item.data = device;
        items.append(item);
    }
    DataSourceSelForm form(this);
    void *chosen = form.setDataSources(QObject::tr("IDS_SEL_ONE_IOS_DEVICE"), items);
    // A device may leave while the dialog is open: answer only with a node
    // that is still in the tree.
    for (Node *node : m_mainModel->deviceRoot()->children) {
        if (node == chosen)
            return static_cast<_IOSDeviceItemNode *>(node);
    }
    return nullptr;
}
