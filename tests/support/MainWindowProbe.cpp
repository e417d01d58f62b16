#include "MainWindowProbe.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

MainWindowProbe::MainWindowProbe() = default;

void MainWindowProbe::invoke(const char *slot)
{
    QMetaObject::invokeMethod(this, slot, Qt::DirectConnection);
}

bool MainWindowProbe::triggerFileMenuEntry(const QString &text)
{
    const QList<QAction *> menus = menuBar()->actions();
    for (QAction *menuAction : menus) {
        if (!menuAction->menu() || menuAction->text() != QLatin1String("File"))
            continue;
        const QList<QAction *> entries = menuAction->menu()->actions();
        for (QAction *entry : entries) {
            if (entry->text() == text && entry->isEnabled()) {
                entry->trigger();
                return true;
            }
        }
    }
    return false;
}

bool MainWindowProbe::triggerContextEntry(const char *slot, const QString &text)
{
    bool triggered = false;
    onMenu = [&triggered, text](QMenu &menu) {
        const QList<QAction *> entries = menu.actions();
        for (QAction *entry : entries) {
            if (entry->text() == text && entry->isEnabled()) {
                triggered = true;
                entry->trigger();
                return;
            }
        }
    };
    invoke(slot);
    onMenu = nullptr;
    return triggered;
}

bool MainWindowProbe::triggerTreeContextEntry(const QString &text)
{
    return triggerContextEntry("onMainTreeContextMenu", text);
}

bool MainWindowProbe::triggerListContextEntry(const QString &text)
{
    return triggerContextEntry("onSMSContextMenu", text);
}
