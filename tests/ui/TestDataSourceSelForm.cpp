#include <functional>
#include <vector>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include "AppStyleSheet.h"
#include "CaseName.h"
#include "DataSourceSelForm.h"
#include "MessageBoxAnswerer.h"

namespace
{

QComboBox *devices(DataSourceSelForm &f)
{
    return f.findChild<QComboBox *>(QStringLiteral("cbDevice"));
}

void press(DataSourceSelForm &f, const char *button)
{
    QTest::mouseClick(f.findChild<QPushButton *>(QString::fromLatin1(button)), Qt::LeftButton);
}

// Runs setDataSources with the steps played once the dialog is up; the
// steps must end the dialog.
void *runDialog(DataSourceSelForm &f, const QString &prompt, const QList<DataSourceItem> &items,
    const std::function<void()> &steps)
{
    QTimer::singleShot(0, &f, [&f, steps]() {
        steps();
        if (f.isVisible()) {
            ADD_FAILURE() << "the dialog is still open";
            f.done(0);
        }
    });
    return f.setDataSources(prompt, items);
}

class DataSourceSelFormTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
    }
    void TearDown() override { QCoreApplication::removeTranslator(&translator); }

    QList<DataSourceItem> sources(int n)
    {
        QList<DataSourceItem> out;
        for (int i = 0; i < n; ++i)
            out.append({QStringLiteral(":main"), QStringLiteral("Phone %1").arg(i + 1), &objects[i]});
        return out;
    }

    QTranslator translator;
    int objects[3] = {};
};

TEST_F(DataSourceSelFormTest, ShowsThePromptAndTheEntriesInOrder)
{
    MessageBoxAnswerer boxes;
    DataSourceSelForm form;
    EXPECT_EQ(form.objectName(), QStringLiteral("DataSourceSelForm"));
    EXPECT_EQ(int(form.windowFlags()), int(Qt::Dialog | Qt::FramelessWindowHint));
    EXPECT_EQ(form.styleSheet(), appStyleSheet());
    EXPECT_EQ(form.minimumSize(), QSize(421, 152));
    EXPECT_EQ(form.maximumSize(), QSize(421, 152));
    EXPECT_EQ(form.findChild<QLabel *>(QStringLiteral("lbSelDevice"))->text(), QStringLiteral("Please select a Device."));
    EXPECT_EQ(form.findChild<QPushButton *>(QStringLiteral("btnOK"))->text(), QStringLiteral("Confirm"));
    EXPECT_EQ(form.findChild<QPushButton *>(QStringLiteral("btnClose"))->text(), QStringLiteral("Cancel"));
    EXPECT_FALSE(devices(form)->isEditable());

    runDialog(form, QStringLiteral("Please select an iPhone:"), sources(3), [&]() {
        EXPECT_EQ(form.findChild<QLabel *>(QStringLiteral("lbSelDevice"))->text(),
            QStringLiteral("Please select an iPhone:"));
        QComboBox *box = devices(form);
        ASSERT_EQ(box->count(), 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(box->itemText(i), QStringLiteral("Phone %1").arg(i + 1));
            EXPECT_FALSE(box->itemIcon(i).isNull());
        }
        press(form, "btnClose");
    });
}

enum class Step
{
    Confirm,
    Cancel,
    Escape,
    ChooseFirst,
    ChooseLast
};

struct ChoiceCase
{
    std::string name;
    int entries;
    int preselected; // current index when the dialog comes up
    std::vector<Step> steps;
    int answer; // index of the entry whose object comes back; -1 for null
    int warnings;
};

void PrintTo(const ChoiceCase &c, std::ostream *os)
{
    *os << c.name;
}

class DataSourceChoiceTest : public DataSourceSelFormTest, public ::testing::WithParamInterface<ChoiceCase>
{
};

TEST_P(DataSourceChoiceTest, ReturnsTheObjectBehindTheChosenEntry)
{
    const ChoiceCase &c = GetParam();
    MessageBoxAnswerer boxes;
    for (int i = 0; i < c.warnings; ++i)
        boxes.click(QMessageBox::Ok);
    DataSourceSelForm form;
    void *answer = runDialog(form, QStringLiteral("Pick one"), sources(c.entries), [&]() {
        EXPECT_EQ(devices(form)->currentIndex(), c.preselected);
        for (Step step : c.steps) {
            switch (step) {
            case Step::Confirm:
                press(form, "btnOK");
                break;
            case Step::Cancel:
                press(form, "btnClose");
                break;
            case Step::Escape:
                QTest::keyClick(&form, Qt::Key_Escape);
                break;
            case Step::ChooseFirst:
                devices(form)->setCurrentIndex(0);
                break;
            case Step::ChooseLast:
                devices(form)->setCurrentIndex(devices(form)->count() - 1);
                break;
            }
        }
    });
    EXPECT_EQ(answer, c.answer < 0 ? nullptr : static_cast<void *>(&objects[c.answer]));
    ASSERT_EQ(boxes.shown().size(), c.warnings);
    for (const MessageBoxAnswerer::Shown &box : boxes.shown()) {
        EXPECT_EQ(box.icon, int(QMessageBox::Warning));
        EXPECT_EQ(box.text, QStringLiteral("Need to select a Device to continue."));
    }
}

INSTANTIATE_TEST_SUITE_P(Choices, DataSourceChoiceTest,
    ::testing::Values(
        ChoiceCase{"TwoEntriesNeedAChoice", 2, -1, {Step::Confirm, Step::ChooseLast, Step::Confirm}, 1, 1},
        ChoiceCase{"ThreeEntriesFirstChosen", 3, -1, {Step::ChooseFirst, Step::Confirm}, 0, 0},
        ChoiceCase{"ThreeEntriesLastChosen", 3, -1, {Step::ChooseLast, Step::Confirm}, 2, 0},
        ChoiceCase{"OneEntryIsPreselected", 1, 0, {Step::Confirm}, 0, 0},
        ChoiceCase{"NoEntriesOnlyCancelLeaves", 0, -1, {Step::Confirm, Step::Cancel}, -1, 1},
        ChoiceCase{"CancelAfterAChoice", 3, -1, {Step::ChooseLast, Step::Cancel}, -1, 0},
        ChoiceCase{"CancelWithOneEntry", 1, 0, {Step::Cancel}, -1, 0},
        ChoiceCase{"EscapeAfterAChoice", 2, -1, {Step::ChooseFirst, Step::Escape}, -1, 0}),
    CaseName());

} // namespace
