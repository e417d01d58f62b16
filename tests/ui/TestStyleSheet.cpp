#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include "AppStyleSheet.h"
#include "StyleSheetCache.h"

namespace
{

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

class StyleSheetCacheTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("s.css")); }
};

TEST_F(StyleSheetCacheTest, ReadsTheFileOnceAndKeepsIt)
{
    writeFile(path(), "QLabel { color: red; }");
    StyleSheetCache cache(path());
    EXPECT_EQ(cache.styleSheet(), QStringLiteral("QLabel { color: red; }"));
    writeFile(path(), "QLabel { color: blue; }");
    EXPECT_EQ(cache.styleSheet(), QStringLiteral("QLabel { color: red; }"));
    EXPECT_EQ(cache.reads(), 1);
}

TEST_F(StyleSheetCacheTest, MissingFileGivesEmptyAndIsTriedAgain)
{
    StyleSheetCache cache(path());
    EXPECT_TRUE(cache.styleSheet().isEmpty());
    EXPECT_EQ(cache.reads(), 0);
    writeFile(path(), "QLabel {}");
    EXPECT_EQ(cache.styleSheet(), QStringLiteral("QLabel {}"));
    EXPECT_EQ(cache.reads(), 1);
}

TEST_F(StyleSheetCacheTest, StopsAtTheFirstNulAndReadsLatin1)
{
    writeFile(path(), QByteArray("a{}\xE9", 4) + QByteArray(1, '\0') + "junk");
    StyleSheetCache cache(path());
    EXPECT_EQ(cache.styleSheet(), QStringLiteral("a{}\u00E9"));
}

TEST(AppStyleSheetTest, IsTheResourceAndStaysTheSame)
{
    QFile f(QStringLiteral(":style.css"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString sheet = appStyleSheet();
    EXPECT_EQ(sheet, QString::fromLatin1(f.readAll()));
    EXPECT_EQ(appStyleSheet(), sheet);
}

// Each rule a window of the application relies on, as selector and one
// setting it must carry.
struct RuleCase
{
    const char *selector;
    const char *setting;
};

class AppStyleSheetRuleTest : public ::testing::TestWithParam<RuleCase>
{
};

void PrintTo(const RuleCase &c, std::ostream *os)
{
    *os << c.selector << " { " << c.setting << " }";
}

QString ruleBody(const QString &sheet, const QString &selector)
{
    // The bodies of every rule whose selector list names the selector.
    QString bodies;
    qsizetype from = 0;
    while (true) {
        const qsizetype open = sheet.indexOf(QLatin1Char('{'), from);
        if (open < 0)
            return bodies;
        const qsizetype close = sheet.indexOf(QLatin1Char('}'), open);
        const qsizetype prevClose = sheet.lastIndexOf(QLatin1Char('}'), open);
        const QStringList selectors = sheet.mid(prevClose + 1, open - prevClose - 1).split(QLatin1Char(','));
        for (const QString &s : selectors) {
            if (s.simplified() == selector)
                bodies += sheet.mid(open + 1, close - open - 1).simplified() + QLatin1Char(' ');
        }
        from = close + 1;
    }
}

TEST_P(AppStyleSheetRuleTest, RuleCarriesSetting)
{
    const QString body = ruleBody(appStyleSheet(), QString::fromLatin1(GetParam().selector));
    ASSERT_FALSE(body.isEmpty()) << GetParam().selector;
    EXPECT_TRUE(body.contains(QString::fromLatin1(GetParam().setting), Qt::CaseInsensitive))
        << GetParam().selector << ": " << body.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Rules, AppStyleSheetRuleTest,
    ::testing::Values(RuleCase{"QPushButton", "border: 1px solid #B36F07"}, RuleCase{"QPushButton", "min-width: 65px"},
        RuleCase{"QPushButton", "min-height: 20px"}, RuleCase{"QPushButton", "stop: 0 #FFEAC9, stop: 1 #FFB645"},
        RuleCase{"QPushButton:hover", "border: 1px solid #2999FF"}, RuleCase{"#lbTitle", "font-weight: bold"},
        RuleCase{"QMessageBox", "url(:/subwin-bg.png)"}, RuleCase{"#AboutUsForm", "border: 1px solid black"},
        RuleCase{"#CountrySelForm", "background-repeat: no-repeat"}, RuleCase{"#DataSourceSelForm", "background-color: white"},
        RuleCase{"#LocalDbSelForm", "url(:/subwin-bg.png)"}, RuleCase{"#ProgressForm", "url(:/subwin-bg.png)"},
        RuleCase{"#LoadItunesBackupDlg", "url(:/subwin-bg.png)"}, RuleCase{"#PasscodeDlg", "url(:/subwin-bg.png)"},
        RuleCase{"#MainWindow", "url(:/main-bg.png)"}, RuleCase{"#MainWindow", "background-color: #ffffff"},
        RuleCase{"QMenuBar", "spacing: 15px"}, RuleCase{"QMenu", "border: 1px solid #AAAAAA"},
        RuleCase{"QMenu::item:selected", "stop: 0 #FE9516, stop: 1 #F2CDA1"}, RuleCase{"QMenu::item:disabled", "color: #E6E6E6"},
        RuleCase{"QToolBar", "spacing: 10px"}, RuleCase{"#txtSMS", "border: none"},
        RuleCase{"#treeViewDS", "border-bottom: 1px solid #E3E3E3"}, RuleCase{"#treeViewSMS QHeaderView::section", "height: 25px"},
        RuleCase{"#lbChatName", "padding: 0px 0px 0px 20px"}, RuleCase{"#lbSMSCount", "font-style: italic"},
        RuleCase{"QStatusBar", "background: #FAFAFA"}),
    [](const ::testing::TestParamInfo<RuleCase> &info) { return "Rule" + std::to_string(info.index); });

QStringList g_styleWarnings;

void captureStyleWarnings(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    g_styleWarnings.append(msg);
}

TEST(AppStyleSheetTest, ParsesAndItsPicturesExist)
{
    g_styleWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureStyleWarnings);
    {
        QWidget window;
        window.setObjectName(QStringLiteral("ProgressForm"));
        window.setStyleSheet(appStyleSheet());
        QPushButton button(QStringLiteral("x"), &window);
        window.show();
        window.grab();
        // The sheet's settings reach the widgets.
        EXPECT_GE(button.sizeHint().width(), 65);
        EXPECT_GE(button.sizeHint().height(), 20);
    }
    qInstallMessageHandler(previous);
    for (const QString &w : g_styleWarnings)
        EXPECT_FALSE(w.contains(QLatin1String("parse"), Qt::CaseInsensitive)) << w.toStdString();
    EXPECT_FALSE(QImage(QStringLiteral(":/subwin-bg.png")).isNull());
    EXPECT_FALSE(QImage(QStringLiteral(":/main-bg.png")).isNull());
}

} // namespace
