#include "PasscodeDlg.h"

#include "ui_PasscodeDlg.h"

#include <QApplication>
#include <QEventLoop>
#include <QThread>

#include "AppStyleSheet.h"
#include "BackupManifest.h"
#include "MessageBoxes.h"
#include "WinMovable.h"

PasscodeDlg::PasscodeDlg(BackupManifest *backup, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::PasscodeDlg>())
    , m_backup(backup)
{
    m_ui->setupUi(this);
    m_mover = std::make_unique<WinMovable>(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setStyleSheet(appStyleSheet());
    connect(m_ui->btnOK, &QPushButton::pressed, this, &PasscodeDlg::btnOKPressed);
}

// Declared here so that the form record, complete only in this file, goes
// with the dialog.
PasscodeDlg::~PasscodeDlg() = default;

void PasscodeDlg::reject()
{
    if (m_unlocking)
        return;
    QDialog::reject();
}

void PasscodeDlg::btnOKPressed()
{
    if (m_unlocking)
        return;
    const QString password = m_ui->txtPasscode->text();
    if (password.isEmpty()) {
        showWarning(tr("IDS_PWD_IS_NULL"));
        return;
    }
    if (unlockInBackground(password)) {
        accept();
        return;
    }
    showWarning(tr("IDS_INVALID_PASSWORD"));
    m_ui->txtPasscode->clear();
    m_ui->txtPasscode->setFocus();
}

bool PasscodeDlg::unlockInBackground(const QString &password)
{
    if (!m_backup)
        return false;
    m_unlocking = true;
    for (QWidget *w : {static_cast<QWidget *>(m_ui->txtPasscode), static_cast<QWidget *>(m_ui->btnOK),
                       static_cast<QWidget *>(m_ui->btnCancel)})
        w->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);

    bool unlocked = false;
    BackupManifest *backup = m_backup;
    std::unique_ptr<QThread> worker(QThread::create([backup, password, &unlocked] {
        // Nothing may escape a thread's function.
        try {
            unlocked = backup->unlock(password);
        } catch (...) {
            unlocked = false;
        }
    }));
    QEventLoop loop;
    // Queued into this thread, so a thread that ends before the loop runs
    // still ends it.
    connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    worker->start();
    loop.exec();
    worker->wait();

    QApplication::restoreOverrideCursor();
    for (QWidget *w : {static_cast<QWidget *>(m_ui->txtPasscode), static_cast<QWidget *>(m_ui->btnOK),
                       static_cast<QWidget *>(m_ui->btnCancel)})
        w->setEnabled(true);
    m_unlocking = false;
    return unlocked;
}
