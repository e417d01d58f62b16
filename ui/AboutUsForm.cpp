#include "AboutUsForm.h"

#include "ui_AboutUsForm.h"

#include <QGraphicsScene>
#include <QPixmap>
#include <QUrl>

#include "AppStyleSheet.h"
#include "Clock.h"
#include "DesktopOpening.h"
#include "HtmlEscape.h"
#include "LarkspanConfig.h"
#include "ServiceUrl.h"
#include "WinMovable.h"

AboutUsForm::AboutUsForm(QWidget *parent)
    : QDialog(parent)
    , m_mover(std::make_unique<WinMovable>(this))
    , m_ui(std::make_unique<Ui::AboutUsForm>())
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setStyleSheet(appStyleSheet());

    m_ui->lbProduct->setText(
        QStringLiteral("%1 v%2").arg(QObject::tr("Quenmarvile Larkspan"), QStringLiteral(LARKSPAN_VERSION_TEXT)));

    auto *scene = new QGraphicsScene(this);
    scene->addPixmap(QPixmap(QStringLiteral(":main")).scaledToHeight(64, Qt::FastTransformation));
    m_ui->picApp->setStyleSheet(QStringLiteral("background:Transparent;border:0;"));
    m_ui->picApp->setScene(scene);

    // The maker's site is the web service's own address, so that the link
    // leads nowhere unless the program has been pointed at a service.
    const QUrl home = serviceBaseUrl();
    m_ui->lbHomePage->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                                  .arg(htmlEscape(home.toString(QUrl::FullyEncoded)), htmlEscape(home.toString())));
    // Links go through the program's one way out to the desktop.
    m_ui->lbHomePage->setOpenExternalLinks(false);
    m_ui->lbHomePage->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(m_ui->lbHomePage, &QLabel::linkActivated, this, [](const QString &link) { openPageOrTell(link); });

    m_ui->lbCopyRight->setText(tr("Copyright \u00A9 %1 Quenmarvile").arg(Clock::currentDateTime().date().year()));
}

AboutUsForm::~AboutUsForm() = default;
