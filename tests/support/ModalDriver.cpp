#include "ModalDriver.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <gtest/gtest.h>

namespace
{

void poll(std::function<void(QWidget *)> steps, int triesLeft)
{
    QWidget *dialog = QApplication::activeModalWidget();
    if (!dialog) {
        if (triesLeft == 0) {
            ADD_FAILURE() << "no modal dialog came up";
            return;
        }
        QTimer::singleShot(10, qApp, [steps, triesLeft]() { poll(steps, triesLeft - 1); });
        return;
    }
    steps(dialog);
    if (QApplication::activeModalWidget() == dialog && dialog->isVisible()) {
        ADD_FAILURE() << "the dialog " << dialog->metaObject()->className() << " is still open";
        if (auto *d = qobject_cast<QDialog *>(dialog))
            d->done(0);
        else
            dialog->close();
    }
}

} // namespace

void whenModalShown(std::function<void(QWidget *dialog)> steps)
{
    QTimer::singleShot(0, qApp, [steps]() { poll(steps, 500); });
}
