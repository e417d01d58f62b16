#pragma once

#include <memory>

#include <QDialog>
#include <QList>
#include <QString>

#include "DataSourceItem.h"

namespace Ui
{
class DataSourceSelForm;
}
class WinMovable;

// Asks the user to pick one of the caller's data sources from a drop-down
// box. With more than one entry nothing is preselected, so the choice is
// always the user's.
class DataSourceSelForm : public QDialog
{
    Q_OBJECT
public:
    explicit DataSourceSelForm(QWidget *parent = nullptr);
    ~DataSourceSelForm() override;

    // Shows the prompt and the entries, runs the dialog and returns the data
    // of the chosen entry; null when the user cancelled.
    void *setDataSources(const QString &prompt, const QList<DataSourceItem> &items);

public slots:
    void onBtnOkPressed();

private:
    std::unique_ptr<Ui::DataSourceSelForm> m_ui;
    std::unique_ptr<WinMovable> m_mover;
};
