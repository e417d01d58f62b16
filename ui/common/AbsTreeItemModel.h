#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QString>

// Base of the program's tree models: a forest of nodes that the model owns.
// Indexes carry the node as their internal pointer; rows are always taken
// from the live tree, never remembered, so removing a node in the middle of
// a list leaves every later sibling with its correct row.
//
// Only column 0 has children. Column count and data belong to the derived
// model.
class AbsTreeItemModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    // One node of the tree. The type tells the derived model what kind of
    // node it is. A node owns its children and deletes them with itself.
    //
    // The constructor only records the parent: a node joins its parent's
    // children (or the top level) through AbsTreeItemModel::insertNode, so
    // that views are told about it.
    class _ItemNode
    {
    public:
        _ItemNode(int type, const QString &name, _ItemNode *parent);
        virtual ~_ItemNode();

        _ItemNode(const _ItemNode &) = delete;
        _ItemNode &operator=(const _ItemNode &) = delete;

        int type;
        QString name;
        _ItemNode *parent;
        QList<_ItemNode *> children;

    protected:
        // For derived nodes whose children point into the derived node's own
        // members: deletes the children before those members go.
        void deleteChildren();
    };

    explicit AbsTreeItemModel(QObject *parent = nullptr);
    ~AbsTreeItemModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;

    // The column-0 index of a node of this model; invalid for null.
    QModelIndex indexOfNode(const _ItemNode *node) const;
    // The node an index of this model carries; null for an invalid index or
    // one of another model.
    _ItemNode *nodeOf(const QModelIndex &index) const;

    const QList<_ItemNode *> &topLevelNodes() const { return m_nodes; }
    // How many children of node (null: the top level) have the given type.
    int countChildrenOfType(const _ItemNode *node, int type) const;
    // Every node: each top-level node in order, followed by its descendants,
    // each node before its children.
    QList<_ItemNode *> collectNodes() const;

    // Deletes every child of node (null: every top-level node).
    void removeChildren(_ItemNode *node);
    // Deletes node with its descendants and takes it out of its parent.
    void removeNode(_ItemNode *node);
    // Tells the views that the node's data changed.
    void nodeChanged(const _ItemNode *node);
    // Tells the views that nodes may have moved.
    void notifyLayoutChanged();

protected:
    // Makes node child number row of parent (null: of the top level); a row
    // out of range appends. The model owns node from then on.
    void insertNode(_ItemNode *parent, int row, _ItemNode *node);
    void appendNode(_ItemNode *parent, _ItemNode *node);
    // Inserts nodes as one block at the end of parent's children.
    void appendNodes(_ItemNode *parent, const QList<_ItemNode *> &nodes);

private:
    QList<_ItemNode *> &childList(_ItemNode *node);
    const QList<_ItemNode *> &childList(const _ItemNode *node) const;
    int rowOfNode(const _ItemNode *node) const;

    QList<_ItemNode *> m_nodes;
};
