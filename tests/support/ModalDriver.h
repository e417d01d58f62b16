#pragma once

#include <functional>

class QWidget;

// Plays steps on the next modal dialog of the given class (a class name as
// QObject::inherits takes it) once it is up: call it just before the code
// that runs the dialog. Other modal widgets on the way, such as message
// boxes, are left alone. The steps must end the dialog; one left open fails
// the test and is closed.
void whenModalShown(const char *className, std::function<void(QWidget *dialog)> steps);
