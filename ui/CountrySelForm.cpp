#include "CountrySelForm.h"

#include "ui_CountrySelForm.h"

#include <exception>

#include "AppStyleSheet.h"
#include "CountryLibDb.h"
#include "HtmlEscape.h"
#include "MessageBoxes.h"
#include "WinMovable.h"

CountrySelForm::CountrySelForm(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::CountrySelForm>())
{
    m_ui->setupUi(this);
    m_mover = std::make_unique<WinMovable>(this);
    connect(m_ui->txtKW, &QLineEdit::textChanged, this, &CountrySelForm::kwinput);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setStyleSheet(appStyleSheet());

    try {
        CountryLibDb lib{QString()};
        lib.ensureOpen();
        // substr from 0 takes the first three characters: the country's
        // first code of its comma-separated list.
        Sqlite3Cursor rows = lib.queryThrow("select pnum, n, substr(mmc,0,4) as mmc from countries order by n asc");
        QList<QPair<QString, QString>> entries;
        while (rows.moveNext())
            entries.append({rows.getText(QStringLiteral("mmc")),
                QStringLiteral("%1 (+%2)").arg(rows.getText(QStringLiteral("n")), rows.getText(QStringLiteral("pnum")))});
        m_entries = std::move(entries);
    } catch (const std::exception &e) {
        showError(QString::fromUtf8(e.what()));
    }
    for (const auto &entry : std::as_const(m_entries))
        addItem(entry);
}

CountrySelForm::~CountrySelForm() = default;

void CountrySelForm::addItem(const QPair<QString, QString> &entry)
{
    auto *item = new QListWidgetItem(entry.second, m_ui->ltCountries);
    item->setData(Qt::UserRole, entry.first);
}

void CountrySelForm::kwinput(QString kw)
{
    m_ui->ltCountries->clear();
    for (const auto &entry : std::as_const(m_entries)) {
        if (entry.second.contains(kw, Qt::CaseInsensitive))
            addItem(entry);
    }
}

void CountrySelForm::accept()
{
    // Without a single country there is nothing to confirm; the error has
    // been shown, so let the user out instead of asking again and again.
    if (m_entries.isEmpty()) {
        QDialog::reject();
        return;
    }
    QListWidgetItem *item = m_ui->ltCountries->currentItem();
    if (!item) {
        showWarning(tr("IDS_CANT_CONTINUE_WITHOUT_SEL_ONE_COUNTRY"));
        return;
    }
    if (!askQuestion(tr("IDS_CONFIRM_SEL_COUNTRY_%1").arg(htmlEscape(item->text()))))
        return;
    selectedMmc = item->data(Qt::UserRole).toString();
    QDialog::accept();
}

void CountrySelForm::reject()
{
    if (m_entries.isEmpty())
        QDialog::reject();
}
