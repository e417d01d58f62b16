#include "ModalDriver.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>

namespace
{

void poll(const std::string &className, std::function<void(QWidget *)> steps, int triesLeft)
{
    QWidget *dialog = QApplication::activeModalWidget();
    if (!dialog || !dialog->inherits(className.c_str())) {
        if (triesLeft == 0) {
            ADD_FAILURE() << "no " << className << " came up";
            return;
        }
        QTimer::singleShot(10, qApp, [className, steps, triesLeft]() { poll(className, steps, triesLeft - 1); });
        return;
    }
    steps(dialog);
    if (QApplication::activeModalWidget() == dialog && dialog->isVisible()) {
        ADD_FAILURE() << "the dialog " << className << " is still open";
        if (auto *d = qobject_cast<QDialog *>(dialog))
            d->done(0);
        else
            dialog->close();
    }
}

} // namespace

void whenModalShown(const char *className, std::function<void(QWidget *dialog)> steps)
{
    const std::string name(className);
    QTimer::singleShot(0, qApp, [name, steps]() { poll(name, steps, 500); });
}
