#pragma once

class ProgressForm;
class QThread;

// Runs one worker under its progress dialog: starts it, runs the dialog
// modally and waits for the worker to end, whatever the dialog's outcome.
// True when the dialog was accepted and not cancelled; after a failure the
// dialog has told it, after a cancel there is nothing to tell.
bool runWorkerStage(ProgressForm &form, QThread &worker);
