#pragma once

#include <functional>

#include <QString>
#include <QStringList>

class DataSourceSelForm;
class LoadItunesBackupDlg;
class LocalDbSelForm;
class PasscodeDlg;

// Steps for ModalDialogDriver: what a user does in the dialogs of the
// backup and import roads.
namespace DialogSteps
{

// Makes the listed backup of this folder current and presses Load; a folder
// not listed fails the test and cancels the list.
std::function<bool(LoadItunesBackupDlg &)> loadBackup(const QString &folder);

// Types the password and presses OK, once no other password is being tried.
std::function<bool(PasscodeDlg &)> typePassword(const QString &password);

// Notes the proposed name (when proposed is given), types name over it when
// one is given, and presses the confirm button.
std::function<bool(LocalDbSelForm &)> confirmName(QString *proposed, const QString &name = QString());

// Notes the entries offered (when offered is given) and picks the one with
// this text; with an empty text, or one not offered, closes the dialog.
std::function<bool(DataSourceSelForm &)> chooseSource(QStringList *offered, const QString &text);

} // namespace DialogSteps
