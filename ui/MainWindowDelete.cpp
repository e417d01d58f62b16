#include "MainWindow.h"

#include "ui_MainWindow.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSet>

#include "AppFolders.h"
#include "DeleteMessagesThread.h"
#include "FileUtils.h"
#include "HtmlEscape.h"
#include "IOS6MessageDb.h"
#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "MessageBoxes.h"
#include "MessageOrder.h"
#include "ProgressForm.h"
#include "WorkerStage.h"
#include "_ChatSessionItemNode.h"
#include "_LocalDBItemNode.h"

namespace
{

using Node = AbsTreeItemModel::_ItemNode;

// The local database of a node: the node itself, or the parent of one of its
// conversations; null for anything else.
_LocalDBItemNode *localDbOf(Node *node, bool allowDatabase, bool allowChat)
{
    if (!node)
        return nullptr;
    if (node->type == _LocalDBItemNode::Type)
        return allowDatabase ? static_cast<_LocalDBItemNode *>(node) : nullptr;
    if (allowChat && node->type == _ChatSessionItemNode::Type && node->parent
        && node->parent->type == _LocalDBItemNode::Type)
        return static_cast<_LocalDBItemNode *>(node->parent);
    return nullptr;
}

// Deletes the messages from the database file under the progress dialog;
// true when the deletion reached the file, even should a late cancel have
// closed the dialog.
bool runDeletion(QWidget *window, IOS6MessageDb *db, const QList<_MsgMessage *> &messages)
{
    ProgressForm form(QString(), window);
    DeleteMessagesThread worker(db, &messages, &form, window);
    return runWorkerStage(form, worker) || worker.committed();
}

// Drops deleted messages from the records of their database. A message may
// be filed under more than one conversation, so every conversation of the
// set lets go of them.
void forgetMessages(MsgDataSet &set, const QList<_MsgMessage *> &messages)
{
    MsgDataSet::Data *d = set.data();
    QSet<_MsgMessage *> gone;
    for (_MsgMessage *m : messages) {
        if (!m || gone.contains(m))
            continue;
        gone.insert(m);
        if (m->chat)
            m->chat->messages.remove(QString::number(m->_key));
        d->messages.remove(m->_key);
    }
    for (_MsgChat *chat : std::as_const(d->chats)) {
        for (auto it = chat->messages.begin(); it != chat->messages.end();) {
            if (gone.contains(it.value()))
                it = chat->messages.erase(it);
            else
                ++it;
        }
    }
    qDeleteAll(gone);
}

// The conversations of the deleted messages that the file drops with them:
// those left with no message (the file keeps no conversation without one).
// Taken before the records are freed, checked after they are forgotten.
QSet<_MsgChat *> conversationsOf(const QList<_MsgMessage *> &messages)
{
    QSet<_MsgChat *> chats;
    for (const _MsgMessage *m : messages) {
        if (m && m->chat && m->chat->rowid > 0)
            chats.insert(m->chat);
    }
    return chats;
}

} // namespace

void MainWindow::dropEmptiedConversations(_LocalDBItemNode *database, const QSet<_MsgChat *> &touched)
{
    QSet<_MsgChat *> gone;
    for (_MsgChat *chat : touched) {
        if (chat->messages.isEmpty())
            gone.insert(chat);
    }
    if (gone.isEmpty())
        return;
    // The nodes go before the records they point at.
    const QList<Node *> sessions = database->children;
    for (Node *node : sessions) {
        if (node->type != _ChatSessionItemNode::Type)
            continue;
        auto *session = static_cast<_ChatSessionItemNode *>(node);
        session->chats.removeIf([&gone](_MsgChat *chat) { return gone.contains(chat); });
        if (session->chats.isEmpty())
            m_mainModel->removeNode(session);
    }
    MsgDataSet::Data *d = database->dataSet.data();
    for (auto it = d->chats.begin(); it != d->chats.end();) {
        if (gone.contains(it.value()))
            it = d->chats.erase(it);
        else
            ++it;
    }
    qDeleteAll(gone);
}

void MainWindow::miDel()
{
    runFamily(&MainWindow::miDelSel, &MainWindow::miDelChat, &MainWindow::miDelAll);
}

void MainWindow::miDelSel()
{
    Node *current = currentNode();
    _LocalDBItemNode *database = localDbOf(current, true, true);
    if (!database)
        return;
    auto *db = dynamic_cast<IOS6MessageDb *>(database->db.data());
    if (!db)
        return;
    // Only records of this database: after a failed read the list may still
    // show another source.
    QList<_MsgMessage *> messages;
    for (_MsgMessage *m : selectedMessages()) {
        if (database->dataSet.data()->messages.value(m->_key) == m)
            messages.append(m);
    }
    if (messages.isEmpty())
        return;
    if (!askQuestion(tr("IDS_CONFIRM_DEL_SEL_MESSAGES")))
        return;
    if (!runDeletion(this, db, messages))
        return;

    // Nothing on show may point at a record about to be freed.
    clearMessageList();
    const QSet<_MsgChat *> touched = conversationsOf(messages);
    forgetMessages(database->dataSet, messages);
    ui->treeViewDS->setCurrentIndex(QModelIndex());
    // A conversation that went with its last message leaves the tree; when
    // it was the one on show, its database shows what is left.
    const bool currentWasSession = current != database;
    dropEmptiedConversations(database, touched);
    if (currentWasSession && !database->children.contains(current))
        current = database;
    ui->treeViewDS->setCurrentIndex(m_mainModel->indexOfNode(current));
}

void MainWindow::miDelChat()
{
    auto *session = currentNode() && currentNode()->type == _ChatSessionItemNode::Type
                        ? static_cast<_ChatSessionItemNode *>(currentNode())
                        : nullptr;
    _LocalDBItemNode *database = localDbOf(session, false, true);
    if (!database)
        return;
    auto *db = dynamic_cast<IOS6MessageDb *>(database->db.data());
    if (!db)
        return;
    if (!askQuestion(tr("IDS_CONFIRM_DEL_THIS_CHAT")))
        return;
    // The conversation's own messages, in the order of the list. Taken from
    // its records rather than from the list, which after a failed read may
    // still show another source.
    QList<_MsgMessage *> messages;
    QSet<const _MsgMessage *> taken;
    for (const _MsgChat *chat : std::as_const(session->chats)) {
        for (_MsgMessage *m : chat->messages) {
            if (!taken.contains(m)) {
                taken.insert(m);
                messages.append(m);
            }
        }
    }
    sortMessages(messages, ui->treeViewSMS->header()->sortIndicatorOrder());
    if (!runDeletion(this, db, messages))
        return;

    clearMessageList();
    ui->treeViewDS->setCurrentIndex(QModelIndex());
    forgetMessages(database->dataSet, messages);
    MsgDataSet::Data *d = database->dataSet.data();
    for (_MsgChat *chat : std::as_const(session->chats)) {
        // A conversation that still has messages on file (none were on
        // show) stays in the set, so that those messages keep a valid
        // conversation; the set frees it with itself.
        if (!chat->messages.isEmpty())
            continue;
        for (auto it = d->chats.begin(); it != d->chats.end();) {
            if (it.value() == chat)
                it = d->chats.erase(it);
            else
                ++it;
        }
        delete chat;
    }
    session->chats.clear();
    m_mainModel->removeNode(session);
}

void MainWindow::miDelAll()
{
    Node *node = currentNode();
    _LocalDBItemNode *database = localDbOf(node, true, false);
    if (!database)
        return;
    if (!askQuestion(tr("IDS_CONFIRM_DEL_THIS_LOCALDB")))
        return;
    const QString name = database->name;
    clearMessageList();
    database->db->close();
    const QString folder = localDatabasesDir().filePath(name);
    if (!removeDirRecursively(folder)) {
        // What is left is still a local database on disk, and is listed as
        // one at the next start: keep its node, read afresh when selected.
        m_mainModel->removeChildren(database);
        database->dataSet = MsgDataSet::create();
        showWarning(tr("Failed to delete Database %1 completely. Please close any program that uses its folder %2 and try again.")
                        .arg(htmlEscape(name), htmlEscape(QDir::toNativeSeparators(folder))));
        return;
    }
    m_mainModel->removeNode(database);
    showInformation(tr("IDS_DEL_LOCALDB_SUC").arg(htmlEscape(name)));
}
