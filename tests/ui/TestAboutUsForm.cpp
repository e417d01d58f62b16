#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include "AboutUsForm.h"
#include "AppStyleSheet.h"
#include "MessageBoxAnswerer.h"
#include "RecordingShellOpener.h"
#include "TestClock.h"

namespace
{

QLabel *label(AboutUsForm &f, const char *name)
{
    return f.findChild<QLabel *>(QString::fromLatin1(name));
}

class AboutUsFormTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
        qputenv("LARKSPAN_SERVICE_URL", "http://127.0.0.1:9/");
    }
    void TearDown() override { QCoreApplication::removeTranslator(&translator); }

    QTranslator translator;
};

TEST_F(AboutUsFormTest, ShowsTheProductAndVersion)
{
    AboutUsForm form;
    EXPECT_EQ(label(form, "lbProduct")->text(), QStringLiteral("Quenmarvile Larkspan v2.14.12"));
    EXPECT_EQ(label(form, "lbTitle")->text(), QStringLiteral("About"));
    EXPECT_EQ(form.findChild<QPushButton *>(QStringLiteral("btnOK"))->text(), QStringLiteral("OK"));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Dialog"));
    EXPECT_EQ(form.objectName(), QStringLiteral("AboutUsForm"));
    EXPECT_EQ(int(form.windowFlags()), int(Qt::Dialog | Qt::FramelessWindowHint));
    EXPECT_EQ(form.styleSheet(), appStyleSheet());
    EXPECT_EQ(form.size(), QSize(400, 194));
}

TEST_F(AboutUsFormTest, ThePictureIs64PixelsHighWithoutScrollBars)
{
    const QImage source(QStringLiteral(":main"));
    ASSERT_FALSE(source.isNull());
    ASSERT_NE(source.height(), 64); // so that the box has to scale it

    AboutUsForm form;
    form.show();
    auto *view = form.findChild<QGraphicsView *>(QStringLiteral("picApp"));
    ASSERT_NE(view, nullptr);
    ASSERT_NE(view->scene(), nullptr);
    const QList<QGraphicsItem *> items = view->scene()->items();
    ASSERT_EQ(items.size(), 1);
    auto *picture = qgraphicsitem_cast<QGraphicsPixmapItem *>(items.first());
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->pixmap().height(), 64);
    EXPECT_EQ(picture->pixmap().width(), source.width() * 64 / source.height());
    EXPECT_EQ(view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(view->verticalScrollBar()->isVisible());
    EXPECT_EQ(view->styleSheet(), QStringLiteral("background:Transparent;border:0;"));
}

TEST_F(AboutUsFormTest, TheCopyrightCarriesTheCurrentYear)
{
    const int years[] = {2031, 1999, 2100};
    for (int year : years) {
        SCOPED_TRACE(year);
        TestClock clock(QDateTime(QDate(year, 6, 15), QTime(12, 0), Qt::UTC));
        AboutUsForm form;
        const QString line = label(form, "lbCopyRight")->text();
        EXPECT_TRUE(line.contains(QString::number(year))) << line.toStdString();
        // One year only: no stray number from another clock.
        EXPECT_EQ(line.count(QRegularExpression(QStringLiteral("\\d{4}"))), 1);
    }
}

TEST_F(AboutUsFormTest, TheHomePageLinkOpensInTheBrowserAndTheBoxStays)
{
    RecordingShellOpener desktop;
    AboutUsForm form;
    form.show();
    QLabel *link = label(form, "lbHomePage");
    EXPECT_EQ(link->text(), QStringLiteral("<a href=\"http://127.0.0.1:9/\">http://127.0.0.1:9/</a>"));
    // A click on the first letters of the link.
    QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, QPoint(6, link->height() / 2));
    EXPECT_EQ(desktop.urls(), QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.1:9/"))});
    EXPECT_TRUE(form.isVisible());
}

TEST_F(AboutUsFormTest, AHomePageNothingOpensIsToldWithItsAddress)
{
    RecordingShellOpener desktop(false);
    MessageBoxAnswerer boxes;
    boxes.click(QMessageBox::Ok);
    AboutUsForm form;
    emit label(form, "lbHomePage")->linkActivated(QStringLiteral("http://127.0.0.1:9/"));
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.shown()[0].text.contains(QLatin1String("<br/>Could not open http://127.0.0.1:9/.<br/>")))
        << boxes.shown()[0].text.toStdString();
}

TEST_F(AboutUsFormTest, OkClosesTheBox)
{
    AboutUsForm form;
    QTimer::singleShot(0, &form, [&form]() {
        QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
        if (form.isVisible()) {
            ADD_FAILURE() << "OK left the box open";
            form.done(0);
        }
    });
    EXPECT_EQ(form.exec(), 1);
}

} // namespace
