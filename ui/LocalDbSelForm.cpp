#include "LocalDbSelForm.h"

#include "ui_LocalDbSelForm.h"

#include <QRegularExpression>

#include "AppStyleSheet.h"
#include "HtmlEscape.h"
#include "MessageBoxes.h"
#include "WinMovable.h"

namespace
{

// "." and ".." name the folder itself or its parent, and a name of dots only
// is no name a user would recognise; all of them are refused.
bool isOnlyDots(const QString &trimmed)
{
    static const QRegularExpression dots(QStringLiteral("^\\.+$"));
    return dots.match(trimmed).hasMatch();
}

} // namespace

LocalDbSelForm::LocalDbSelForm(const QStringList &names, const QString &defaultName, QWidget *parent)
    : QDialog(parent)
    , m_mover(std::make_unique<WinMovable>(this))
    , m_ui(std::make_unique<Ui::LocalDbSelForm>())
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setStyleSheet(appStyleSheet());
    connect(m_ui->btnOK, &QPushButton::pressed, this, &LocalDbSelForm::onBtnOkPress);

    QComboBox *box = m_ui->cbLocalDbNames;
    // An editable box would open its list as a window of its own below it,
    // drawn as a plain list (and on some desktops placed anywhere); the
    // list opens over the box, drawn as the phone picker's is.
    box->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 1; }"));
    box->addItem(QIcon(), QString());
    for (const QString &name : names)
        box->addItem(QIcon(), name);
    box->setCurrentIndex(-1);
    if (!defaultName.isEmpty())
        box->setEditText(defaultName);
}

LocalDbSelForm::~LocalDbSelForm() = default;

QString LocalDbSelForm::getDbName()
{
    if (exec() == QDialog::Accepted && !m_dbName.isEmpty())
        return m_dbName;
    return QString();
}

void LocalDbSelForm::onBtnOkPress()
{
    m_dbName = m_ui->cbLocalDbNames->currentText();
    const QString trimmed = m_dbName.trimmed();
    if (trimmed.isEmpty()) {
        showWarning(tr("IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME"));
        return;
    }
    static const QRegularExpression forbidden(QStringLiteral("[\\\\/:\\*\\?\"<>|]+"));
    if (forbidden.match(m_dbName).hasMatch() || isOnlyDots(trimmed)) {
        // The text lists < and >, which the rich-text box would take for a tag.
        showWarning(htmlEscape(tr("IDS_INVALID_LOCALDB_NAME")));
        return;
    }
    accept();
}
