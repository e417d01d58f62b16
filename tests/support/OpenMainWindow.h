#pragma once

#include <QAction>
#include <QIcon>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

#include "MainWindow.h"

class ItemModelMain;
class ItemModelSms;
class MyTreeView;
class SmsBrowser;
class QLabel;
class QLineEdit;

// The main window with its commands and helpers opened to a test, and its
// context menus recorded instead of being run at the pointer.
class OpenMainWindow : public MainWindow
{
public:
    // One entry of a shown menu.
    struct Entry
    {
        QString text;
        bool hasIcon = false;
        bool enabled = false;
        bool separator = false;
    };
    static Entry entryOf(const QAction *action);
    static QList<Entry> entriesOf(const QList<QAction *> &actions);

    OpenMainWindow();

    using MainWindow::clearMessageList;
    using MainWindow::createMainTreeContextMenu;
    using MainWindow::createSMSContextMenu;
    using MainWindow::currentNode;
    using MainWindow::deviceCount;
    using MainWindow::messagesOfCurrentNode;
    using MainWindow::selectedMessages;
    using MainWindow::selectNode;
    using MainWindow::showChatMessages;

    using MainWindow::miAbout;
    using MainWindow::miClearCache;
    using MainWindow::miDel;
    using MainWindow::miDelAll;
    using MainWindow::miDelChat;
    using MainWindow::miDelSel;
    using MainWindow::miFeedback;
    using MainWindow::miHelp;
    using MainWindow::miHome;
    using MainWindow::miOpenDbFolder;
    using MainWindow::miViewCache;
    using MainWindow::onMainTreeContextMenu;
    using MainWindow::onSMSContextMenu;
    using MainWindow::searchCotnact;
    using MainWindow::searchMessages;

    QAction *backupAction() const { return m_backupAction; }
    QAction *i2iAction() const { return m_i2iAction; }
    QAction *db2iAction() const { return m_db2iAction; }
    QAction *exportAction() const { return m_exportAction; }
    QAction *printAction() const { return m_printAction; }
    QAction *deleteAction() const { return m_deleteAction; }

    ItemModelMain *mainModel() const { return m_mainModel; }
    ItemModelSms *smsModel() const { return m_smsModel; }
    MyTreeView *sourceTree() const;
    MyTreeView *messageList() const;
    SmsBrowser *conversationView() const;
    QLabel *countLabel() const;
    QLineEdit *messageKeyword() const;
    QLineEdit *contactKeyword() const;

    // Makes the node current at once, running the selection handlers.
    void makeCurrent(AbsTreeItemModel::_ItemNode *node);
    // Selects exactly the given rows of the message list.
    void selectRows(const QList<int> &rows);

    // Every context menu shown since the start, as its entries.
    const QList<QList<Entry>> &shownMenus() const { return m_shown; }
    // When set, called with each context menu instead of just recording it
    // (after recording it), to choose an entry, for example.
    std::function<void(QMenu &)> onMenu;

protected:
    void execContextMenu(QMenu &menu) override;

private:
    QList<QList<Entry>> m_shown;
};
