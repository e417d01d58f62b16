#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTranslator>

#include <gtest/gtest.h>

#include "AppFolders.h"
#include "CaseName.h"
#include "HttpCaptureServer.h"
#include "ItemModelMain.h"
#include "MainWindow.h"
#include "MessageBoxAnswerer.h"
#include "MyTreeView.h"
#include "RecordingShellOpener.h"
#include "ServiceUrlScope.h"
#include "SmsBrowser.h"
#include "TestClock.h"
#include "_RootLocalDBItemNode.h"

namespace
{

// A window built with the English translation installed, against a local
// web service, with the desktop stood in for.
class MainWindowFormTest : public ::testing::Test
{
protected:
    MainWindowFormTest()
    {
        if (translator.load(QStringLiteral(":/en.qm")))
            QApplication::installTranslator(&translator);
        window = std::make_unique<MainWindow>();
    }

    template <class T>
    T *child(const char *name)
    {
        return window->findChild<T *>(QLatin1String(name));
    }

    QTranslator translator;
    HttpCaptureServer server;
    ServiceUrlScope url{server.baseUrl().toString()};
    RecordingShellOpener opener;
    MessageBoxAnswerer boxes;
    std::unique_ptr<MainWindow> window;
};

struct PlaceCase
{
    const char *name; // object name
    const char *className;
    const char *parent; // object name of the widget it sits in
};

void PrintTo(const PlaceCase &c, std::ostream *os)
{
    *os << c.name;
}

class MainWindowPlaceTest : public MainWindowFormTest, public ::testing::WithParamInterface<PlaceCase>
{
};

// Other parts of the program find the widgets by these names.
TEST_P(MainWindowPlaceTest, WidgetSitsWhereTheFormPutsIt)
{
    QObject *object = window->findChild<QObject *>(QLatin1String(GetParam().name));
    ASSERT_NE(object, nullptr);
    EXPECT_STREQ(object->metaObject()->className(), GetParam().className);
    QObject *holder = object->parent();
    if (auto *layout = qobject_cast<QLayout *>(object))
        holder = layout->parentWidget();
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(holder->objectName(), QLatin1String(GetParam().parent));
    // Every layout of the form is tight.
    if (auto *layout = qobject_cast<QLayout *>(object)) {
        EXPECT_EQ(layout->spacing(), 0);
        EXPECT_EQ(layout->contentsMargins(), QMargins());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MainWindowPlaceTest,
    ::testing::Values(PlaceCase{"centralWidget", "QWidget", "MainWindow"},
        PlaceCase{"verticalLayout_4", "QVBoxLayout", "centralWidget"}, PlaceCase{"splitter", "QSplitter", "centralWidget"},
        PlaceCase{"widget_5", "QWidget", "splitter"}, PlaceCase{"verticalLayout_3", "QVBoxLayout", "widget_5"},
        PlaceCase{"widget_4", "QWidget", "widget_5"}, PlaceCase{"horizontalLayout_2", "QHBoxLayout", "widget_4"},
        PlaceCase{"txtHandleKeyword", "QLineEdit", "widget_4"}, PlaceCase{"btnSearchHandle", "QToolButton", "widget_4"},
        PlaceCase{"treeViewDS", "MyTreeView", "widget_5"}, PlaceCase{"widget", "QWidget", "splitter"},
        PlaceCase{"verticalLayout_5", "QVBoxLayout", "widget"}, PlaceCase{"splitter_2", "QSplitter", "widget"},
        PlaceCase{"widget_2", "QWidget", "splitter_2"}, PlaceCase{"verticalLayout", "QVBoxLayout", "widget_2"},
        PlaceCase{"widget_3", "QWidget", "widget_2"}, PlaceCase{"horizontalLayout", "QHBoxLayout", "widget_3"},
        PlaceCase{"txtSMSKeyword", "QLineEdit", "widget_3"}, PlaceCase{"btnSearchSMS", "QToolButton", "widget_3"},
        PlaceCase{"treeViewSMS", "MyTreeView", "widget_2"}, PlaceCase{"widget_6", "QWidget", "splitter_2"},
        PlaceCase{"verticalLayout_2", "QVBoxLayout", "widget_6"}, PlaceCase{"lbChatName", "QLabel", "widget_6"},
        PlaceCase{"txtSMS", "SmsBrowser", "widget_6"}, PlaceCase{"lbSMSCount", "QLabel", "widget_6"},
        PlaceCase{"menuBar", "QMenuBar", "MainWindow"}, PlaceCase{"mainToolBar", "QToolBar", "MainWindow"},
        PlaceCase{"statusBar", "QStatusBar", "MainWindow"}),
    CaseName());

TEST_F(MainWindowFormTest, WindowAndPanes)
{
    EXPECT_EQ(window->objectName(), QStringLiteral("MainWindow"));
    EXPECT_EQ(window->size(), QSize(1000, 680));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Quenmarvile Larkspan"));
    EXPECT_FALSE(window->styleSheet().isEmpty());

    auto *splitter = child<QSplitter>("splitter");
    EXPECT_EQ(splitter->orientation(), Qt::Horizontal);
    EXPECT_EQ(splitter->handleWidth(), 1);
    EXPECT_FALSE(splitter->childrenCollapsible());
    auto *splitter2 = child<QSplitter>("splitter_2");
    EXPECT_EQ(splitter2->orientation(), Qt::Vertical);
    EXPECT_EQ(splitter2->handleWidth(), 1);
    EXPECT_FALSE(splitter2->childrenCollapsible());

    for (const char *name : {"btnSearchHandle", "btnSearchSMS"}) {
        auto *button = child<QToolButton>(name);
        EXPECT_EQ(button->text(), QStringLiteral("...")) << name;
        EXPECT_FALSE(button->icon().isNull()) << name;
    }

    auto *chatName = child<QLabel>("lbChatName");
    EXPECT_EQ(chatName->minimumHeight(), 25);
    EXPECT_EQ(chatName->text(), QStringLiteral("Conversations"));
    auto *browser = child<SmsBrowser>("txtSMS");
    EXPECT_EQ(browser->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    EXPECT_EQ(browser->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    EXPECT_EQ(browser->sizePolicy().horizontalStretch(), 1);
    EXPECT_EQ(browser->frameShadow(), QFrame::Plain);
    EXPECT_EQ(browser->lineWidth(), 0);
    auto *count = child<QLabel>("lbSMSCount");
    EXPECT_EQ(count->text(), QStringLiteral("SMS: 0"));
    EXPECT_EQ(count->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    EXPECT_EQ(count->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    EXPECT_EQ(count->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);

    auto *toolBar = child<QToolBar>("mainToolBar");
    EXPECT_FALSE(toolBar->isMovable());
    EXPECT_FALSE(toolBar->isFloatable());
    EXPECT_EQ(toolBar->iconSize(), QSize(60, 60));
    EXPECT_EQ(window->toolBarArea(toolBar), Qt::TopToolBarArea);
}

TEST_F(MainWindowFormTest, TheTreeGetsAQuarterOfTheWidth)
{
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QList<int> sizes = child<QSplitter>("splitter")->sizes();
    ASSERT_EQ(sizes.size(), 2);
    EXPECT_NEAR(sizes[0], 250, 2);
    EXPECT_NEAR(sizes[1], 750, 2);
}

TEST_F(MainWindowFormTest, SourceTree)
{
    auto *tree = child<MyTreeView>("treeViewDS");
    EXPECT_TRUE(tree->isHeaderHidden());
    EXPECT_EQ(tree->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(tree->lineWidth(), 1);
    auto *model = qobject_cast<ItemModelMain *>(tree->model());
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(static_cast<QObject *>(model)->parent(), window.get());
    EXPECT_TRUE(tree->isExpanded(model->indexOfNode(model->localDbRoot())));
}

TEST_F(MainWindowFormTest, MessageListSortsByDateAscending)
{
    auto *list = child<MyTreeView>("treeViewSMS");
    EXPECT_FALSE(list->showDropIndicator());
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(list->indentation(), 5);
    EXPECT_FALSE(list->itemsExpandable());
    EXPECT_TRUE(list->isSortingEnabled());
    EXPECT_NE(list->model(), nullptr);
    EXPECT_EQ(static_cast<QObject *>(list->model())->parent(), window.get());
    const QHeaderView *header = list->header();
    EXPECT_FALSE(header->sectionsMovable());
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    EXPECT_EQ(header->sectionSize(0), 160);
    EXPECT_EQ(header->sectionSize(1), 50);
    EXPECT_EQ(header->sectionSize(2), 120);
}

TEST_F(MainWindowFormTest, StatusBarHoldsTheNewsLabel)
{
    auto *bar = child<QStatusBar>("statusBar");
    EXPECT_EQ(bar->styleSheet(), QStringLiteral("QStatusBar::item{border: 0px}"));
    const QList<QLabel *> labels = bar->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels[0]->textFormat(), Qt::RichText);
    EXPECT_FALSE(labels[0]->openExternalLinks());
    EXPECT_TRUE(labels[0]->text().isEmpty());
}

TEST(MainWindowNews, TheStoredLinkIsShownAtStart)
{
    const QByteArray stored = "<a style=\"color:#FF6016;text-decoration:none;\" href=\"http://news.test/\">Spring \xc3\xa4</a>";
    {
        QFile file(appDataDir().filePath(QStringLiteral("last-adv")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(stored);
    }
    ServiceUrlScope url(QStringLiteral("none:"));
    MainWindow window;
    auto *label = window.findChild<QStatusBar *>(QStringLiteral("statusBar"))->findChild<QLabel *>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QString::fromUtf8(stored));
}

TEST_F(MainWindowFormTest, ConstructionAsksTheServiceOnce)
{
    ASSERT_TRUE(server.waitForRequests(2));
    QTest::qWait(200);
    QStringList targets;
    for (const HttpCaptureServer::Request &r : server.requests())
        targets.append(r.target);
    targets.sort();
    EXPECT_EQ(targets,
        (QStringList{QStringLiteral("/adv.php?pid=7A31C09E55D24fb8B1E6D0934C2AF7B1"),
            QStringLiteral("/sms_check_update.php?pid=7A31C09E55D24fb8B1E6D0934C2AF7B1&ver=40&q=1")}));

    // The answer was stored: a second window within the day asks nothing.
    ASSERT_TRUE(QTest::qWaitFor([] { return QFile::exists(appDataDir().filePath(QStringLiteral("last-check-version-time"))); }));
    window.reset();
    window = std::make_unique<MainWindow>();
    QTest::qWait(300);
    EXPECT_EQ(server.requests().size(), 2);
}

TEST_F(MainWindowFormTest, CheckForUpdateOpensTheUpdatePage)
{
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "miCheckUpdate"));
    EXPECT_EQ(opener.urls(),
        (QList<QUrl>{QUrl(server.baseUrl().toString() + QStringLiteral("/sms_check_update.php?pid=7A31C09E55D24fb8B1E6D0934C2AF7B1&ver=40"))}));
}

} // namespace
