#include "ModalWatcher.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

ModalWatcher::ModalWatcher(const char *className, std::function<void(QWidget *)> steps)
    : m_className(className)
    , m_steps(std::move(steps))
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(10);
    connect(m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer->start();
}

ModalWatcher::~ModalWatcher() = default;

void ModalWatcher::poll()
{
    QWidget *dialog = QApplication::activeModalWidget();
    if (!dialog || !dialog->inherits(m_className) || !dialog->isVisible())
        return;
    for (const QPointer<QWidget> &seen : std::as_const(m_seen)) {
        if (seen == dialog)
            return;
    }
    m_seen.append(dialog);
    ++m_handled;
    m_steps(dialog);
}
