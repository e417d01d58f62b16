#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QSignalSpy>
#include <QStandardItemModel>

#include <gtest/gtest.h>

#include "MyListView.h"
#include "MyTreeView.h"

namespace
{

// The tree and the list view report alike.
template <class View>
struct Fixture
{
    QStandardItemModel model;
    View view;

    Fixture()
    {
        for (const char *name : {"a", "b", "c"})
            model.appendRow(new QStandardItem(QString::fromLatin1(name)));
        view.setModel(&model);
        view.setSelectionMode(QAbstractItemView::SingleSelection);
    }
};

template <class View>
class ReportingViewTest : public ::testing::Test
{
};

using Views = ::testing::Types<MyTreeView, MyListView>;
TYPED_TEST_SUITE(ReportingViewTest, Views);

TYPED_TEST(ReportingViewTest, ReportsEachSelectionChange)
{
    Fixture<TypeParam> f;
    QSignalSpy spy(&f.view, &TypeParam::onSelectionChanged);
    // The view's own handling still runs: the selection model and the
    // view agree afterwards.
    f.view.setCurrentIndex(f.model.index(0, 0));
    f.view.setCurrentIndex(f.model.index(2, 0));
    ASSERT_EQ(spy.size(), 2);
    const QItemSelection selected = spy.at(1).at(0).value<QItemSelection>();
    const QItemSelection deselected = spy.at(1).at(1).value<QItemSelection>();
    EXPECT_TRUE(selected.contains(f.model.index(2, 0)));
    EXPECT_TRUE(deselected.contains(f.model.index(0, 0)));
    EXPECT_EQ(f.view.selectionModel()->selectedIndexes(), QModelIndexList{f.model.index(2, 0)});
}

TYPED_TEST(ReportingViewTest, AsksForAContextMenu)
{
    struct Case
    {
        const char *name;
        QContextMenuEvent::Reason reason;
        bool toViewport; // where the platform delivers it: under the mouse, or to the focus widget
    };
    for (const Case &c : {Case{"Mouse", QContextMenuEvent::Mouse, true}, Case{"Keyboard", QContextMenuEvent::Keyboard, false}}) {
        SCOPED_TRACE(c.name);
        Fixture<TypeParam> f;
        f.view.resize(200, 120);
        QSignalSpy spy(&f.view, &TypeParam::createContextMenu);
        QContextMenuEvent event(c.reason, QPoint(10, 10));
        QCoreApplication::sendEvent(c.toViewport ? f.view.viewport() : static_cast<QWidget *>(&f.view), &event);
        EXPECT_EQ(spy.size(), 1);
        // The view handles no menu itself; the event goes on to its parents.
        EXPECT_FALSE(event.isAccepted());
    }
}

} // namespace
