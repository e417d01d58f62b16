#include "OpenMainWindow.h"

#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "MyTreeView.h"
#include "SmsBrowser.h"

OpenMainWindow::Entry OpenMainWindow::entryOf(const QAction *action)
{
    Entry e;
    e.separator = action->isSeparator();
    e.text = action->text();
    e.hasIcon = !action->icon().pixmap(16, 16).isNull();
    e.enabled = action->isEnabled();
    return e;
}

QList<OpenMainWindow::Entry> OpenMainWindow::entriesOf(const QList<QAction *> &actions)
{
    QList<Entry> list;
    for (const QAction *a : actions)
        list.append(entryOf(a));
    return list;
}

OpenMainWindow::OpenMainWindow() = default;

MyTreeView *OpenMainWindow::sourceTree() const
{
    return findChild<MyTreeView *>(QStringLiteral("treeViewDS"));
}

MyTreeView *OpenMainWindow::messageList() const
{
    return findChild<MyTreeView *>(QStringLiteral("treeViewSMS"));
}

SmsBrowser *OpenMainWindow::conversationView() const
{
    return findChild<SmsBrowser *>(QStringLiteral("txtSMS"));
}

QLabel *OpenMainWindow::countLabel() const
{
    return findChild<QLabel *>(QStringLiteral("lbSMSCount"));
}

QLineEdit *OpenMainWindow::messageKeyword() const
{
    return findChild<QLineEdit *>(QStringLiteral("txtSMSKeyword"));
}

QLineEdit *OpenMainWindow::contactKeyword() const
{
    return findChild<QLineEdit *>(QStringLiteral("txtHandleKeyword"));
}

void OpenMainWindow::makeCurrent(AbsTreeItemModel::_ItemNode *node)
{
    sourceTree()->setCurrentIndex(m_mainModel->indexOfNode(node));
}

void OpenMainWindow::selectRows(const QList<int> &rows)
{
    QItemSelection selection;
    for (int row : rows) {
        const QModelIndex first = m_smsModel->index(row, 0);
        const QModelIndex last = m_smsModel->index(row, m_smsModel->columnCount() - 1);
        selection.select(first, last);
    }
    messageList()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void OpenMainWindow::execContextMenu(QMenu &menu)
{
    m_shown.append(entriesOf(menu.actions()));
    if (onMenu)
        onMenu(menu);
}
