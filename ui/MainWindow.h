#pragma once

#include <QDir>
#include <QItemSelection>
#include <QMainWindow>

#include "UpdateChecker.h"

namespace Ui
{
class MainWindow;
}
class IOSDevice;
class ItemModelMain;
class ItemModelSms;
class QAction;
class QLabel;

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

protected slots:
    void miCheckUpdate();

    // Selection, sorting and search of the two lists.
    void onMainTreeSelected(QItemSelection selections, QItemSelection);
    void onSMSItemSelected(QItemSelection selections, QItemSelection);
    void onSMSSortIndicatorChanged(int logicalIndex, Qt::SortOrder order);
    void searchMessages();
    void searchCotnact();

    // Context menus of the two lists.
    void onMainTreeContextMenu();
    void onSMSContextMenu();

protected:
    // Builds the menu bar and the tool bar, keeping the six data actions.
    void createMenus();

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
    void openLocalDatabases();
    void openStoredDevices();
};
