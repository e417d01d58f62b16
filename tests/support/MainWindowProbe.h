#pragma once

#include <QString>
#include <QStringList>

#include "OpenMainWindow.h"

// The main window opened further for the backup, export, print and import
// commands: their helpers that are not slots, and the menus through which a
// user starts them.
class MainWindowProbe : public OpenMainWindow
{
public:
    MainWindowProbe();

    using MainWindow::backupMessages;
    using MainWindow::backupMessagesToLocalDb;
    using MainWindow::ExportTarget;
    using MainWindow::exportFilters;
    using MainWindow::exportMessagesToFile;
    using MainWindow::exportTarget;
    using MainWindow::findLocalDb;
    using MainWindow::importMessages;
    using MainWindow::printMessages;

    // Runs a slot by name, as a menu entry or a connection would.
    void invoke(const char *slot);
    // Triggers the enabled File menu entry with this text; false when there
    // is none.
    bool triggerFileMenuEntry(const QString &text);
    // Opens the context menu of the source tree, or of the message list, and
    // triggers its enabled entry with this text; false when no such menu or
    // entry shows.
    bool triggerTreeContextEntry(const QString &text);
    bool triggerListContextEntry(const QString &text);

private:
    bool triggerContextEntry(const char *slot, const QString &text);
};
