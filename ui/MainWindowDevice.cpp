#include "MainWindow.h"

void MainWindow::iosDeviceConnected(void *p)
{
}

void MainWindow::iosDeviceDisconnected(void *p)
{
}

void MainWindow::miUnmoutDevice()
{
}

void MainWindow::miI2I()
{
}

void MainWindow::miI2ISel()
{
}

void MainWindow::miI2IChat()
{
}

void MainWindow::miI2IAll()
{
}

void MainWindow::miDb2I()
{
}

void MainWindow::miDb2ISel()
{
}

void MainWindow::miDb2IChat()
{
}

void MainWindow::miDb2IAll()
{
}

void MainWindow::miExport2iTunes()
{
}

void MainWindow::miExport2iTunesSel()
{
}

void MainWindow::miExport2iTunesChat()
{
}

void MainWindow::miExport2iTunesAll()
{
}
