#pragma once

#include <atomic>
#include <memory>

#include <QDialog>
#include <QString>

namespace Ui
{
class ProgressForm;
}
class WinMovable;

// The modal dialog under which a long operation runs in a worker thread.
//
// Workers never touch it as a widget. They hold it as a plain QObject* and
// use only the static functions below: the four post* functions invoke the
// slot of the same name by name (automatic connection: queued from another
// thread, at once from the GUI thread), and isCancelled()/isWaiting() read
// the flags by a direct call that only loads an atomic. Any object with the
// same slots, invokable flag readers and userCacel() signal can therefore
// stand in for the dialog, which is how workers are tested without widgets.
//
// Only the slots end the dialog: the first of succeed (result 1), an error
// or Cancel (result 0) wins, and any result 0 leaves the cancelled flag set.
// Closing the window counts as Cancel while Cancel is enabled, and is
// refused while it is not. Enter and Escape never end it.
class ProgressForm : public QDialog
{
    Q_OBJECT
public:
    explicit ProgressForm(const QString &title, QWidget *parent = nullptr);
    ~ProgressForm() override;

    void setCancelEnabled(bool enabled);

    // Any thread.
    Q_INVOKABLE bool isCancelled() const;
    Q_INVOKABLE bool isWaiting() const;

    // Worker side; any thread. A null form is ignored. Each post announces a
    // hand-off to the form (ThreadHandOff.h), which a receiver taking the
    // texts by reference accepts before it reads them.
    static void postUpdateProgress(QObject *form, const QString &status, int curProgress, const QString &progressText);
    static void postErrorOccurred(QObject *form, const QString &err);
    static void postSucceed(QObject *form, const QString &tipsStr);
    // Raises the waiting flag at once, then asks the form to show the note;
    // the flag drops when the user has closed it.
    static void postTipsWait(QObject *form, const QString &info);
    static bool isCancelled(const QObject *form);
    static bool isWaiting(const QObject *form);

public slots:
    void accept() override;
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

signals:
    // Emitted by Cancel just before the dialog ends; a worker driving a
    // cancellable sub-process connects it (by name: SIGNAL(userCacel())).
    void userCacel();

private slots:
    void updateProgress(QString status, int curProgress, QString progressText);
    void errorOccurred(QString err);
    void succeed(QString tipsStr);
    void onFinish(int result);
    void tipsWait(QString info);
    void cancel();

private:
    Q_INVOKABLE void markWaiting();
    // Claims the dialog's one ending; false when it has already ended.
    bool claimEnd();

    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_waiting{false};
    bool m_ended = false;
    std::unique_ptr<WinMovable> m_mover;
    std::unique_ptr<Ui::ProgressForm> m_ui;
};
