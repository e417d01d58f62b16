#pragma once

#include <functional>

#include <QList>
#include <QObject>
#include <QPointer>

class QTimer;
class QWidget;

// Plays steps on every modal dialog of one class that comes up while the
// watcher lives, once per dialog, however deep the modal loops that show
// them are nested. For roads that open dialogs at moments the test does not
// control (a device's arrival); ModalDriver is the simpler tool where the
// test starts the dialog itself.
class ModalWatcher : public QObject
{
public:
    // className: the dialog's class as QObject::inherits names it.
    ModalWatcher(const char *className, std::function<void(QWidget *dialog)> steps);
    ~ModalWatcher() override;

    // How many dialogs the steps were played on.
    int handled() const { return m_handled; }

private:
    void poll();

    const char *m_className;
    std::function<void(QWidget *)> m_steps;
    QList<QPointer<QWidget>> m_seen;
    QTimer *m_timer;
    int m_handled = 0;
};
