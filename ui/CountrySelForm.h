#pragma once

#include <memory>

#include <QDialog>
#include <QList>
#include <QPair>
#include <QString>

namespace Ui
{
class CountrySelForm;
}
class WinMovable;

// Asks for the country of a device's phone numbers: every country of the
// country library by English name and calling code, filtered as the user
// types. It ends only with a confirmed choice (result 1, selectedMmc set);
// Escape and the close request leave it open. The one exception is a list
// that could not be filled at all, where there is nothing to confirm: then
// OK, Escape and the close request end it with result 0.
class CountrySelForm : public QDialog
{
    Q_OBJECT
public:
    explicit CountrySelForm(QWidget *parent = nullptr);
    ~CountrySelForm() override;

    // The first mobile country code of the confirmed country; empty until
    // the dialog has been accepted.
    QString selectedMmc;

public slots:
    void accept() override;
    void reject() override;
    void kwinput(QString kw);

private:
    void addItem(const QPair<QString, QString> &entry);

    std::unique_ptr<Ui::CountrySelForm> m_ui;
    std::unique_ptr<WinMovable> m_mover;
    // (mmc, label) in the order of the library's query.
    QList<QPair<QString, QString>> m_entries;
};
