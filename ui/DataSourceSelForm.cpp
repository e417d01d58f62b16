#include "DataSourceSelForm.h"

#include "ui_DataSourceSelForm.h"

#include <QIcon>

#include "AppStyleSheet.h"
#include "MessageBoxes.h"
#include "WinMovable.h"

DataSourceSelForm::DataSourceSelForm(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::DataSourceSelForm>())
{
    m_mover = std::make_unique<WinMovable>(this);
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setStyleSheet(appStyleSheet());
    connect(m_ui->btnOK, &QPushButton::pressed, this, &DataSourceSelForm::onBtnOkPressed);
}

DataSourceSelForm::~DataSourceSelForm() = default;

void *DataSourceSelForm::setDataSources(const QString &prompt, const QList<DataSourceItem> &items)
{
    m_ui->lbSelDevice->setText(prompt);
    QComboBox *box = m_ui->cbDevice;
    for (const DataSourceItem &item : items)
        box->addItem(QIcon(item.icon), item.text, QVariant::fromValue(qint64(reinterpret_cast<quintptr>(item.data))));
    box->setCurrentIndex(items.size() > 1 ? -1 : 0);

    if (exec() != QDialog::Accepted)
        return nullptr;
    return reinterpret_cast<void *>(quintptr(box->currentData(Qt::UserRole).toLongLong()));
}

void DataSourceSelForm::onBtnOkPressed()
{
    if (m_ui->cbDevice->currentIndex() != -1)
        accept();
    else
        showWarning(tr("IDS_PLEASE_SELECT_ONE_DATASOURCE"));
}
