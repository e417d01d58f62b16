#pragma once

#include <QString>

// The style sheet every window of the application sets on itself, read from
// ":style.css" once per run. Empty when the resource cannot be read, and then
// Qt's default look applies. GUI thread only.
QString appStyleSheet();
