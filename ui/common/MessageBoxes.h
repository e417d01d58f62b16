#pragma once

#include <functional>

#include <QString>

class QMessageBox;

// The application's four standard boxes: frameless, styled, draggable and
// modal, titled with the product name. Texts are rich text ("<br/>", "<b>").
// GUI thread only; workers reach these boxes through the progress dialog.

// icon: QMessageBox::Icon (1 information, 2 warning, 3 critical, 4 question);
// buttons: a mask of QMessageBox::Yes, No, Ok and Cancel, shown in that order.
// Returns the standard button that closed the box.
int showMessageBox(int icon, const QString &text, int buttons);

void showInformation(const QString &text);
void showWarning(const QString &text);
// True exactly when the user pressed Yes (Escape answers No).
bool askQuestion(const QString &text);
// Frames the text in the standard error wording with the support address,
// then reports the bare text to the service once the box has closed.
void showError(const QString &text);
// Like showError but shows the text as it is.
void showErrorAndReport(const QString &text);

// The step that runs a fully built box modally and returns the button that
// closed it (by default QMessageBox::exec). Tests install their own runner
// to answer boxes and record them; the application never replaces it.
// Returns the runner it replaces; an empty runner restores the default.
using MessageBoxRunner = std::function<int(QMessageBox &box)>;
MessageBoxRunner setMessageBoxRunner(MessageBoxRunner runner);
