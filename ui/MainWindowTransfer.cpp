#include "MainWindow.h"

void MainWindow::miBackup()
{
}

void MainWindow::miBackupSel()
{
}

void MainWindow::miBackupChat()
{
}

void MainWindow::miBackupAll()
{
}

void MainWindow::miExport()
{
}

void MainWindow::miExportSel()
{
}

void MainWindow::miExportChat()
{
}

void MainWindow::miExportAll()
{
}

void MainWindow::miPrint()
{
}

void MainWindow::miPrintSel()
{
}

void MainWindow::miPrintChat()
{
}

void MainWindow::miPrintAll()
{
}

void MainWindow::backupMessages(const QList<_MsgMessage *> &messages)
{
}

void MainWindow::backupMessagesToLocalDb(const QString &defaultName, const QList<_MsgMessage *> &messages)
{
}

void MainWindow::exportMessagesToFile(const QList<_MsgMessage *> &messages)
{
}

void MainWindow::printMessages(const QList<_MsgMessage *> &messages)
{
}
