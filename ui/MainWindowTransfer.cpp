#include "MainWindow.h"

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
#include "_ChatSessionItemNode.h"
#include "_IOSDeviceItemNode.h"
#include "_LocalDBItemNode.h"
#include "_RootLocalDBItemNode.h"

namespace
{

using Node = AbsTreeItemModel::_ItemNode;

// Which member of a command family the bare command stands for.
enum class Variant
{
    None,
    Selected,
    Chat,
    All
};

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

// A name that, inside a folder, names a folder right there.
bool isPlainFolderName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

QDir localDbFolder(const _LocalDBItemNode *node)
{
    if (const auto *db = dynamic_cast<const IOS6MessageDb *>(node->db.data()))
        return db->rootDir();
    return QDir(localDatabasesDir().absoluteFilePath(node->name));
}

} // namespace

// ---------------------------------------------------------------------------
// The three families: the bare command picks the rows selected in the list,
// else the conversation on show, else the whole source.

namespace
{

Variant chooseVariant(bool rowsSelected, const Node *current)
{
    if (rowsSelected)
        return Variant::Selected;
    if (!current)
        return Variant::None;
    if (current->type == _ChatSessionItemNode::Type)
        return Variant::Chat;
    if (current->type == _IOSDeviceItemNode::Type || current->type == _LocalDBItemNode::Type)
        return Variant::All;
    return Variant::None;
}

} // namespace

void MainWindow::miBackup()
{
    switch (chooseVariant(!selectedMessages().isEmpty(), currentNode())) {
    case Variant::Selected:
        miBackupSel();
        break;
    case Variant::Chat:
        miBackupChat();
        break;
    case Variant::All:
        miBackupAll();
        break;
    case Variant::None:
        break;
    }
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
    switch (chooseVariant(!selectedMessages().isEmpty(), currentNode())) {
    case Variant::Selected:
        miExportSel();
        break;
    case Variant::Chat:
        miExportChat();
        break;
    case Variant::All:
        miExportAll();
        break;
    case Variant::None:
        break;
    }
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
    switch (chooseVariant(!selectedMessages().isEmpty(), currentNode())) {
    case Variant::Selected:
        miPrintSel();
        break;
    case Variant::Chat:
        miPrintChat();
        break;
    case Variant::All:
        miPrintAll();
        break;
    case Variant::None:
        break;
    }
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
    const MsgDataSet records = static_cast<const _AbsDBItemNode *>(node)->dataSet;
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
        if (!isPlainFolderName(name)) {
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
        thread.start(QThread::InheritPriority);
        const int result = form.exec();
        thread.wait();
        succeeded = result == QDialog::Accepted && !form.isCancelled();
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

    try {
        m_mainModel->removeChildren(node);
        node->db->messages(node->dataSet, 0);
        m_mainModel->loadChatSessions(node);
        // Made current again, the node would not be shown afresh.
        if (currentNode() == node)
            showChatMessages(node->dataSet.messageList());
        selectNode(node);
    } catch (const std::exception &e) {
        showError(QString::fromUtf8(e.what()));
    }
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

    const _AbsDBItemNode *source = currentSourceNode();
    const MsgDataSet records = source ? source->dataSet : MsgDataSet();
    const bool ascending = ui->treeViewSMS->header()->sortIndicatorOrder() == Qt::AscendingOrder;
    // Success and failure are the worker's to tell, through the dialog.
    ProgressForm form(QString(), this);
    ExportSMSThread thread(messages, target.path, target.format, ascending, &form, this);
    thread.start(QThread::InheritPriority);
    form.exec();
    thread.wait();
}

// ---------------------------------------------------------------------------
// Printing

void MainWindow::printMessages(const QList<_MsgMessage *> &messages)
{
    const _AbsDBItemNode *source = currentSourceNode();
    const MsgDataSet records = source ? source->dataSet : MsgDataSet();
    SMSPrinter printer(this);
    printer.print(messages);
}
