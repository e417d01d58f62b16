#pragma once

#include <memory>

#include <QDialog>

class BackupManifest;
class WinMovable;
namespace Ui
{
class PasscodeDlg;
}

// Asks for the password of an encrypted backup and unlocks its keybag with
// it. exec() returns 1 only once a typed password unlocked the backup; a
// wrong one empties the field and the dialog stays for another try.
//
// Deriving the key takes as many rounds as the keybag asks for, which a
// damaged or hostile backup can make seconds long; it runs on a thread of
// its own while the dialog keeps painting, its controls disabled.
class PasscodeDlg : public QDialog
{
    Q_OBJECT

public:
    // The backup is not owned; it must outlive the dialog.
    explicit PasscodeDlg(BackupManifest *backup, QWidget *parent = nullptr);
    ~PasscodeDlg() override;

    // True while a password is being tried.
    bool isUnlocking() const { return m_unlocking; }

public slots:
    // Ignored while a password is being tried: the backup is in use by the
    // unlocking thread until it ends.
    void reject() override;

protected slots:
    void btnOKPressed();

private:
    bool unlockInBackground(const QString &password);

    std::unique_ptr<Ui::PasscodeDlg> m_ui;
    std::unique_ptr<WinMovable> m_mover;
    BackupManifest *m_backup;
    bool m_unlocking = false;
};
