#pragma once

#include <QDir>
#include <QItemSelection>
#include <QMainWindow>
#include <QPair>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <memory>

#include "AbsTreeItemModel.h"
#include "UpdateChecker.h"
#include "_MsgMessage.h"

class _LocalDBItemNode;

namespace Ui
{
class MainWindow;
}
class BackupManifest;
class IOSDevice;
class ItemModelMain;
class ItemModelSms;
class QAction;
class ProgressForm;
class QLabel;
class QMenu;
class QThread;
class _AbsDBItemNode;
class _IOSDeviceItemNode;

// The application's one top-level window: the source tree on the left (its
// devices, local databases and their conversations), the searchable message
// list at the top right with the conversation view below it, the menu bar,
// the tool bar, and the status bar with the news link.
//
// Constructing it lists what is on disk without reading any database except
// those of the stored devices, and starts the daily update check. Closing it
// ends the event loop; it is destroyed only at the end of the run.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The folder that holds a device's copied data. A stored device (a
    // folder of "virtual_ios", whose identifier is that folder's path) keeps
    // it in its own folder; any other device in its cache folder. Throws
    // std::runtime_error for an identifier that names neither.
    static QDir deviceCacheDir(const IOSDevice &device);

    // Which data actions a source allows, by the type of the source node
    // (0 for none) and the number of devices listed.
    struct DataActions
    {
        bool backup = false;
        bool i2i = false;
        bool db2i = false;
        bool exportFile = false;
        bool print = false;
        bool del = false;
    };
    static DataActions dataActionsFor(int sourceType, int deviceCount);

protected slots:
    void miCheckUpdate();

    // --- Selection, sorting, search and the small commands
    // (MainWindowCommands.cpp) -----------------------------------------
    void onMainTreeSelected(QItemSelection selections, QItemSelection);
    void onSMSItemSelected(QItemSelection selections, QItemSelection);
    void onSMSSortIndicatorChanged(int logicalIndex, Qt::SortOrder order);
    void searchMessages();
    void searchCotnact();
    void miViewCache();
    void miOpenDbFolder();
    void miHelp();
    void miFeedback();
    void miHome();
    void miClearCache();
    void miAbout();

    // --- Context menus of the two lists ----------------------------------
    void onMainTreeContextMenu();
    void onSMSContextMenu();

    // --- Backup to a local database, export to a file, printing ----------
    // (MainWindowTransfer.cpp)
    void miBackup();
    void miBackupSel();
    void miBackupChat();
    void miBackupAll();
    void miExport();
    void miExportSel();
    void miExportChat();
    void miExportAll();
    void miPrint();
    void miPrintSel();
    void miPrintChat();
    void miPrintAll();

    // --- Devices: arrival and removal (MainWindowDevice.cpp) ------------
    void iosDeviceConnected(void *p);
    void iosDeviceDisconnected(void *p);
    void miUnmoutDevice();

    // --- Transfer to a phone and into an iTunes backup: the command
    // families (MainWindowTransfer.cpp) ---------------------------------
    void miI2I();
    void miI2ISel();
    void miI2IChat();
    void miI2IAll();
    void miDb2I();
    void miDb2ISel();
    void miDb2IChat();
    void miDb2IAll();
    void miExport2iTunes();
    void miExport2iTunesSel();
    void miExport2iTunesChat();
    void miExport2iTunesAll();

private:
    // Of the conversations whose messages were just deleted from the
    // database, those left with none (the file has dropped them) leave the
    // record set, and the tree with the conversation nodes they empty.
    void dropEmptiedConversations(_LocalDBItemNode *database, const QSet<_MsgChat *> &touched);

    // Asks the device framework, when it is loaded, to report arrivals and
    // removals to the two slots above.
    void subscribeToDevices();
    // The road of one arrived device: its values, its country, its messages
    // database copied to the computer, its node.
    void loadArrivedDevice(void *p);
    bool copyDeviceDatabases(IOSDevice &device);
    bool copyDeviceDatabasesByBackup(IOSDevice &device);
    void addArrivedDevice(const IOSDevice &device);
    // Runs one stage of a road of a phone (its arrival, a transfer to it):
    // the stage ends as cancelled when the phone leaves while it runs.
    bool runDeviceStage(ProgressForm &form, QThread &worker, void *device);
    // Asked before each stage of a transfer and after one that did not
    // succeed: a target that left ends the transfer with an error naming it.
    // True while it is there.
    bool transferTargetStayed(const IOSDevice &device);
    // Merges the messages into the backup whose messages database was cached
    // in cacheDir; false when the merge failed or was cancelled. merged: the
    // messages taken into the merge; written: those the backup did not have
    // (none: the backup was left as it was).
    bool mergeIntoBackup(const QString &country, const QList<_MsgMessage *> &messages, const BackupManifest &backup,
                         const QDir &cacheDir, int &merged, int &written);

    // One device is loaded at a time; others that arrive meanwhile wait in
    // order. A device that leaves while it is being loaded gets no node.
    void *m_arrivingDevice = nullptr;
    bool m_arrivingDeviceLeft = false;
    QList<void *> m_waitingDevices;
    // The phone a transfer writes to while the transfer runs, and whether it
    // has left since the transfer began.
    void *m_transferDevice = nullptr;
    bool m_transferDeviceLeft = false;
    // The dialogs of the stages running for a phone, innermost last (an
    // arrival can run inside a stage of a transfer).
    QList<QPair<void *, QPointer<ProgressForm>>> m_deviceStages;

protected slots:
    // --- Import from an iTunes backup (MainWindowImport.cpp) -------------
    void miImportItunes();
    void miImportToLocalDb();

    // --- Deleting messages and local databases (MainWindowDelete.cpp) ----
    void miDel();
    void miDelSel();
    void miDelChat();
    void miDelAll();

protected:
    // Builds the menu bar and the tool bar, keeping the six data actions.
    void createMenus();
    // Enables the six data actions for the source of the current tree node.
    void updateActions();

    // The context menus for the current tree node, or null where none is
    // shown. Kept apart from showing them so that their entries can be read.
    std::unique_ptr<QMenu> createMainTreeContextMenu();
    std::unique_ptr<QMenu> createSMSContextMenu();
    // Runs a context menu modally at the mouse pointer.
    virtual void execContextMenu(QMenu &menu);

    // The current node of the source tree; null when there is none.
    AbsTreeItemModel::_ItemNode *currentNode() const;
    // The current node when it is a device or a local database, its parent
    // when it is a conversation under one; else null.
    _AbsDBItemNode *currentSourceNode() const;
    // How many devices are listed under the device root.
    int deviceCount() const;

    // Runs the member of a command family that its bare command stands for:
    // the selected rows when any row is selected, else the conversation on
    // show when the current node is one, else the whole current node.
    using FamilySlot = void (MainWindow::*)();
    void runFamily(FamilySlot selected, FamilySlot chat, FamilySlot all);

    // Makes a node current once control is back in the event loop.
    void selectNode(AbsTreeItemModel::_ItemNode *node);
    // Every message of the current source node, read afresh and sorted like
    // the list; empty (after an error box) when it cannot be read.
    QList<_MsgMessage *> messagesOfCurrentNode();
    // Reads a local database's conversations, its conversation entries and
    // (when it has any) its messages into the node's record set.
    void readLocalDb(_AbsDBItemNode *node);
    // Sorts the messages by the list header and shows them.
    void showChatMessages(QList<_MsgMessage *> messages);
    void clearMessageList();
    // The messages of the selected rows of the list, in selection order.
    QList<_MsgMessage *> selectedMessages() const;

    // The dialogs that commands ask through, each run modally over the
    // window. The name of the local database to write to (one listed or a
    // new one), empty when cancelled:
    QString askLocalDbName(const QString &defaultName);
    // The country of a device's numbers; false (mmc unchanged) when the
    // dialog ended without a choice:
    bool askCountryCode(QString &mmc);
    // A connected device to write to, other than source (null: any
    // connected device); null when cancelled:
    _IOSDeviceItemNode *askTargetDevice(const _IOSDeviceItemNode *source);

    // Backup, export and print of a list of messages (MainWindowTransfer.cpp).
    void backupMessages(const QList<_MsgMessage *> &messages);
    void backupMessagesToLocalDb(const QString &defaultName, const QList<_MsgMessage *> &messages);
    void exportMessagesToFile(const QList<_MsgMessage *> &messages);
    void printMessages(const QList<_MsgMessage *> &messages);

    // Chosen messages written to a phone listed in the tree (merged into a
    // fresh backup of it, which is then restored to it) or into an iTunes
    // backup the user picks (MainWindowDevice.cpp).
    void restoreMessagesToDevice(const QList<_MsgMessage *> &messages);
    void exportMessagesToItunes(const QList<_MsgMessage *> &messages);

    // The filters of the export's save dialog, in the dialog's order.
    static QStringList exportFilters();
    // What an export to the path chosen under the filter chosen writes: the
    // file (text, CSV) or folder (PDF, HTML) and the exporter's format code;
    // format -1 when the filter is none of exportFilters().
    struct ExportTarget
    {
        QString path;
        int format = -1;
    };
    static ExportTarget exportTarget(const QString &chosenPath, const QString &selectedFilter);
    // The local database listed under this name, ignoring letter case (the
    // first in tree order); null when there is none.
    _LocalDBItemNode *findLocalDb(const QString &name) const;

    // Import from an iTunes backup into the named local database, or into
    // one named after the backup's device when the name is empty; the name
    // used is written back (MainWindowImport.cpp).
    void importMessages(QString &targetName);

    Ui::MainWindow *ui;
    ItemModelMain *m_mainModel = nullptr;
    ItemModelSms *m_smsModel = nullptr;
    // The update check and the news link, with their two HTTP clients.
    UpdateChecker m_updateChecker;
    QLabel *m_advLabel = nullptr;

    // The data actions of the File menu and the tool bar, whose enabled
    // state follows the source tree.
    QAction *m_backupAction = nullptr;
    QAction *m_i2iAction = nullptr;
    QAction *m_db2iAction = nullptr;
    QAction *m_exportAction = nullptr;
    QAction *m_printAction = nullptr;
    QAction *m_deleteAction = nullptr;

private:
    // Empties the list before nodes leave the tree that own what it shows.
    void forgetRemovedRows(const QModelIndex &parent, int first, int last);

    // The source whose records the list and the conversation view show.
    const AbsTreeItemModel::_ItemNode *m_shownSource = nullptr;

    void openLocalDatabases();
    void openStoredDevices();
};
