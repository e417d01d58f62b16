#include "MainWindow.h"

#include "SafePath.h"
#include "ui_MainWindow.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>

#include "AppFolders.h"
#include "BackupSMSThread.h"
#include "Clock.h"
#include "ExportSMSThread.h"
#include "FileDialogs.h"
#include "FileUtils.h"
#include "HtmlEscape.h"
#include "IOS6MessageDb.h"
#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "MessageBoxes.h"
#include "ProgressForm.h"
#include "SMSPrinter.h"
#include "WorkerStage.h"
#include "_ChatSessionItemNode.h"
#include "_IOSDeviceItemNode.h"
#include "_LocalDBItemNode.h"
#include "_RootLocalDBItemNode.h"

namespace
{

using Node = AbsTreeItemModel::_ItemNode;

// The exports of the save dialog's filters, in the same order.
struct ExportRule
{
    int format;
    // Appended to a file name without suffix (text, CSV), or in place of the
    // name's suffixes (PDF, HTML), where it names the folder of the files.
    const char *ending;
    bool folder;
};

const ExportRule kExportRules[] = {
    {0, ".txt", false},
    {0, ".doc", false},
    {1, ".csv", false},
    {2, "-pdf", true},
    {3, "-html", true},
};

QDir localDbFolder(const _LocalDBItemNode *node)
{
    if (const auto *db = dynamic_cast<const IOS6MessageDb *>(node->db.data()))
        return db->rootDir();
    return QDir(localDatabasesDir().absoluteFilePath(node->name));
}

} // namespace

// ---------------------------------------------------------------------------
// The command families: the bare command picks the rows selected in the
// list, else the conversation on show, else the whole source.

void MainWindow::runFamily(FamilySlot selected, FamilySlot chat, FamilySlot all)
{
    if (!ui->treeViewSMS->selectionModel()->selectedRows(0).isEmpty()) {
        (this->*selected)();
        return;
    }
    const Node *node = currentNode();
    if (!node)
        return;
    if (node->type == _ChatSessionItemNode::Type)
        (this->*chat)();
    else
        (this->*all)();
}

void MainWindow::miBackup()
{
    runFamily(&MainWindow::miBackupSel, &MainWindow::miBackupChat, &MainWindow::miBackupAll);
}

void MainWindow::miBackupSel()
{
    backupMessages(selectedMessages());
}

void MainWindow::miBackupChat()
{
    // A copy: the list on show may change while the command runs.
    const QList<_MsgMessage *> messages = m_smsModel->messages();
    backupMessages(messages);
}

void MainWindow::miBackupAll()
{
    const QList<_MsgMessage *> messages = messagesOfCurrentNode();
    if (!messages.isEmpty())
        backupMessages(messages);
}

void MainWindow::miExport()
{
    runFamily(&MainWindow::miExportSel, &MainWindow::miExportChat, &MainWindow::miExportAll);
}

void MainWindow::miExportSel()
{
    exportMessagesToFile(selectedMessages());
}

void MainWindow::miExportChat()
{
    // A copy: the list on show may change while the command runs.
    const QList<_MsgMessage *> messages = m_smsModel->messages();
    exportMessagesToFile(messages);
}

void MainWindow::miExportAll()
{
    const QList<_MsgMessage *> messages = messagesOfCurrentNode();
    if (!messages.isEmpty())
        exportMessagesToFile(messages);
}

void MainWindow::miPrint()
{
    runFamily(&MainWindow::miPrintSel, &MainWindow::miPrintChat, &MainWindow::miPrintAll);
}

void MainWindow::miPrintSel()
{
    printMessages(selectedMessages());
}

void MainWindow::miPrintChat()
{
    // A copy: the list on show may change while the command runs.
    const QList<_MsgMessage *> messages = m_smsModel->messages();
    printMessages(messages);
}

void MainWindow::miPrintAll()
{
    const QList<_MsgMessage *> messages = messagesOfCurrentNode();
    if (!messages.isEmpty())
        printMessages(messages);
}

// ---------------------------------------------------------------------------
// Backup into a local database

void MainWindow::backupMessages(const QList<_MsgMessage *> &messages)
{
    const Node *node = currentNode();
    if (node && node->type == _ChatSessionItemNode::Type)
        node = node->parent;
    if (!node || node->type < _IOSDeviceItemNode::Type || node->type > _LocalDBItemNode::Type)
        return;
    // The records stay with their source while the backup runs, even should
    // the source leave the tree meanwhile.
    const MsgDataSet keepRecordsAlive = static_cast<const _AbsDBItemNode *>(node)->dataSet;
    backupMessagesToLocalDb(node->name + QStringLiteral("_Backup"), messages);
}

_LocalDBItemNode *MainWindow::findLocalDb(const QString &name) const
{
    for (Node *node : m_mainModel->localDbRoot()->children) {
        if (node->type == _LocalDBItemNode::Type && node->name.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<_LocalDBItemNode *>(node);
    }
    return nullptr;
}

void MainWindow::backupMessagesToLocalDb(const QString &defaultName, const QList<_MsgMessage *> &messages)
{
    const QString name = askLocalDbName(defaultName);
    if (name.isEmpty())
        return;

    _LocalDBItemNode *node = findLocalDb(name);
    bool nodeCreated = false;
    bool folderCreated = false;
    if (!node) {
        const QString path = localDatabasesDir().absoluteFilePath(name);
        // The name becomes a folder right inside the local databases; one
        // that would lead anywhere else is refused.
        if (!isSafePathComponent(name)) {
            showError(htmlEscape(QCoreApplication::translate("LocalDbSelForm", "IDS_INVALID_LOCALDB_NAME")));
            return;
        }
        folderCreated = !QFileInfo::exists(path);
        QSharedPointer<AbsMessageDb> db(new IOS6MessageDb(QDir(path), QString(), true));
        node = m_mainModel->addLocalDb(db, name);
        nodeCreated = true;
    }

    // The worker opens the database on its own; this side keeps away from
    // the file until it has finished.
    const QSharedPointer<AbsMessageDb> db = node->db;
    db->close();
    const QDir folder = localDbFolder(node);

    bool succeeded = false;
    {
        ProgressForm form(QString(), this);
        BackupSMSThread thread(messages, folder, QString(), &form, this);
        succeeded = runWorkerStage(form, thread) || thread.committed();
    }

    // A node that left the tree while the dialog ran is not touched again.
    if (!m_mainModel->localDbRoot()->children.contains(node))
        return;

    if (!succeeded) {
        // A database made for this backup holds nothing the user had: it
        // goes again rather than stay as an empty entry.
        if (nodeCreated) {
            db->close();
            m_mainModel->removeNode(node);
            if (folderCreated)
                removeDirRecursively(folder.absolutePath());
        }
        return;
    }

    // Read into a new record set, as when the database is first selected:
    // records already held would keep what they were read with (the last
    // date of a conversation, and so the order of the list). Nothing on show
    // may point into the set that goes.
    m_mainModel->removeChildren(node);
    if (m_shownSource == node)
        clearMessageList();
    node->dataSet = MsgDataSet::create();
    try {
        readLocalDb(node);
    } catch (const std::exception &e) {
        // Left without conversations, the node is read afresh when it is
        // selected again.
        m_mainModel->removeChildren(node);
        node->dataSet = MsgDataSet::create();
        showError(QString::fromUtf8(e.what()));
        return;
    }
    // Made current again, the node would not be shown afresh.
    if (currentNode() == node) {
        showChatMessages(node->dataSet.messageList());
        m_shownSource = node;
    }
    selectNode(node);
}

// ---------------------------------------------------------------------------
// Export to a file

QStringList MainWindow::exportFilters()
{
    return {tr("Text Files(*.txt)"), tr("Doc Files(*.doc)"), tr("CSV Files(*.csv)"), tr("PDF Files(*.pdf)"),
            tr("HTML Files(*.html)")};
}

MainWindow::ExportTarget MainWindow::exportTarget(const QString &chosenPath, const QString &selectedFilter)
{
    ExportTarget target;
    const int index = int(exportFilters().indexOf(selectedFilter));
    if (index < 0)
        return target;
    const ExportRule &rule = kExportRules[index];
    const QFileInfo chosen(chosenPath);
    target.format = rule.format;
    if (rule.folder)
        target.path = QDir(chosen.absolutePath()).filePath(chosen.baseName() + QLatin1String(rule.ending));
    else if (chosen.suffix().isEmpty())
        target.path = chosenPath + QLatin1String(rule.ending);
    else
        target.path = chosenPath;
    return target;
}

void MainWindow::exportMessagesToFile(const QList<_MsgMessage *> &messages)
{
    const QStringList filters = exportFilters();
    const QString proposed = QDir(QDir::homePath())
                                 .filePath(QStringLiteral("sms(%1)").arg(
                                     Clock::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"))));
    QString selectedFilter;
    const QString chosen = askSaveFileName(this, tr("IDS_SEL_EXPORT_MESSAGES_PATH"), proposed,
                                           filters.join(QStringLiteral(";;")), &selectedFilter);
    if (chosen.isEmpty())
        return;
    const ExportTarget target = exportTarget(chosen, selectedFilter);
    if (target.format < 0) {
        showError(tr("unknown export format."));
        return;
    }

    // The messages' records stay with their source while the export runs,
    // even should the source leave the tree meanwhile.
    const _AbsDBItemNode *source = currentSourceNode();
    const MsgDataSet keepRecordsAlive = source ? source->dataSet : MsgDataSet();
    const bool ascending = ui->treeViewSMS->header()->sortIndicatorOrder() == Qt::AscendingOrder;
    // Success and failure are the worker's to tell, through the dialog.
    ProgressForm form(QString(), this);
    ExportSMSThread thread(messages, target.path, target.format, ascending, &form, this);
    runWorkerStage(form, thread);
}

// ---------------------------------------------------------------------------
// Printing

void MainWindow::printMessages(const QList<_MsgMessage *> &messages)
{
    // The messages' records stay with their source while they are printed.
    const _AbsDBItemNode *source = currentSourceNode();
    const MsgDataSet keepRecordsAlive = source ? source->dataSet : MsgDataSet();
    SMSPrinter printer(this);
    printer.print(messages);
}

// ---------------------------------------------------------------------------
// To another phone, from a database to a phone, into an iTunes backup

void MainWindow::miI2I()
{
    runFamily(&MainWindow::miI2ISel, &MainWindow::miI2IChat, &MainWindow::miI2IAll);
}

void MainWindow::miI2ISel()
{
    restoreMessagesToDevice(selectedMessages());
}

void MainWindow::miI2IChat()
{
    const QList<_MsgMessage *> messages = m_smsModel->messages();
    restoreMessagesToDevice(messages);
}

void MainWindow::miI2IAll()
{
    const QList<_MsgMessage *> messages = messagesOfCurrentNode();
    if (!messages.isEmpty())
        restoreMessagesToDevice(messages);
}

void MainWindow::miDb2I()
{
    runFamily(&MainWindow::miDb2ISel, &MainWindow::miDb2IChat, &MainWindow::miDb2IAll);
}

void MainWindow::miDb2ISel()
{
    miI2ISel();
}

void MainWindow::miDb2IChat()
{
    miI2IChat();
}

void MainWindow::miDb2IAll()
{
    miI2IAll();
}

void MainWindow::miExport2iTunes()
{
    runFamily(&MainWindow::miExport2iTunesSel, &MainWindow::miExport2iTunesChat, &MainWindow::miExport2iTunesAll);
}

void MainWindow::miExport2iTunesSel()
{
    exportMessagesToItunes(selectedMessages());
}

void MainWindow::miExport2iTunesChat()
{
    const QList<_MsgMessage *> messages = m_smsModel->messages();
    exportMessagesToItunes(messages);
}

void MainWindow::miExport2iTunesAll()
{
    const QList<_MsgMessage *> messages = messagesOfCurrentNode();
    if (!messages.isEmpty())
        exportMessagesToItunes(messages);
}
