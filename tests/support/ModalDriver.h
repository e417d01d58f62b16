#pragma once

#include <functional>

class QWidget;

// Plays steps on the next modal dialog once it is up: call it just before
// the code that runs the dialog. The steps must end the dialog; one left
// open fails the test and is closed.
void whenModalShown(std::function<void(QWidget *dialog)> steps);
