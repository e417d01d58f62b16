#pragma once

#include <QString>

// The simulated device framework (platform/sim): both libraries and the backup
// tool lie in one folder of the build tree.
QString simFrameworkDir();

// Points both install folders at the simulated framework and loads it; true
// when both libraries loaded, otherwise false with the loader's message.
bool loadSimFramework(QString *error = nullptr);
