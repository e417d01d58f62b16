#pragma once

#include <functional>
#include <memory>

#include <QDialog>
#include <QSharedPointer>
#include <QString>

#include "BackupManifest.h"
#include "ItemModelLoadBk.h"

namespace Ui
{
class LoadItunesBackupDlg;
}
class QResizeEvent;
class WinMovable;

// Lists the backups in the user's iTunes backup folder, newest first, lets
// the user add a backup folder from elsewhere, and hands the chosen one to
// the caller: exec() returns 1 when a backup was loaded, and selectedBackup()
// then gives it, its description read.
class LoadItunesBackupDlg : public QDialog
{
    Q_OBJECT

public:
    // Asks for a folder, starting in startDir; an empty answer means none.
    using FolderChooser = std::function<QString(const QString &startDir)>;

    explicit LoadItunesBackupDlg(QWidget *parent = nullptr);
    ~LoadItunesBackupDlg() override;

    // Null until Load succeeded.
    QSharedPointer<BackupManifest> selectedBackup() const { return m_selected; }

    // The step that asks for another backup folder (by default the standard
    // folder chooser). Tests install their own; the application never does.
    // Returns the chooser it replaces; an empty one restores the default.
    static FolderChooser setFolderChooser(FolderChooser chooser);

protected slots:
    void btnAddOtherClicked(const QString &link);
    void btnLoadClicked();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void listBackups();

    std::unique_ptr<Ui::LoadItunesBackupDlg> m_ui;
    std::unique_ptr<WinMovable> m_mover;
    ItemModelLoadBk m_model;
    QSharedPointer<BackupManifest> m_selected;
};
