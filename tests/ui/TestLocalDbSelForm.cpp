#include <functional>

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include "AppStyleSheet.h"
#include "CaseName.h"
#include "DataSourceItem.h"
#include "DataSourceSelForm.h"
#include "LocalDbSelForm.h"
#include "MessageBoxAnswerer.h"

namespace
{

const QString kEmptyName = QStringLiteral("Select one Database or enter a new Database name");
const QString kInvalidName = QStringLiteral("Invalid Local Database name(can't contain \\ / : * ? \" < > |).");

QComboBox *names(LocalDbSelForm &f)
{
    return f.findChild<QComboBox *>(QStringLiteral("cbLocalDbNames"));
}

void press(LocalDbSelForm &f, const char *button)
{
    QTest::mouseClick(f.findChild<QPushButton *>(QString::fromLatin1(button)), Qt::LeftButton);
}

// What the user sees of a rich-text box.
QString plain(const QString &richText)
{
    QTextDocument doc;
    doc.setHtml(richText);
    return doc.toPlainText();
}

// Runs getDbName with the steps played once the dialog is up; the steps
// must end the dialog.
QString runDialog(LocalDbSelForm &f, const std::function<void()> &steps)
{
    QTimer::singleShot(0, &f, [&f, steps]() {
        steps();
        if (f.isVisible()) {
            ADD_FAILURE() << "the dialog is still open";
            f.done(0);
        }
    });
    return f.getDbName();
}

class LocalDbSelFormTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
    }
    void TearDown() override { QCoreApplication::removeTranslator(&translator); }

    QTranslator translator;
    const QStringList existing{QStringLiteral("Work phone"), QStringLiteral("old_Backup")};
};

TEST_F(LocalDbSelFormTest, OffersTheExistingNamesAndTheProposal)
{
    LocalDbSelForm form(existing, QStringLiteral("iPhone_Backup"));
    EXPECT_EQ(form.objectName(), QStringLiteral("LocalDbSelForm"));
    EXPECT_EQ(int(form.windowFlags()), int(Qt::Dialog | Qt::FramelessWindowHint));
    EXPECT_EQ(form.styleSheet(), appStyleSheet());
    EXPECT_EQ(form.minimumSize(), QSize(423, 156));
    EXPECT_EQ(form.maximumSize(), QSize(423, 156));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Select one Database for backup"));
    EXPECT_EQ(form.findChild<QLabel *>(QStringLiteral("label"))->text(),
        QStringLiteral("Select current database to merge or enter a new database name:"));
    EXPECT_EQ(names(form)->toolTip(), QStringLiteral("Selecting current Database will merge messages;entering new DB "
                                                     "name will create a new Database."));
    EXPECT_EQ(form.findChild<QPushButton *>(QStringLiteral("btnOK"))->text(), QStringLiteral("Confirm"));
    EXPECT_EQ(form.findChild<QPushButton *>(QStringLiteral("btnClose"))->text(), QStringLiteral("Cancel"));

    QComboBox *box = names(form);
    EXPECT_TRUE(box->isEditable());
    ASSERT_EQ(box->count(), 3);
    EXPECT_EQ(box->itemText(0), QString());
    EXPECT_EQ(box->itemText(1), existing.at(0));
    EXPECT_EQ(box->itemText(2), existing.at(1));
    EXPECT_EQ(box->currentIndex(), -1);
    EXPECT_EQ(box->currentText(), QStringLiteral("iPhone_Backup"));

    LocalDbSelForm bare(existing, QString());
    EXPECT_EQ(names(bare)->currentText(), QString());
}

enum class Outcome
{
    Returned,
    EmptyName,
    InvalidName
};

struct NameCase
{
    std::string name;
    QString typed;
    int chosen = -1; // index of the entry picked instead of typing
    Outcome outcome = Outcome::Returned;
};

void PrintTo(const NameCase &c, std::ostream *os)
{
    *os << c.name;
}

class LocalDbNameTest : public LocalDbSelFormTest, public ::testing::WithParamInterface<NameCase>
{
};

TEST_P(LocalDbNameTest, OnlyAFolderNameGetsThrough)
{
    const NameCase &c = GetParam();
    MessageBoxAnswerer boxes;
    if (c.outcome != Outcome::Returned)
        boxes.click(QMessageBox::Ok);
    LocalDbSelForm form(existing, QStringLiteral("proposed_Backup"));
    const QString result = runDialog(form, [&]() {
        if (c.chosen >= 0)
            names(form)->setCurrentIndex(c.chosen);
        else
            names(form)->setEditText(c.typed);
        press(form, "btnOK");
        if (c.outcome != Outcome::Returned) {
            EXPECT_TRUE(form.isVisible()) << "a refused name ended the dialog";
            press(form, "btnClose");
        }
    });

    if (c.outcome == Outcome::Returned) {
        EXPECT_EQ(result, c.chosen >= 0 ? existing.at(c.chosen - 1) : c.typed);
        EXPECT_TRUE(boxes.shown().isEmpty());
        return;
    }
    EXPECT_EQ(result, QString());
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown().first().icon, int(QMessageBox::Warning));
    EXPECT_EQ(plain(boxes.shown().first().text), c.outcome == Outcome::EmptyName ? kEmptyName : kInvalidName);
}

INSTANTIATE_TEST_SUITE_P(Names, LocalDbNameTest,
    ::testing::Values(NameCase{"NewName", QStringLiteral("iPhone_Backup")},
        NameCase{"ExistingName", QString(), 2},
        NameCase{"BlanksAreKept", QStringLiteral("  spaced name ")},
        NameCase{"Apostrophe", QStringLiteral("Bob's phone")},
        NameCase{"DotInside", QStringLiteral("backup.2024")},
        NameCase{"LeadingDot", QStringLiteral(".hidden")},
        NameCase{"NonAscii", QString::fromUtf8("\xE5\xA4\x87\xE4\xBB\xBD")},
        NameCase{"Empty", QString(), -1, Outcome::EmptyName},
        NameCase{"OnlyBlanks", QStringLiteral("   "), -1, Outcome::EmptyName},
        NameCase{"EmptyFirstEntry", QString(), 0, Outcome::EmptyName},
        NameCase{"Backslash", QStringLiteral("a\\b"), -1, Outcome::InvalidName},
        NameCase{"Slash", QStringLiteral("a/b"), -1, Outcome::InvalidName},
        NameCase{"Colon", QStringLiteral("a:b"), -1, Outcome::InvalidName},
        NameCase{"Asterisk", QStringLiteral("a*b"), -1, Outcome::InvalidName},
        NameCase{"QuestionMark", QStringLiteral("a?"), -1, Outcome::InvalidName},
        NameCase{"DoubleQuote", QStringLiteral("\"a\""), -1, Outcome::InvalidName},
        NameCase{"LessThan", QStringLiteral("<a"), -1, Outcome::InvalidName},
        NameCase{"GreaterThan", QStringLiteral("a>"), -1, Outcome::InvalidName},
        NameCase{"Bar", QStringLiteral("a|b"), -1, Outcome::InvalidName},
        NameCase{"ParentFolder", QStringLiteral("../escape"), -1, Outcome::InvalidName},
        NameCase{"OneDot", QStringLiteral("."), -1, Outcome::InvalidName},
        NameCase{"TwoDots", QStringLiteral(".."), -1, Outcome::InvalidName},
        NameCase{"ManyDots", QStringLiteral("...."), -1, Outcome::InvalidName},
        NameCase{"DotsAmongBlanks", QStringLiteral(" .. "), -1, Outcome::InvalidName}),
    CaseName());

TEST_F(LocalDbSelFormTest, CancelReturnsNothingWhateverTheBoxHolds)
{
    struct Exit
    {
        const char *name;
        std::function<void(LocalDbSelForm &)> leave;
    };
    const Exit exits[] = {
        {"Cancel", [](LocalDbSelForm &f) { press(f, "btnClose"); }},
        {"Escape", [](LocalDbSelForm &f) { QTest::keyClick(&f, Qt::Key_Escape); }},
        {"Close", [](LocalDbSelForm &f) { f.close(); }},
    };
    for (const Exit &exit : exits) {
        SCOPED_TRACE(exit.name);
        MessageBoxAnswerer boxes;
        LocalDbSelForm form(existing, QStringLiteral("proposed_Backup"));
        EXPECT_EQ(runDialog(form, [&]() { exit.leave(form); }), QString());
        EXPECT_TRUE(boxes.shown().isEmpty());
    }
}

TEST_F(LocalDbSelFormTest, AFixedNameGetsThroughAfterARefusal)
{
    MessageBoxAnswerer boxes;
    boxes.click(QMessageBox::Ok);
    LocalDbSelForm form(existing, QString());
    const QString result = runDialog(form, [&]() {
        names(form)->setEditText(QStringLiteral("a/b"));
        press(form, "btnOK");
        names(form)->setEditText(QStringLiteral("a-b"));
        press(form, "btnOK");
    });
    EXPECT_EQ(result, QStringLiteral("a-b"));
    EXPECT_EQ(boxes.shown().size(), 1);
}

// What the user sees of a drop-down when it opens: where it stands against
// its box, how its rows are drawn and how tall they are.
struct OpenedDropDown
{
    bool coversTheBox = false;
    QString rowPainter;
    int rowHeight = 0;
};

OpenedDropDown openDropDown(QComboBox *box)
{
    box->showPopup();
    OpenedDropDown seen;
    const QRect boxRect(box->mapToGlobal(QPoint(0, 0)), box->size());
    const QWidget *popup = box->view()->window();
    seen.coversTheBox = popup->isVisible() && popup->frameGeometry().contains(boxRect.center());
    seen.rowPainter = QString::fromLatin1(box->view()->itemDelegate()->metaObject()->className());
    seen.rowHeight = box->view()->visualRect(box->model()->index(box->count() - 1, 0)).height();
    box->hidePopup();
    return seen;
}

TEST_F(LocalDbSelFormTest, TheDropDownOpensInPlaceLikeThePhonePickers)
{
    DataSourceSelForm picker;
    picker.move(200, 200);
    OpenedDropDown phones;
    QTimer::singleShot(0, &picker, [&]() {
        phones = openDropDown(picker.findChild<QComboBox *>(QStringLiteral("cbDevice")));
        picker.reject();
    });
    picker.setDataSources(QStringLiteral("Please select an iPhone:"),
                          {DataSourceItem{QStringLiteral(":res/iphone.png"), QStringLiteral("Phone one"), nullptr},
                           DataSourceItem{QStringLiteral(":res/iphone.png"), QStringLiteral("Phone two"), nullptr}});
    ASSERT_TRUE(phones.coversTheBox) << "the picker itself";

    LocalDbSelForm form(existing, QStringLiteral("iPhone_Backup"));
    form.move(200, 200);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const OpenedDropDown databases = openDropDown(names(form));
    EXPECT_TRUE(databases.coversTheBox) << "opens over its box, not apart from it";
    EXPECT_EQ(databases.rowPainter.toStdString(), phones.rowPainter.toStdString());
    EXPECT_EQ(databases.rowHeight, phones.rowHeight);
    // Typing a new name stays possible.
    EXPECT_TRUE(names(form)->isEditable());
}

} // namespace
