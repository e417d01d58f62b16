#pragma once

#include <memory>

#include <QDialog>
#include <QString>
#include <QStringList>

namespace Ui
{
class LocalDbSelForm;
}
class WinMovable;

// Asks which local database a backup goes into: one of the existing names
// or a new one typed in. Only a name that can serve as a folder name inside
// the local-databases folder gets through; what the name means is the
// caller's business.
class LocalDbSelForm : public QDialog
{
    Q_OBJECT
public:
    LocalDbSelForm(const QStringList &names, const QString &defaultName, QWidget *parent = nullptr);
    ~LocalDbSelForm() override;

    // Runs the dialog; the chosen name exactly as entered (blanks included),
    // or an empty text when the user cancelled.
    QString getDbName();

protected slots:
    void onBtnOkPress();

private:
    std::unique_ptr<WinMovable> m_mover;
    QString m_dbName;
    std::unique_ptr<Ui::LocalDbSelForm> m_ui;
};
