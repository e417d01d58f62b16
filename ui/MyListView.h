#pragma once

#include <QItemSelection>
#include <QListView>

// A list view that reports selection changes and context-menu requests to
// whoever holds it, before handling them itself (the list counterpart of
// MyTreeView).
class MyListView : public QListView
{
    Q_OBJECT

public:
    explicit MyListView(QWidget *parent = nullptr);

signals:
    void onSelectionChanged(QItemSelection selected, QItemSelection deselected);
    void createContextMenu();

protected:
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
};
