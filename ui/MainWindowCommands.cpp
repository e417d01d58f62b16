#include "MainWindow.h"

void MainWindow::onMainTreeSelected(QItemSelection selections, QItemSelection)
{
    updateActions();
}

void MainWindow::onSMSItemSelected(QItemSelection selections, QItemSelection)
{
}

void MainWindow::onSMSSortIndicatorChanged(int logicalIndex, Qt::SortOrder order)
{
}

void MainWindow::searchMessages()
{
}

void MainWindow::searchCotnact()
{
}

void MainWindow::miViewCache()
{
}

void MainWindow::miOpenDbFolder()
{
}

void MainWindow::miHelp()
{
}

void MainWindow::miFeedback()
{
}

void MainWindow::miHome()
{
}

void MainWindow::miClearCache()
{
}

void MainWindow::miAbout()
{
}

void MainWindow::selectNode(AbsTreeItemModel::_ItemNode *node)
{
}

void MainWindow::showChatMessages(QList<_MsgMessage *> messages)
{
}

void MainWindow::clearMessageList()
{
}

QList<_MsgMessage *> MainWindow::messagesOfCurrentNode()
{
    return {};
}

QList<_MsgMessage *> MainWindow::selectedMessages() const
{
    return {};
}
