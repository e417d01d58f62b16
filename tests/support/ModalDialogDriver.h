#pragma once

#include <functional>

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

// Acts in the modal dialogs that a command under test opens, in the order
// they come: each queued step is handed the dialog that is modal at the time
// and runs once it says it is done. Message boxes (answered by
// MessageBoxAnswerer), progress dialogs (ended by their workers) and print
// previews (their own seam) are left alone.
//
// A dialog left open with no step to take it is recorded as unexpected and
// rejected after a grace period, so that a test fails instead of hanging.
class ModalDialogDriver
{
public:
    // Returns false when the dialog is not ready for it yet; it is then asked
    // again shortly.
    using Step = std::function<bool(QDialog &)>;

    ModalDialogDriver();
    ~ModalDialogDriver();
    ModalDialogDriver(const ModalDialogDriver &) = delete;
    ModalDialogDriver &operator=(const ModalDialogDriver &) = delete;

    // A step for a dialog of class T; another dialog in its place is recorded
    // as unexpected and rejected, and the step stays queued.
    template <class T>
    ModalDialogDriver &then(std::function<bool(T &)> step)
    {
        m_steps.append({QString::fromLatin1(T::staticMetaObject.className()), [step](QDialog &d) {
                            T *t = qobject_cast<T *>(&d);
                            return t && step(*t);
                        }});
        return *this;
    }
    // A step that rejects the next dialog of class T.
    template <class T>
    ModalDialogDriver &thenReject()
    {
        return then<T>([](T &d) {
            d.reject();
            return true;
        });
    }

    int pendingSteps() const { return int(m_steps.size()); }
    // The class of each dialog a step was taken in, in order.
    const QStringList &handled() const { return m_handled; }
    // The classes of dialogs that came with no step for them.
    const QStringList &unexpected() const { return m_unexpected; }

private:
    struct Queued
    {
        QString className;
        Step step;
    };
    void poll();

    QList<Queued> m_steps;
    QStringList m_handled;
    QStringList m_unexpected;
    QTimer m_timer;
    QPointer<QDialog> m_idle; // open with nothing to do since m_idleTicks
    int m_idleTicks = 0;
};
