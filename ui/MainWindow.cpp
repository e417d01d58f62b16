#include "MainWindow.h"

#include "ui_MainWindow.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>

#include "AppFolders.h"
#include "AppStyleSheet.h"
#include "IOS6MessageDb.h"
#include "IOSDevice.h"
#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "MessageBoxes.h"
#include "ShellUtils.h"
#include "_IOSDeviceItemNode.h"
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

    // Device arrival and removal are subscribed to here, once the device
    // layer offers the subscription.

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
    if (id.isAbsolute() && QDir::cleanPath(id.absolutePath()) == storedDevicesPath() && id.fileName() != QLatin1String(".")
        && id.fileName() != QLatin1String(".."))
        return QDir(id.absoluteFilePath());
    return device.cacheDir();
}

void MainWindow::createMenus()
{
    // The menus, the tool bar and the data actions are built here.
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
    shellOpen(UpdateChecker::updatePageUrl().toString(QUrl::FullyEncoded));
}

void MainWindow::onMainTreeSelected(QItemSelection selections, QItemSelection)
{
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

void MainWindow::onMainTreeContextMenu()
{
}

void MainWindow::onSMSContextMenu()
{
}
