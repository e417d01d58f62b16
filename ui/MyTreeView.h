#pragma once

#include <QItemSelection>
#include <QTreeView>

// A tree view that reports selection changes and context-menu requests to
// whoever holds it, before handling them itself.
class MyTreeView : public QTreeView
{
    Q_OBJECT

public:
    explicit MyTreeView(QWidget *parent = nullptr);

signals:
    void onSelectionChanged(QItemSelection selected, QItemSelection deselected);
    void createContextMenu();

protected:
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
};
