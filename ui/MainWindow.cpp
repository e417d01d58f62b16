#include "MainWindow.h"

#include "ui_MainWindow.h"

#include <QCursor>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>

#include "AppFolders.h"
#include "AppStyleSheet.h"
#include "DesktopOpening.h"
#include "IOS6MessageDb.h"
#include "IOSDevice.h"
#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "MessageBoxes.h"
#include "SafePath.h"
#include "_ChatSessionItemNode.h"
#include "_IOSDeviceItemNode.h"
#include "_LocalDBItemNode.h"
#include "_RootDeviceItemNode.h"
#include "_RootLocalDBItemNode.h"

namespace
{

const char kStoredDevicesFolder[] = "virtual_ios";

QString storedDevicesPath()
{
    return QDir::cleanPath(appDataDir().absoluteFilePath(QLatin1String(kStoredDevicesFolder)));
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent, Qt::WindowFlags())
    , ui(new Ui::MainWindow)
    , m_updateChecker(this)
{
    ui->setupUi(this);
    setStyleSheet(appStyleSheet());

    connect(ui->treeViewDS, &MyTreeView::onSelectionChanged, this, &MainWindow::onMainTreeSelected);
    connect(ui->treeViewDS, &MyTreeView::createContextMenu, this, &MainWindow::onMainTreeContextMenu);
    connect(ui->treeViewSMS, &MyTreeView::onSelectionChanged, this, &MainWindow::onSMSItemSelected);
    connect(ui->treeViewSMS, &MyTreeView::createContextMenu, this, &MainWindow::onSMSContextMenu);
    connect(ui->btnSearchHandle, &QToolButton::pressed, this, &MainWindow::searchCotnact);
    connect(ui->txtHandleKeyword, &QLineEdit::returnPressed, this, &MainWindow::searchCotnact);
    connect(ui->btnSearchSMS, &QToolButton::pressed, this, &MainWindow::searchMessages);
    connect(ui->txtSMSKeyword, &QLineEdit::returnPressed, this, &MainWindow::searchMessages);

    ui->splitter->setSizes({250, 750});

    m_mainModel = new ItemModelMain(this);
    connect(m_mainModel, &QAbstractItemModel::rowsAboutToBeRemoved, this, &MainWindow::forgetRemovedRows);
    // The view moves the current index while the rows are still there: the
    // actions are worked out again on the tree as the removal left it, and
    // whenever sources are added.
    connect(m_mainModel, &QAbstractItemModel::rowsRemoved, this, &MainWindow::updateActions);
    connect(m_mainModel, &QAbstractItemModel::layoutChanged, this, &MainWindow::updateActions);
    ui->treeViewDS->setModel(m_mainModel);
    ui->treeViewDS->expandAll();

    m_smsModel = new ItemModelSms(this);
    ui->treeViewSMS->setSortingEnabled(true);
    QHeaderView *header = ui->treeViewSMS->header();
    header->setSectionsMovable(false);
    header->setSortIndicator(0, Qt::AscendingOrder);
    connect(header, &QHeaderView::sortIndicatorChanged, this, &MainWindow::onSMSSortIndicatorChanged);
    ui->treeViewSMS->setModel(m_smsModel);
    ui->treeViewSMS->setColumnWidth(0, 160);
    ui->treeViewSMS->setColumnWidth(1, 50);
    ui->treeViewSMS->setColumnWidth(2, 120);

    createMenus();

    setWindowTitle(QObject::tr("Quenmarvile Larkspan"));

    m_advLabel = new QLabel(ui->statusBar);
    ui->statusBar->setStyleSheet(QStringLiteral("QStatusBar::item{border: 0px}"));
    ui->statusBar->addWidget(m_advLabel, 0);
    m_updateChecker.attachNewsLabel(m_advLabel);

    // Device arrival and removal reach iosDeviceConnected and
    // iosDeviceDisconnected from here on, when the device framework is loaded.
    subscribeToDevices();

    openLocalDatabases();
    ui->treeViewDS->expand(m_mainModel->indexOfNode(m_mainModel->localDbRoot()));

    m_updateChecker.sendRequests();

    openStoredDevices();
}

MainWindow::~MainWindow()
{
    // The widgets and the two models go with the window as its children.
    delete ui;
}

QDir MainWindow::deviceCacheDir(const IOSDevice &device)
{
    const QFileInfo id(device.uniqueDeviceId);
    // A stored device's identifier is its folder, right inside the stored
    // devices; its name was read from that folder, so it may hold a backslash.
    if (id.isAbsolute() && QDir::cleanPath(id.absolutePath()) == storedDevicesPath()
        && isSafePathComponent(id.fileName(), Backslash::Character))
        return QDir(id.absoluteFilePath());
    return device.cacheDir();
}

void MainWindow::openLocalDatabases()
{
    // Listed only: a database is opened and read when its node is selected,
    // so a damaged one does not stand in the way of the start.
    const QFileInfoList folders = localDatabasesDir().entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &folder : folders) {
        QSharedPointer<AbsMessageDb> db(new IOS6MessageDb(QDir(folder.absoluteFilePath()), QString(), true));
        m_mainModel->addLocalDb(db, folder.fileName());
    }
}

void MainWindow::openStoredDevices()
{
    // Each folder stands for a device that needs no hardware: its folder is
    // its message source, and its path its identifier.
    const QFileInfoList folders = QDir(storedDevicesPath()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &folder : folders) {
        auto device = QSharedPointer<IOSDevice>::create();
        device->deviceName = folder.fileName();
        device->uniqueDeviceId = folder.absoluteFilePath();
        QSharedPointer<AbsMessageDb> db(new IOS6MessageDb(QDir(folder.absoluteFilePath()), QString(), true));
        _IOSDeviceItemNode *node = m_mainModel->addDevice(db, device, device->deviceName);
        try {
            db->chats(node->dataSet);
            m_mainModel->loadChatSessions(node);
        } catch (const std::exception &e) {
            showError(QString::fromUtf8(e.what()));
        }
    }
}

void MainWindow::miCheckUpdate()
{
    openPageOrTell(UpdateChecker::updatePageUrl().toString(QUrl::FullyEncoded));
}

// ---------------------------------------------------------------------------
// Menus, tool bar, action enabling and context menus

namespace
{

// Adds an entry that runs slot on window; the icon is left out when empty.
template<typename Slot>
QAction *addEntry(QMenu *menu, MainWindow *window, const QString &text, const char *icon, Slot slot,
                  bool enabled = true)
{
    QAction *action = icon ? menu->addAction(QIcon(QLatin1String(icon)), text) : menu->addAction(text);
    QObject::connect(action, &QAction::triggered, window, slot);
    action->setEnabled(enabled);
    return action;
}

} // namespace

MainWindow::DataActions MainWindow::dataActionsFor(int sourceType, int deviceCount)
{
    DataActions actions;
    if (sourceType == _IOSDeviceItemNode::Type) {
        actions.backup = true;
        actions.i2i = deviceCount > 1;
        actions.exportFile = true;
        actions.print = true;
    } else if (sourceType == _LocalDBItemNode::Type) {
        actions.db2i = deviceCount >= 1;
        actions.exportFile = true;
        actions.print = true;
        actions.del = true;
    }
    return actions;
}

void MainWindow::createMenus()
{
    // Menu titles are not translated; the entries are, in the QObject context.
    QMenu *file = ui->menuBar->addMenu(QStringLiteral("File"));
    m_backupAction = addEntry(file, this, QObject::tr("Backup SMS to Local Database"), ":res/backup.png",
                              &MainWindow::miBackup, false);
    m_i2iAction = addEntry(file, this, QObject::tr("Transfer iPhone SMS to other iPhone"), ":res/i2i.png",
                           &MainWindow::miI2I, false);
    m_db2iAction = addEntry(file, this, QObject::tr("Transfer SMS from Database to iPhone"), ":res/db2i.png",
                            &MainWindow::miDb2I, false);
    file->addSeparator();
    m_exportAction =
        addEntry(file, this, QObject::tr("Export SMS to File"), ":res/export.png", &MainWindow::miExport, false);
    m_printAction = addEntry(file, this, QObject::tr("Print SMS"), ":res/print.png", &MainWindow::miPrint, false);
    m_deleteAction = addEntry(file, this, QObject::tr("Delete SMS"), ":res/delete.png", &MainWindow::miDel, false);
    file->addSeparator();
    addEntry(file, this, QObject::tr("Import SMS from iTunes Backup to Local Database"), ":res/import_itunes.png",
             &MainWindow::miImportItunes);
    addEntry(file, this, QObject::tr("Open Database Folder"), ":res/open_db_folder.png", &MainWindow::miOpenDbFolder);
    addEntry(file, this, QObject::tr("Exit"), ":res/exit.png", &MainWindow::close);

    QMenu *tools = ui->menuBar->addMenu(QStringLiteral("Tools"));
    addEntry(tools, this, QObject::tr("Check for Update"), nullptr, &MainWindow::miCheckUpdate);
    addEntry(tools, this, QObject::tr("Clear Cache files"), nullptr, &MainWindow::miClearCache);

    QMenu *help = ui->menuBar->addMenu(QStringLiteral("Help"));
    addEntry(help, this, QObject::tr("Help"), ":res/help.png", &MainWindow::miHelp);
    addEntry(help, this, QObject::tr("Feedback and Support"), nullptr, &MainWindow::miFeedback);
    addEntry(help, this, QObject::tr("About"), nullptr, &MainWindow::miAbout);

    ui->mainToolBar->addAction(m_backupAction);
    ui->mainToolBar->addAction(m_i2iAction);
    ui->mainToolBar->addAction(m_db2iAction);
    ui->mainToolBar->addSeparator();
    ui->mainToolBar->addAction(m_exportAction);
    ui->mainToolBar->addAction(m_printAction);
    ui->mainToolBar->addAction(m_deleteAction);
}

AbsTreeItemModel::_ItemNode *MainWindow::currentNode() const
{
    return m_mainModel->nodeOf(ui->treeViewDS->currentIndex());
}

_AbsDBItemNode *MainWindow::currentSourceNode() const
{
    AbsTreeItemModel::_ItemNode *node = currentNode();
    if (node && node->type == _ChatSessionItemNode::Type)
        node = node->parent;
    if (node && (node->type == _IOSDeviceItemNode::Type || node->type == _LocalDBItemNode::Type))
        return static_cast<_AbsDBItemNode *>(node);
    return nullptr;
}

int MainWindow::deviceCount() const
{
    return m_mainModel->countChildrenOfType(m_mainModel->deviceRoot(), _IOSDeviceItemNode::Type);
}

void MainWindow::updateActions()
{
    // Setting the models raises selection changes before the menus exist.
    if (!m_backupAction)
        return;
    const _AbsDBItemNode *source = currentSourceNode();
    const DataActions rule = dataActionsFor(source ? source->type : 0, deviceCount());
    m_backupAction->setEnabled(rule.backup);
    m_i2iAction->setEnabled(rule.i2i);
    m_db2iAction->setEnabled(rule.db2i);
    m_exportAction->setEnabled(rule.exportFile);
    m_printAction->setEnabled(rule.print);
    m_deleteAction->setEnabled(rule.del);
}

std::unique_ptr<QMenu> MainWindow::createMainTreeContextMenu()
{
    const AbsTreeItemModel::_ItemNode *node = currentNode();
    if (!node)
        return nullptr;
    const int devices = deviceCount();
    auto menu = std::make_unique<QMenu>(this);
    QMenu *m = menu.get();
    switch (node->type) {
    case _RootLocalDBItemNode::Type:
        addEntry(m, this, QObject::tr("Open Database Folder"), ":res/open_db_folder.png", &MainWindow::miOpenDbFolder);
        addEntry(m, this, QObject::tr("Import SMS from iTunes Backup to Local Database"), ":res/import_itunes.png",
                 &MainWindow::miImportItunes);
        break;
    case _IOSDeviceItemNode::Type:
        addEntry(m, this, QObject::tr("Backup SMS to Local Database"), ":res/backup.png", &MainWindow::miBackupAll);
        addEntry(m, this, QObject::tr("Transfer iPhone SMS to other iPhone"), ":res/i2i.png", &MainWindow::miI2IAll,
                 devices > 1);
        addEntry(m, this, QObject::tr("Export SMS to File"), ":res/export.png", &MainWindow::miExportAll);
        addEntry(m, this, QObject::tr("Print SMS"), ":res/print.png", &MainWindow::miPrintAll);
        addEntry(m, this, QObject::tr("View Cache Files"), nullptr, &MainWindow::miViewCache);
        addEntry(m, this, QObject::tr("Disconnect Device"), ":res/unmount.png", &MainWindow::miUnmoutDevice);
        break;
    case _LocalDBItemNode::Type:
        addEntry(m, this, QObject::tr("Import SMS from iTunes Backup to this Local Database"),
                 ":res/import_itunes.png", &MainWindow::miImportToLocalDb);
        addEntry(m, this, QObject::tr("Export SMS to iTunes Backup"), nullptr, &MainWindow::miExport2iTunesAll);
        addEntry(m, this, QObject::tr("Transfer SMS from Database to iPhone"), ":res/db2i.png",
                 &MainWindow::miDb2IAll, devices >= 1);
        addEntry(m, this, QObject::tr("Export SMS to File"), ":res/export.png", &MainWindow::miExportAll);
        addEntry(m, this, QObject::tr("Print SMS"), ":res/print.png", &MainWindow::miPrintAll);
        addEntry(m, this, QObject::tr("Delete this Database"), ":res/delete.png", &MainWindow::miDelAll);
        break;
    case _ChatSessionItemNode::Type: {
        const int parentType = node->parent ? node->parent->type : 0;
        if (parentType == _LocalDBItemNode::Type) {
            addEntry(m, this, QObject::tr("Export SMS with this contact to iTunes Backup"), nullptr,
                     &MainWindow::miExport2iTunesChat);
            addEntry(m, this, QObject::tr("Transfer SMS with this contact to iPhone"), ":res/db2i.png",
                     &MainWindow::miDb2IChat, devices >= 1);
            addEntry(m, this, QObject::tr("Export SMS with this contact to File"), ":res/export.png",
                     &MainWindow::miExportChat);
            addEntry(m, this, QObject::tr("Print SMS with this contact"), ":res/print.png", &MainWindow::miPrintChat);
            addEntry(m, this, QObject::tr("Delete SMS with this contact"), ":res/delete.png",
                     &MainWindow::miDelChat);
        } else if (parentType == _IOSDeviceItemNode::Type) {
            addEntry(m, this, QObject::tr("Backup SMS with this contact to Local Database"), ":res/backup.png",
                     &MainWindow::miBackupChat);
            addEntry(m, this, QObject::tr("Transfer SMS with this contact to other iPhone"), ":res/i2i.png",
                     &MainWindow::miI2IChat, devices > 1);
            addEntry(m, this, QObject::tr("Export SMS with this contact to File"), ":res/export.png",
                     &MainWindow::miExportChat);
            addEntry(m, this, QObject::tr("Print SMS with this contact"), ":res/print.png", &MainWindow::miPrintChat);
        } else {
            return nullptr;
        }
        break;
    }
    default:
        return nullptr;
    }
    return menu;
}

std::unique_ptr<QMenu> MainWindow::createSMSContextMenu()
{
    const _AbsDBItemNode *source = currentSourceNode();
    if (!source)
        return nullptr;
    const int devices = deviceCount();
    auto menu = std::make_unique<QMenu>(this);
    QMenu *m = menu.get();
    if (source->type == _LocalDBItemNode::Type) {
        addEntry(m, this, QObject::tr("Export Selected SMS to iTunes Backup"), nullptr,
                 &MainWindow::miExport2iTunesSel);
        addEntry(m, this, QObject::tr("Transfer Selected SMS to iPhone"), ":res/db2i.png", &MainWindow::miDb2ISel,
                 devices >= 1);
        addEntry(m, this, QObject::tr("Export Selected SMS to File"), ":res/export.png", &MainWindow::miExportSel);
        addEntry(m, this, QObject::tr("Print Selected SMS"), ":res/print.png", &MainWindow::miPrintSel);
        addEntry(m, this, QObject::tr("Delete Selected SMS"), ":res/delete.png", &MainWindow::miDelSel);
    } else {
        addEntry(m, this, QObject::tr("Backup Selected SMS to Local Database"), ":res/backup.png",
                 &MainWindow::miBackupSel);
        addEntry(m, this, QObject::tr("Transfer Selected SMS to other iPhone"), ":res/i2i.png",
                 &MainWindow::miI2ISel, devices > 1);
        addEntry(m, this, QObject::tr("Export Selected SMS to File"), ":res/export.png", &MainWindow::miExportSel);
        addEntry(m, this, QObject::tr("Print Selected SMS"), ":res/print.png", &MainWindow::miPrintSel);
    }
    return menu;
}

void MainWindow::execContextMenu(QMenu &menu)
{
    menu.exec(QCursor::pos());
}

void MainWindow::onMainTreeContextMenu()
{
    if (std::unique_ptr<QMenu> menu = createMainTreeContextMenu())
        execContextMenu(*menu);
}

void MainWindow::onSMSContextMenu()
{
    if (std::unique_ptr<QMenu> menu = createSMSContextMenu())
        execContextMenu(*menu);
}
