#include "MainWindowProbe.h"

#include <QAction>
#include <QCoreApplication>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMenuBar>

#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "MyTreeView.h"

MainWindowProbe::MainWindowProbe() = default;

MyTreeView *MainWindowProbe::sourceTree() const
{
    return findChild<MyTreeView *>(QStringLiteral("treeViewDS"));
}

MyTreeView *MainWindowProbe::messageList() const
{
    return findChild<MyTreeView *>(QStringLiteral("treeViewSMS"));
}

void MainWindowProbe::makeCurrent(AbsTreeItemModel::_ItemNode *node)
{
    sourceTree()->setCurrentIndex(m_mainModel->indexOfNode(node));
    // Queued work of the selection (expanding, making current) runs now.
    QCoreApplication::processEvents();
}

void MainWindowProbe::selectRows(const QList<int> &rows)
{
    QItemSelectionModel *selection = messageList()->selectionModel();
    selection->clearSelection();
    for (int row : rows)
        selection->select(m_smsModel->rowIndex(row), QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void MainWindowProbe::invoke(const char *slot)
{
    QMetaObject::invokeMethod(this, slot, Qt::DirectConnection);
}

bool MainWindowProbe::triggerFileMenuEntry(const QString &text)
{
    const QList<QAction *> menus = menuBar()->actions();
    for (QAction *menuAction : menus) {
        if (!menuAction->menu() || menuAction->text() != QLatin1String("File"))
            continue;
        const QList<QAction *> entries = menuAction->menu()->actions();
        for (QAction *entry : entries) {
            if (entry->text() == text && entry->isEnabled()) {
                entry->trigger();
                return true;
            }
        }
    }
    return false;
}

bool MainWindowProbe::triggerTreeContextEntry(const QString &text)
{
    m_wanted = text;
    m_triggered = false;
    m_lastEntries.clear();
    QMetaObject::invokeMethod(this, "onMainTreeContextMenu", Qt::DirectConnection);
    return m_triggered;
}

bool MainWindowProbe::triggerListContextEntry(const QString &text)
{
    m_wanted = text;
    m_triggered = false;
    m_lastEntries.clear();
    QMetaObject::invokeMethod(this, "onSMSContextMenu", Qt::DirectConnection);
    return m_triggered;
}

void MainWindowProbe::execContextMenu(QMenu &menu)
{
    QAction *chosen = nullptr;
    const QList<QAction *> entries = menu.actions();
    for (QAction *entry : entries) {
        m_lastEntries.append(entry->text());
        if (!chosen && entry->text() == m_wanted && entry->isEnabled())
            chosen = entry;
    }
    if (chosen) {
        m_triggered = true;
        chosen->trigger();
    }
}
