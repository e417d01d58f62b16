#pragma once

#include <functional>

#include <QString>
#include <QStringList>

#include "MainWindow.h"

class ItemModelMain;
class ItemModelSms;
class MyTreeView;

// The main window with what a test needs to reach: its commands and helpers
// that are not slots, its two lists, and the context menus, which it shows
// to the test instead of at the mouse pointer.
class MainWindowProbe : public MainWindow
{
public:
    MainWindowProbe();

    using MainWindow::backupMessages;
    using MainWindow::backupMessagesToLocalDb;
    using MainWindow::currentNode;
    using MainWindow::ExportTarget;
    using MainWindow::exportFilters;
    using MainWindow::exportMessagesToFile;
    using MainWindow::exportTarget;
    using MainWindow::findLocalDb;
    using MainWindow::importMessages;
    using MainWindow::printMessages;

    ItemModelMain *mainModel() const { return m_mainModel; }
    ItemModelSms *smsModel() const { return m_smsModel; }
    MyTreeView *sourceTree() const;
    MyTreeView *messageList() const;

    // Makes the node current in the source tree and lets the window handle
    // the selection.
    void makeCurrent(AbsTreeItemModel::_ItemNode *node);
    // Selects the given rows of the message list (column 0), or none.
    void selectRows(const QList<int> &rows);

    // Runs a slot by name, as a menu entry or a connection would.
    void invoke(const char *slot);
    // Triggers the File menu's entry with this text; false when there is none.
    bool triggerFileMenuEntry(const QString &text);
    // Opens the context menu of the source tree, or of the message list, and
    // triggers its entry with this text; false when no such menu or entry
    // shows. The texts of the last menu shown are kept.
    bool triggerTreeContextEntry(const QString &text);
    bool triggerListContextEntry(const QString &text);
    const QStringList &lastMenuEntries() const { return m_lastEntries; }

protected:
    void execContextMenu(QMenu &menu) override;

private:
    QString m_wanted;
    bool m_triggered = false;
    QStringList m_lastEntries;
};
