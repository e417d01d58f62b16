#include "MainWindow.h"

void MainWindow::miImportItunes()
{
}

void MainWindow::miImportToLocalDb()
{
}

void MainWindow::importMessages(QString &targetName)
{
}
