#include "ProgressForm.h"

#include "ui_ProgressForm.h"

#include <QCloseEvent>
#include <QMetaObject>

#include "AppStyleSheet.h"
#include "MessageBoxes.h"
#include "ThreadHandOff.h"
#include "WinMovable.h"

ProgressForm::ProgressForm(const QString &title, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::ProgressForm>())
{
    m_ui->setupUi(this);
    m_mover = std::make_unique<WinMovable>(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setStyleSheet(appStyleSheet());
    connect(this, &QDialog::finished, this, &ProgressForm::onFinish);
    connect(m_ui->btnCancel, &QPushButton::pressed, this, &ProgressForm::cancel);
    setWindowTitle(title);
    m_ui->lbStatus->setText(title);
}

// Declared here so that the form record and the drag handler, complete
// types only in this file, go before the dialog itself.
ProgressForm::~ProgressForm() = default;

void ProgressForm::setCancelEnabled(bool enabled)
{
    m_ui->btnCancel->setEnabled(enabled);
}

bool ProgressForm::isCancelled() const
{
    return m_cancelled.load();
}

bool ProgressForm::isWaiting() const
{
    return m_waiting.load();
}

void ProgressForm::markWaiting()
{
    m_waiting.store(true);
}

void ProgressForm::postUpdateProgress(QObject *form, const QString &status, int curProgress, const QString &progressText)
{
    if (!form)
        return;
    announceHandOff(form);
    QMetaObject::invokeMethod(form, "updateProgress", Qt::AutoConnection, Q_ARG(QString, status),
            Q_ARG(int, curProgress), Q_ARG(QString, progressText));
}

void ProgressForm::postErrorOccurred(QObject *form, const QString &err)
{
    if (!form)
        return;
    announceHandOff(form);
    QMetaObject::invokeMethod(form, "errorOccurred", Qt::AutoConnection, Q_ARG(QString, err));
}

void ProgressForm::postSucceed(QObject *form, const QString &tipsStr)
{
    if (!form)
        return;
    announceHandOff(form);
    QMetaObject::invokeMethod(form, "succeed", Qt::AutoConnection, Q_ARG(QString, tipsStr));
}

void ProgressForm::postTipsWait(QObject *form, const QString &info)
{
    if (!form)
        return;
    QMetaObject::invokeMethod(form, "markWaiting", Qt::DirectConnection);
    announceHandOff(form);
    QMetaObject::invokeMethod(form, "tipsWait", Qt::AutoConnection, Q_ARG(QString, info));
}

bool ProgressForm::isCancelled(const QObject *form)
{
    bool cancelled = false;
    if (form)
        QMetaObject::invokeMethod(const_cast<QObject *>(form), "isCancelled", Qt::DirectConnection,
            Q_RETURN_ARG(bool, cancelled));
    return cancelled;
}

bool ProgressForm::isWaiting(const QObject *form)
{
    bool waiting = false;
    if (form)
        QMetaObject::invokeMethod(const_cast<QObject *>(form), "isWaiting", Qt::DirectConnection,
            Q_RETURN_ARG(bool, waiting));
    return waiting;
}

void ProgressForm::accept()
{
}

void ProgressForm::reject()
{
}

void ProgressForm::closeEvent(QCloseEvent *event)
{
    // Granted, the dialog ends through Cancel, so that the worker hears of
    // it; refused, the dialog stays as it is.
    if (m_ui->btnCancel->isEnabled() && isVisible())
        cancel();
    event->setAccepted(!isVisible());
}

bool ProgressForm::claimEnd()
{
    if (m_ended)
        return false;
    m_ended = true;
    return true;
}

void ProgressForm::updateProgress(QString status, int curProgress, QString progressText)
{
    if (!status.isEmpty())
        m_ui->lbStatus->setText(status);
    QProgressBar *bar = m_ui->progressBar;
    // Past the bar's end the bar would silently keep its old value; clamp so
    // that the bar and the text always agree.
    const int value = curProgress < 0 ? bar->value() : qBound(bar->minimum(), curProgress, bar->maximum());
    bar->setValue(value);
    if (progressText.isEmpty())
        progressText = tr("Progress:%1%").arg(value);
    m_ui->lbProgress->setText(progressText);
}

void ProgressForm::errorOccurred(QString err)
{
    if (!claimEnd())
        return;
    // Raised before the box rather than when the dialog closes, so that a
    // worker still running stops while the user reads the error.
    m_cancelled.store(true);
    showError(err);
    done(0);
}

void ProgressForm::succeed(QString tipsStr)
{
    if (!claimEnd())
        return;
    if (!tipsStr.isEmpty())
        showInformation(tipsStr);
    done(1);
}

void ProgressForm::onFinish(int result)
{
    m_cancelled.store(result == 0);
}

void ProgressForm::tipsWait(QString info)
{
    showInformation(info);
    m_waiting.store(false);
}

void ProgressForm::cancel()
{
    if (!claimEnd())
        return;
    emit userCacel();
    done(0);
}
