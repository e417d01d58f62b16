#include "ModalDialogDriver.h"

#include <QApplication>
#include <QMessageBox>
#include <QPrintPreviewDialog>

#include "ProgressForm.h"

namespace
{

constexpr int kTickMs = 10;
// How long a dialog may stay open with no step for it.
constexpr int kGraceTicks = 1000;

bool leftAlone(const QWidget *w)
{
    return qobject_cast<const QMessageBox *>(w) || qobject_cast<const ProgressForm *>(w)
           || qobject_cast<const QPrintPreviewDialog *>(w);
}

} // namespace

ModalDialogDriver::ModalDialogDriver()
{
    m_timer.setInterval(kTickMs);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
    m_timer.start();
}

ModalDialogDriver::~ModalDialogDriver() = default;

void ModalDialogDriver::poll()
{
    auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    if (!dialog || leftAlone(dialog) || !dialog->isVisible())
        return;
    if (!m_steps.isEmpty()) {
        const Queued &next = m_steps.first();
        if (QString::fromLatin1(dialog->metaObject()->className()) != next.className) {
            m_unexpected.append(QString::fromLatin1(dialog->metaObject()->className()));
            dialog->reject();
            return;
        }
        // Copied: the step may open a dialog of its own, which polls again.
        const Step step = next.step;
        const QString name = next.className;
        m_steps.removeFirst();
        m_idle = nullptr;
        if (step(*dialog)) {
            m_handled.append(name);
        } else {
            m_steps.prepend({name, step});
        }
        return;
    }
    if (m_idle != dialog) {
        m_idle = dialog;
        m_idleTicks = 0;
        return;
    }
    if (++m_idleTicks == kGraceTicks) {
        m_unexpected.append(QString::fromLatin1(dialog->metaObject()->className()));
    }
    if (m_idleTicks >= kGraceTicks)
        dialog->reject();
}
