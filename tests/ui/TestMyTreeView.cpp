#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QSignalSpy>
#include <QStandardItemModel>

#include <gtest/gtest.h>

#include "MyTreeView.h"

namespace
{

struct Fixture
{
    QStandardItemModel model;
    MyTreeView view;

    Fixture()
    {
        for (const char *name : {"a", "b", "c"})
            model.appendRow(new QStandardItem(QString::fromLatin1(name)));
        view.setModel(&model);
        view.setSelectionMode(QAbstractItemView::SingleSelection);
    }
};

TEST(MyTreeViewTest, ReportsEachSelectionChange)
{
    Fixture f;
    QSignalSpy spy(&f.view, &MyTreeView::onSelectionChanged);
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

TEST(MyTreeViewTest, AsksForAContextMenu)
{
    struct Case
    {
        const char *name;
        QContextMenuEvent::Reason reason;
        bool toViewport; // where the platform delivers it: under the mouse, or to the focus widget
    };
    for (const Case &c : {Case{"Mouse", QContextMenuEvent::Mouse, true}, Case{"Keyboard", QContextMenuEvent::Keyboard, false}}) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.view.resize(200, 120);
        QSignalSpy spy(&f.view, &MyTreeView::createContextMenu);
        QContextMenuEvent event(c.reason, QPoint(10, 10));
        QCoreApplication::sendEvent(c.toViewport ? f.view.viewport() : static_cast<QWidget *>(&f.view), &event);
        EXPECT_EQ(spy.size(), 1);
        // The view handles no menu itself; the event goes on to its parents.
        EXPECT_FALSE(event.isAccepted());
    }
}

} // namespace
