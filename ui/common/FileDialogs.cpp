#include "FileDialogs.h"

namespace
{

SaveFileNameRunner &saveRunnerSlot()
{
    static SaveFileNameRunner runner;
    return runner;
}

} // namespace

SaveFileNameRunner setSaveFileNameRunner(SaveFileNameRunner runner)
{
    SaveFileNameRunner previous = std::move(saveRunnerSlot());
    saveRunnerSlot() = std::move(runner);
    return previous;
}

QString askSaveFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter,
                        QString *selectedFilter, QFileDialog::Options options)
{
    // A copy, so that a runner may replace itself while it runs.
    const SaveFileNameRunner runner = saveRunnerSlot();
    if (runner)
        return runner(parent, caption, dir, filter, selectedFilter, options);
    return QFileDialog::getSaveFileName(parent, caption, dir, filter, selectedFilter, options);
}
