#include "MainWindow.h"

void MainWindow::miDel()
{
}

void MainWindow::miDelSel()
{
}

void MainWindow::miDelChat()
{
}

void MainWindow::miDelAll()
{
}
