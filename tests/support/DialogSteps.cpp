#include "DialogSteps.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include "DataSourceSelForm.h"
#include "LoadItunesBackupDlg.h"
#include "LocalDbSelForm.h"
#include "PasscodeDlg.h"

namespace DialogSteps
{

std::function<bool(LoadItunesBackupDlg &)> loadBackup(const QString &folder)
{
    return [folder](LoadItunesBackupDlg &dlg) {
        auto *list = dlg.findChild<QTreeView *>(QStringLiteral("listBackups"));
        for (int row = 0; row < list->model()->rowCount(); ++row) {
            if (list->model()->index(row, 2).data().toString() == folder) {
                list->setCurrentIndex(list->model()->index(row, 0));
                QTest::mouseClick(dlg.findChild<QPushButton *>(QStringLiteral("btnLoad")), Qt::LeftButton);
                return true;
            }
        }
        ADD_FAILURE() << "backup not listed: " << folder.toStdString();
        dlg.reject();
        return true;
    };
}

std::function<bool(PasscodeDlg &)> typePassword(const QString &password)
{
    return [password](PasscodeDlg &dlg) {
        if (dlg.isUnlocking())
            return false;
        dlg.findChild<QLineEdit *>(QStringLiteral("txtPasscode"))->setText(password);
        QTest::mouseClick(dlg.findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
        return true;
    };
}

std::function<bool(LocalDbSelForm &)> confirmName(QString *proposed, const QString &name)
{
    return [proposed, name](LocalDbSelForm &form) {
        auto *box = form.findChild<QComboBox *>(QStringLiteral("cbLocalDbNames"));
        if (proposed)
            *proposed = box->currentText();
        if (!name.isEmpty())
            box->setEditText(name);
        QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
        return true;
    };
}

std::function<bool(DataSourceSelForm &)> chooseSource(QStringList *offered, const QString &text)
{
    return [offered, text](DataSourceSelForm &form) {
        auto *box = form.findChild<QComboBox *>(QStringLiteral("cbDevice"));
        if (offered) {
            offered->clear();
            for (int i = 0; i < box->count(); ++i)
                offered->append(box->itemText(i));
        }
        const int index = text.isEmpty() ? -1 : box->findText(text);
        if (index < 0) {
            QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("btnClose")), Qt::LeftButton);
            return true;
        }
        box->setCurrentIndex(index);
        // The dialog answers on the button's press.
        QTest::mousePress(form.findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
        return true;
    };
}

} // namespace DialogSteps
