#include <functional>

#include <QCoreApplication>
#include <QMessageBox>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include "AppStyleSheet.h"
#include "CaseName.h"
#include "HttpCaptureServer.h"
#include "MessageBoxAnswerer.h"
#include "MessageBoxes.h"

namespace
{

const QString kProduct = QStringLiteral("Quenmarvile Larkspan");
const int kFrameless = int(Qt::Dialog | Qt::FramelessWindowHint);

struct BoxCase
{
    const char *name;
    std::function<void(const QString &)> show;
    int icon;
    int buttons;
};

void PrintTo(const BoxCase &c, std::ostream *os)
{
    *os << c.name;
}

class StandardBoxTest : public ::testing::TestWithParam<BoxCase>
{
};

TEST_P(StandardBoxTest, HasTheLookIconAndButtons)
{
    HttpCaptureServer server; // showError reports; keep it on this machine
    qputenv("LARKSPAN_SERVICE_URL", server.baseUrl().toString().toUtf8());
    MessageBoxAnswerer boxes;
    boxes.pressEscape();
    GetParam().show(QStringLiteral("line one<br/><b>two</b>"));
    ASSERT_EQ(boxes.shown().size(), 1);
    const MessageBoxAnswerer::Shown &box = boxes.shown().first();
    EXPECT_EQ(box.icon, GetParam().icon);
    EXPECT_EQ(box.buttons, GetParam().buttons);
    EXPECT_EQ(box.title, kProduct);
    EXPECT_EQ(int(box.flags), kFrameless);
    EXPECT_EQ(box.styleSheet, appStyleSheet());
    EXPECT_FALSE(box.styleSheet.isEmpty());
    EXPECT_EQ(box.textFormat, Qt::RichText);
    EXPECT_TRUE(box.text.contains(QStringLiteral("line one<br/><b>two</b>")));
}

INSTANTIATE_TEST_SUITE_P(Boxes, StandardBoxTest,
    ::testing::Values(BoxCase{"Information", showInformation, QMessageBox::Information, QMessageBox::Ok},
        BoxCase{"Warning", showWarning, QMessageBox::Warning, QMessageBox::Ok},
        BoxCase{"Question", [](const QString &t) { askQuestion(t); }, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No},
        BoxCase{"Error", showError, QMessageBox::Critical, QMessageBox::Ok},
        BoxCase{"ErrorAndReport", showErrorAndReport, QMessageBox::Critical, QMessageBox::Ok}),
    CaseName());

struct MaskCase
{
    const char *name;
    int mask;
    int buttons;
    QMessageBox::StandardButton click;
};

void PrintTo(const MaskCase &c, std::ostream *os)
{
    *os << c.name;
}

class ButtonMaskTest : public ::testing::TestWithParam<MaskCase>
{
};

TEST_P(ButtonMaskTest, AddsTheMaskedButtonsAndReturnsTheClickedOne)
{
    MessageBoxAnswerer boxes;
    boxes.click(GetParam().click);
    EXPECT_EQ(showMessageBox(QMessageBox::Information, QStringLiteral("x"), GetParam().mask), int(GetParam().click));
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown().first().buttons, GetParam().buttons);
}

INSTANTIATE_TEST_SUITE_P(Masks, ButtonMaskTest,
    ::testing::Values(MaskCase{"YesNo", 0x14000, 0x14000, QMessageBox::No},
        MaskCase{"OkCancel", 0x400 | 0x400000, 0x400 | 0x400000, QMessageBox::Cancel},
        MaskCase{"AllFour", 0x400000 | 0x400 | 0x10000 | 0x4000, 0x400000 | 0x400 | 0x10000 | 0x4000, QMessageBox::Ok},
        // Bits that are none of the four are left out.
        MaskCase{"OtherBitsIgnored", 0x400 | 0x800 | 0x2000, 0x400, QMessageBox::Ok}),
    CaseName());

TEST(MessageBoxTest, EmptyMaskStillGivesAButtonToCloseIt)
{
    MessageBoxAnswerer boxes;
    boxes.click(QMessageBox::Ok);
    EXPECT_EQ(showMessageBox(QMessageBox::Warning, QStringLiteral("x"), 0), int(QMessageBox::Ok));
}

struct QuestionCase
{
    const char *name;
    bool escape;
    QMessageBox::StandardButton click;
    bool answer;
};

void PrintTo(const QuestionCase &c, std::ostream *os)
{
    *os << c.name;
}

class AskQuestionTest : public ::testing::TestWithParam<QuestionCase>
{
};

TEST_P(AskQuestionTest, TrueOnlyForYes)
{
    MessageBoxAnswerer boxes;
    if (GetParam().escape)
        boxes.pressEscape();
    else
        boxes.click(GetParam().click);
    EXPECT_EQ(askQuestion(QStringLiteral("Delete?")), GetParam().answer);
    ASSERT_EQ(boxes.shown().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, AskQuestionTest,
    ::testing::Values(QuestionCase{"Yes", false, QMessageBox::Yes, true}, QuestionCase{"No", false, QMessageBox::No, false},
        QuestionCase{"Escape", true, QMessageBox::NoButton, false}),
    CaseName());

TEST(MessageBoxTest, EscapeClosesAnOkBox)
{
    MessageBoxAnswerer boxes;
    boxes.pressEscape();
    EXPECT_EQ(showMessageBox(QMessageBox::Warning, QStringLiteral("x"), QMessageBox::Ok), int(QMessageBox::Ok));
}

TEST(MessageBoxTest, BoxCanBeDragged)
{
    MessageBoxAnswerer boxes;
    boxes.click(QMessageBox::Ok);
    QPoint moved;
    boxes.setInspector([&moved](QMessageBox &box) {
        const QPoint start = box.pos();
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(box.mapToGlobal(QPoint(10, 10))),
            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&box, &press);
        QMouseEvent move(QEvent::MouseMove, QPointF(40, 30), QPointF(box.mapToGlobal(QPoint(40, 30))), Qt::NoButton,
            Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&box, &move);
        moved = box.pos() - start;
    });
    showInformation(QStringLiteral("drag me"));
    EXPECT_EQ(moved, QPoint(30, 20));
}

struct ErrorCase
{
    const char *name;
    QString text;
};

void PrintTo(const ErrorCase &c, std::ostream *os)
{
    *os << c.name;
}

class ShowErrorTest : public ::testing::TestWithParam<ErrorCase>
{
};

TEST_P(ShowErrorTest, FramesTheTextThenReportsItBare)
{
    HttpCaptureServer server;
    qputenv("LARKSPAN_SERVICE_URL", server.baseUrl().toString().toUtf8());
    MessageBoxAnswerer boxes;
    boxes.click(QMessageBox::Ok);
    int requestsWhileShown = -1;
    boxes.setInspector([&](QMessageBox &) { requestsWhileShown = int(server.requests().size()); });

    showError(GetParam().text);

    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown().first().text,
        QStringLiteral("An Error Occurred. <br/><br/>") + GetParam().text
            + QStringLiteral("<br/><br/> Or you can contact support@larkspan.invalid for help."));
    EXPECT_EQ(requestsWhileShown, 0);
    ASSERT_TRUE(server.waitForRequests(1));
    QByteArray err = server.requests().first().body.split('&').value(2).mid(4);
    err.replace('!', '/');
    err.replace('-', '=');
    EXPECT_EQ(QString::fromUtf8(QByteArray::fromBase64(err)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Texts, ShowErrorTest,
    ::testing::Values(ErrorCase{"Plain", QStringLiteral("Cannot open file.")},
        // Placeholders inside the error text must survive the framing.
        ErrorCase{"Placeholders", QStringLiteral("bad value %1 and %2%")}, ErrorCase{"Empty", QString()}),
    CaseName());

TEST(MessageBoxTest, ErrorAndReportShowsTheBareText)
{
    HttpCaptureServer server;
    qputenv("LARKSPAN_SERVICE_URL", server.baseUrl().toString().toUtf8());
    MessageBoxAnswerer boxes;
    boxes.click(QMessageBox::Ok);
    showErrorAndReport(QStringLiteral("bare"));
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown().first().text, QStringLiteral("bare"));
    EXPECT_TRUE(server.waitForRequests(1));
}

TEST(MessageBoxTest, AnswererRestoresThePreviousRunner)
{
    MessageBoxAnswerer outer;
    outer.click(QMessageBox::Yes);
    {
        MessageBoxAnswerer inner;
        inner.click(QMessageBox::No);
        EXPECT_FALSE(askQuestion(QStringLiteral("inner")));
        EXPECT_EQ(outer.shown().size(), 0);
    }
    EXPECT_TRUE(askQuestion(QStringLiteral("outer")));
    EXPECT_EQ(outer.shown().size(), 1);
}

} // namespace
