#include "LoadItunesBackupDlg.h"

#include "ui_LoadItunesBackupDlg.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QResizeEvent>

#include <exception>

#include "AppStyleSheet.h"
#include "BackupFolders.h"
#include "MessageBoxes.h"
#include "WinMovable.h"

namespace
{

LoadItunesBackupDlg::FolderChooser &chooserSlot()
{
    static LoadItunesBackupDlg::FolderChooser chooser;
    return chooser;
}

QString chooseFolder(const QString &startDir)
{
    // A copy, so that a chooser may replace itself while it runs.
    const LoadItunesBackupDlg::FolderChooser chooser = chooserSlot();
    if (chooser)
        return chooser(startDir);
    return QFileDialog::getExistingDirectory(nullptr, QString(), startDir, QFileDialog::ShowDirsOnly);
}

void reportLoadError(const QString &path, const std::exception &e)
{
    const QString text = QStringLiteral("load %1 error. %2").arg(path, QString::fromUtf8(e.what()));
    qWarning("%s", qUtf8Printable(text));
    showError(text);
}

} // namespace

LoadItunesBackupDlg::FolderChooser LoadItunesBackupDlg::setFolderChooser(FolderChooser chooser)
{
    FolderChooser previous = std::move(chooserSlot());
    chooserSlot() = std::move(chooser);
    return previous;
}

LoadItunesBackupDlg::LoadItunesBackupDlg(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::LoadItunesBackupDlg>())
{
    m_ui->setupUi(this);
    m_mover = std::make_unique<WinMovable>(this);
    connect(m_ui->lbAddOther, &QLabel::linkActivated, this, &LoadItunesBackupDlg::btnAddOtherClicked);
    connect(m_ui->btnLoad, &QPushButton::pressed, this, &LoadItunesBackupDlg::btnLoadClicked);
    connect(m_ui->listBackups, &QTreeView::doubleClicked, this, &LoadItunesBackupDlg::btnLoadClicked);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setStyleSheet(appStyleSheet());
    m_ui->listBackups->setModel(&m_model);

    listBackups();
    m_ui->listBackups->setCurrentIndex(QModelIndex());
}

// Declared here so that the form record, complete only in this file, goes
// with the dialog.
LoadItunesBackupDlg::~LoadItunesBackupDlg() = default;

void LoadItunesBackupDlg::listBackups()
{
    const QDir root = itunesBackupRoot();
    const QFileInfoList folders = root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Time | QDir::Reversed);
    for (const QFileInfo &entry : folders) {
        const QDir folder(entry.absoluteFilePath());
        if (!QFileInfo(folder.filePath(QStringLiteral("Manifest.mbdb"))).isFile()
            || !QFileInfo(folder.filePath(QStringLiteral("Manifest.plist"))).isFile())
            continue;
        const auto backup = QSharedPointer<BackupManifest>::create(entry.absoluteFilePath());
        try {
            backup->loadInfo();
        } catch (const std::exception &e) {
            reportLoadError(entry.absoluteFilePath(), e);
            continue;
        }
        m_model.addBackup(backup);
    }
}

void LoadItunesBackupDlg::btnAddOtherClicked(const QString &)
{
    const QString path = chooseFolder(QDir::home().absolutePath());
    if (path.isEmpty())
        return;
    const auto backup = QSharedPointer<BackupManifest>::create(path);
    const QString id = backup->id();
    for (const AbsTreeItemModel::_ItemNode *node : m_model.topLevelNodes()) {
        const auto *listed = static_cast<const ItemModelLoadBk::_BKItemNode *>(node);
        if (listed->backup && listed->backup->id() == id) {
            showWarning(tr("IDS_LOAD_BK_EXISTS"));
            return;
        }
    }
    try {
        backup->loadInfo();
    } catch (const std::exception &e) {
        reportLoadError(path, e);
        return;
    }
    const ItemModelLoadBk::_BKItemNode *node = m_model.addBackup(backup);
    m_ui->listBackups->setCurrentIndex(m_model.indexOfNode(node));
}

void LoadItunesBackupDlg::btnLoadClicked()
{
    const QSharedPointer<BackupManifest> backup = m_model.backupAt(m_ui->listBackups->currentIndex());
    if (!backup) {
        showWarning(tr("IDS_PLEASE_SELECT_ONE_ITUNES_BACKUP"));
        return;
    }
    m_selected = backup;
    accept();
}

void LoadItunesBackupDlg::resizeEvent(QResizeEvent *event)
{
    const int w = event->size().width() - 80;
    QHeaderView *header = m_ui->listBackups->header();
    // A dialog narrower than the margin gives no negative widths.
    header->resizeSection(0, qMax(0, int(w * 0.4)));
    header->resizeSection(1, qMax(0, int(w * 0.25)));
    header->resizeSection(2, qMax(0, int(w * 0.35)));
}
