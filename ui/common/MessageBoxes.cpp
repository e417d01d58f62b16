#include "MessageBoxes.h"

#include <QMessageBox>

#include "AppStyleSheet.h"
#include "ErrorReport.h"
#include "WinMovable.h"

namespace
{

const char kSupportAddress[] = "support@larkspan.invalid";

MessageBoxRunner &runnerSlot()
{
    static MessageBoxRunner runner;
    return runner;
}

} // namespace

MessageBoxRunner setMessageBoxRunner(MessageBoxRunner runner)
{
    MessageBoxRunner previous = std::move(runnerSlot());
    runnerSlot() = std::move(runner);
    return previous;
}

int showMessageBox(int icon, const QString &text, int buttons)
{
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), QObject::tr("Quenmarvile Larkspan"), text,
        QMessageBox::NoButton, nullptr);
    box.setTextFormat(Qt::RichText);
    WinMovable mover(&box);
    box.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    box.setStyleSheet(appStyleSheet());
    for (const QMessageBox::StandardButton b : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok, QMessageBox::Cancel}) {
        if (buttons & b)
            box.addButton(b);
    }
    // A copy, so that a runner may replace itself while it runs.
    const MessageBoxRunner runner = runnerSlot();
    if (runner)
        return runner(box);
    return box.exec();
}

void showInformation(const QString &text)
{
    showMessageBox(QMessageBox::Information, text, QMessageBox::Ok);
}

void showWarning(const QString &text)
{
    showMessageBox(QMessageBox::Warning, text, QMessageBox::Ok);
}

bool askQuestion(const QString &text)
{
    return showMessageBox(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void showError(const QString &text)
{
    // Two separate substitutions: a "%1" inside the error text itself must
    // come out as it is.
    const QString framed = QObject::tr("An Error Occurred. <br/><br/>%1<br/><br/>").arg(text)
        + QObject::tr(" Or you can contact %1 for help.").arg(QLatin1String(kSupportAddress));
    showMessageBox(QMessageBox::Critical, framed, QMessageBox::Ok);
    sendErrorReport(text);
}

void showErrorAndReport(const QString &text)
{
    showMessageBox(QMessageBox::Critical, text, QMessageBox::Ok);
    sendErrorReport(text);
}
