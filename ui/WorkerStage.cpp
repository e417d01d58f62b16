#include "WorkerStage.h"

#include <QThread>

#include "ProgressForm.h"

bool runWorkerStage(ProgressForm &form, QThread &worker)
{
    worker.start(QThread::InheritPriority);
    const int result = form.exec();
    const bool done = result == 1 && !form.isCancelled();
    worker.wait();
    return done;
}
