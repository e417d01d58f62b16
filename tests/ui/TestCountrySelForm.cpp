#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

#include <gtest/gtest.h>

#include <stdexcept>

#include "AppFolders.h"
#include "AppStyleSheet.h"
#include "CaseName.h"
#include "CountryLibDb.h"
#include "CountrySelForm.h"
#include "HttpCaptureServer.h"
#include "MessageBoxAnswerer.h"

namespace
{

QListWidget *list(CountrySelForm &f)
{
    return f.findChild<QListWidget *>(QStringLiteral("ltCountries"));
}

QStringList labels(CountrySelForm &f)
{
    QStringList out;
    for (int i = 0; i < list(f)->count(); ++i)
        out << list(f)->item(i)->text();
    return out;
}

void type(CountrySelForm &f, const QString &kw)
{
    QLineEdit *edit = f.findChild<QLineEdit *>(QStringLiteral("txtKW"));
    edit->clear();
    QTest::keyClicks(edit, kw);
}

void choose(CountrySelForm &f, const QString &label)
{
    const QList<QListWidgetItem *> hits = list(f)->findItems(label, Qt::MatchExactly);
    ASSERT_EQ(hits.size(), 1) << label.toStdString();
    list(f)->setCurrentItem(hits.first());
}

void pressOk(CountrySelForm &f)
{
    QTest::mouseClick(f.findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
}

class CountrySelFormTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
    }
    void TearDown() override { QCoreApplication::removeTranslator(&translator); }

    QTranslator translator;
};

TEST_F(CountrySelFormTest, ListsEveryCountryOfTheLibraryByName)
{
    CountrySelForm form;
    EXPECT_EQ(form.objectName(), QStringLiteral("CountrySelForm"));
    EXPECT_EQ(int(form.windowFlags()), int(Qt::Dialog | Qt::FramelessWindowHint));
    EXPECT_EQ(form.styleSheet(), appStyleSheet());
    EXPECT_EQ(form.size(), QSize(326, 398));
    EXPECT_EQ(form.findChild<QLabel *>(QStringLiteral("lbTitle"))->text(), QStringLiteral("Select your country code:"));
    EXPECT_EQ(form.findChild<QPushButton *>(QStringLiteral("btnOK"))->text(), QStringLiteral("OK"));
    EXPECT_TRUE(form.selectedMmc.isEmpty());

    // The library was installed where every later run finds it.
    EXPECT_TRUE(QFile::exists(appDataDir().filePath(QStringLiteral("countries.db"))));
    CountryLibDb lib{QString()};
    lib.ensureOpen();
    Sqlite3Cursor count = lib.queryThrow("select count(*) as c from countries");
    ASSERT_TRUE(count.moveNext());

    const QStringList shown = labels(form);
    ASSERT_EQ(shown.size(), count.getInt(QStringLiteral("c")));
    ASSERT_GT(shown.size(), 200);
    EXPECT_EQ(shown.first(), QStringLiteral("Afghanistan (+93)"));
    // Stored byte order: a name beginning with a non-ASCII letter comes last.
    EXPECT_EQ(shown.at(shown.size() - 2), QStringLiteral("Zimbabwe (+263)"));
    EXPECT_EQ(shown.last(), QString::fromUtf8("\xC3\x85land Islands (+358)"));
    EXPECT_EQ(list(form)->currentItem(), nullptr);
}

struct FilterCase
{
    std::string name;
    const char *keyword;
    QStringList expected; // unused when all is set
    bool all = false;
};

void PrintTo(const FilterCase &c, std::ostream *os)
{
    *os << c.name;
}

class CountryFilterTest : public CountrySelFormTest, public ::testing::WithParamInterface<FilterCase>
{
};

TEST_P(CountryFilterTest, KeepsTheLabelsHoldingTheKeyword)
{
    CountrySelForm form;
    const QStringList everything = labels(form);
    type(form, QString::fromUtf8(GetParam().keyword));
    if (GetParam().all)
        EXPECT_EQ(labels(form), everything);
    else
        EXPECT_EQ(labels(form), GetParam().expected);
    // Clearing the keyword brings every country back, in the same order.
    type(form, QString());
    EXPECT_EQ(labels(form), everything);
}

INSTANTIATE_TEST_SUITE_P(Keywords, CountryFilterTest,
    ::testing::Values(
        FilterCase{"Ger",
            "ger",
            {QStringLiteral("Algeria (+213)"), QStringLiteral("Germany (+49)"), QStringLiteral("Niger (+227)"),
                QStringLiteral("Nigeria (+234)")}},
        FilterCase{"CapitalsMatchToo",
            "GER",
            {QStringLiteral("Algeria (+213)"), QStringLiteral("Germany (+49)"), QStringLiteral("Niger (+227)"),
                QStringLiteral("Nigeria (+234)")}},
        FilterCase{"CallingCode", "+49", {QStringLiteral("Germany (+49)")}},
        FilterCase{"NonAsciiInAnyCase", "\xC3\xA5land", {QString::fromUtf8("\xC3\x85land Islands (+358)")}},
        FilterCase{"NoMatch", "xyzzy", {}},
        FilterCase{"Empty", "", {}, true}),
    CaseName());

struct ConfirmCase
{
    std::string name;
    const char *label;
    const char *mmc;
};

void PrintTo(const ConfirmCase &c, std::ostream *os)
{
    *os << c.name;
}

class CountryConfirmTest : public CountrySelFormTest, public ::testing::WithParamInterface<ConfirmCase>
{
};

// The dialog hands back the country's first code, even where that code
// belongs to another country of the library.
TEST_P(CountryConfirmTest, YesEndsTheDialogWithTheFirstCode)
{
    MessageBoxAnswerer boxes;
    boxes.click(QMessageBox::Yes);
    CountrySelForm form;
    form.show();
    choose(form, QString::fromUtf8(GetParam().label));
    pressOk(form);
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown().first().icon, int(QMessageBox::Question));
    EXPECT_EQ(boxes.shown().first().text, QStringLiteral("Confirm to select %1?").arg(QString::fromUtf8(GetParam().label)));
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), 1);
    EXPECT_EQ(form.selectedMmc, QString::fromUtf8(GetParam().mmc));
}

INSTANTIATE_TEST_SUITE_P(Countries, CountryConfirmTest,
    ::testing::Values(ConfirmCase{"Germany", "Germany (+49)", "262"},
        ConfirmCase{"GuernseyTakesTheBritishCode", "Guernsey (+44)", "234"},
        ConfirmCase{"AscensionTakesItsFirstCode", "Ascension Island (+247)", "999"},
        ConfirmCase{"FirstOfSeveralCodes", "India (+91)", "404"}),
    CaseName());

TEST_F(CountrySelFormTest, OnlyAConfirmedChoiceEndsTheDialog)
{
    MessageBoxAnswerer boxes;
    CountrySelForm form;
    form.show();

    boxes.click(QMessageBox::Ok);
    pressOk(form);
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown().last().icon, int(QMessageBox::Warning));
    EXPECT_EQ(boxes.shown().last().text, QStringLiteral("Please select a cuntry code first to continue."));
    EXPECT_TRUE(form.isVisible());

    choose(form, QStringLiteral("Germany (+49)"));
    boxes.click(QMessageBox::No);
    pressOk(form);
    boxes.pressEscape();
    pressOk(form);
    ASSERT_EQ(boxes.shown().size(), 3);
    EXPECT_TRUE(form.isVisible());

    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    form.close();
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.selectedMmc.isEmpty());
    EXPECT_EQ(boxes.pendingAnswers(), 0);
}

// A country chosen before the list was filtered away is no choice any more.
TEST_F(CountrySelFormTest, FilteringDropsTheChoice)
{
    MessageBoxAnswerer boxes;
    CountrySelForm form;
    form.show();
    choose(form, QStringLiteral("Germany (+49)"));
    type(form, QStringLiteral("fra"));
    boxes.click(QMessageBox::Ok);
    pressOk(form);
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown().first().icon, int(QMessageBox::Warning));
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.selectedMmc.isEmpty());
}

// What stands in the application-data folder under the library's name.
struct BrokenLibraryCase
{
    std::string name;
    void (*make)(const QString &path);
};

void PrintTo(const BrokenLibraryCase &c, std::ostream *os)
{
    *os << c.name;
}

class BrokenLibraryTest : public CountrySelFormTest, public ::testing::WithParamInterface<BrokenLibraryCase>
{
protected:
    void SetUp() override
    {
        CountrySelFormTest::SetUp();
        qputenv("LARKSPAN_SERVICE_URL", server.baseUrl().toString().toUtf8()); // the error report stays here
        GetParam().make(appDataDir().filePath(QStringLiteral("countries.db")));
        CountryLibDb lib{QString()};
        try {
            lib.ensureOpen();
        } catch (const std::runtime_error &e) {
            error = QString::fromUtf8(e.what());
        }
        ASSERT_FALSE(error.isEmpty());
    }

    HttpCaptureServer server;
    QString error;
};

// The error is shown, and with nothing to choose from every way out closes
// the dialog without a country.
TEST_P(BrokenLibraryTest, ShowsTheErrorAndLetsTheUserOut)
{
    struct Exit
    {
        const char *name;
        void (*leave)(CountrySelForm &);
    };
    const Exit exits[] = {
        {"OK", pressOk},
        {"Escape", [](CountrySelForm &f) { QTest::keyClick(&f, Qt::Key_Escape); }},
        {"Close", [](CountrySelForm &f) { f.close(); }},
    };
    for (const Exit &exit : exits) {
        SCOPED_TRACE(exit.name);
        MessageBoxAnswerer boxes;
        boxes.click(QMessageBox::Ok);
        CountrySelForm form;
        ASSERT_EQ(boxes.shown().size(), 1);
        EXPECT_EQ(boxes.shown().first().icon, int(QMessageBox::Critical));
        EXPECT_TRUE(boxes.shown().first().text.contains(error)) << boxes.shown().first().text.toStdString();
        EXPECT_EQ(list(form)->count(), 0);

        form.show();
        exit.leave(form);
        EXPECT_FALSE(form.isVisible());
        EXPECT_EQ(form.result(), 0);
        EXPECT_TRUE(form.selectedMmc.isEmpty());
        EXPECT_EQ(boxes.shown().size(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Libraries, BrokenLibraryTest,
    ::testing::Values(BrokenLibraryCase{"NotADatabase",
                          [](const QString &path) {
                              QFile f(path);
                              ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                              f.write(QByteArray(4096, 'x'));
                          }},
        BrokenLibraryCase{"AFolder", [](const QString &path) { ASSERT_TRUE(QDir().mkpath(path)); }},
        BrokenLibraryCase{"NoCountryTables",
            [](const QString &path) {
                Sqlite3DB db;
                db.openThrow(path, Sqlite3DB::ReadWriteCreate);
                db.executeThrow("create table other (x)");
            }}),
    CaseName());

} // namespace
