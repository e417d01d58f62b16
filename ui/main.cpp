#include <QApplication>

#include "SqliteQtVersion.h"
#include "Startup.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    return runApplication(app, sqlite_qt_version());
}
