#include "AbsTreeItemModel.h"

AbsTreeItemModel::_ItemNode::_ItemNode(int type, const QString &name, _ItemNode *parent)
    : type(type)
    , name(name)
    , parent(parent)
{
}

AbsTreeItemModel::_ItemNode::~_ItemNode()
{
    deleteChildren();
}

void AbsTreeItemModel::_ItemNode::deleteChildren()
{
    const QList<_ItemNode *> list = children;
    children.clear();
    qDeleteAll(list);
}

AbsTreeItemModel::AbsTreeItemModel(QObject *parent)
    : QAbstractItemModel(parent)
{
}

AbsTreeItemModel::~AbsTreeItemModel()
{
    const QList<_ItemNode *> list = m_nodes;
    m_nodes.clear();
    qDeleteAll(list);
}

QList<AbsTreeItemModel::_ItemNode *> &AbsTreeItemModel::childList(_ItemNode *node)
{
    return node ? node->children : m_nodes;
}

const QList<AbsTreeItemModel::_ItemNode *> &AbsTreeItemModel::childList(const _ItemNode *node) const
{
    return node ? node->children : m_nodes;
}

int AbsTreeItemModel::rowOfNode(const _ItemNode *node) const
{
    return int(childList(node->parent).indexOf(const_cast<_ItemNode *>(node)));
}

AbsTreeItemModel::_ItemNode *AbsTreeItemModel::nodeOf(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return static_cast<_ItemNode *>(index.internalPointer());
}

QModelIndex AbsTreeItemModel::index(int row, int column, const QModelIndex &parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    const QList<_ItemNode *> &list = childList(nodeOf(parent));
    return createIndex(row, column, list.at(row));
}

QModelIndex AbsTreeItemModel::parent(const QModelIndex &child) const
{
    const _ItemNode *node = nodeOf(child);
    if (!node || !node->parent)
        return QModelIndex();
    return indexOfNode(node->parent);
}

int AbsTreeItemModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return int(m_nodes.size());
    // Children hang off column 0 only; other cells of the row are leaves.
    if (parent.column() != 0)
        return 0;
    const _ItemNode *node = nodeOf(parent);
    return node ? int(node->children.size()) : 0;
}

QModelIndex AbsTreeItemModel::indexOfNode(const _ItemNode *node) const
{
    if (!node)
        return QModelIndex();
    const int row = rowOfNode(node);
    if (row < 0)
        return QModelIndex();
    return createIndex(row, 0, node);
}

int AbsTreeItemModel::countChildrenOfType(const _ItemNode *node, int type) const
{
    int n = 0;
    for (const _ItemNode *child : childList(node)) {
        if (child->type == type)
            ++n;
    }
    return n;
}

QList<AbsTreeItemModel::_ItemNode *> AbsTreeItemModel::collectNodes() const
{
    QList<_ItemNode *> result;
    // Depth first without recursion: a stack of nodes still to visit, pushed
    // in reverse so that they come off in order.
    QList<_ItemNode *> pending(m_nodes.crbegin(), m_nodes.crend());
    while (!pending.isEmpty()) {
        _ItemNode *node = pending.takeLast();
        result.append(node);
        for (auto it = node->children.crbegin(); it != node->children.crend(); ++it)
            pending.append(*it);
    }
    return result;
}

void AbsTreeItemModel::insertNode(_ItemNode *parent, int row, _ItemNode *node)
{
    if (!node)
        return;
    QList<_ItemNode *> &list = childList(parent);
    if (row < 0 || row > list.size())
        row = int(list.size());
    node->parent = parent;
    beginInsertRows(indexOfNode(parent), row, row);
    list.insert(row, node);
    endInsertRows();
}

void AbsTreeItemModel::appendNode(_ItemNode *parent, _ItemNode *node)
{
    insertNode(parent, -1, node);
}

void AbsTreeItemModel::appendNodes(_ItemNode *parent, const QList<_ItemNode *> &nodes)
{
    if (nodes.isEmpty())
        return;
    QList<_ItemNode *> &list = childList(parent);
    const int first = int(list.size());
    for (_ItemNode *node : nodes)
        node->parent = parent;
    beginInsertRows(indexOfNode(parent), first, first + int(nodes.size()) - 1);
    list.append(nodes);
    endInsertRows();
}

void AbsTreeItemModel::removeChildren(_ItemNode *node)
{
    QList<_ItemNode *> &list = childList(node);
    if (list.isEmpty())
        return;
    // The rows leave the model before their nodes are freed, so that nothing
    // the views do in between can reach a deleted node.
    beginRemoveRows(indexOfNode(node), 0, int(list.size()) - 1);
    const QList<_ItemNode *> gone = list;
    list.clear();
    endRemoveRows();
    qDeleteAll(gone);
}

void AbsTreeItemModel::removeNode(_ItemNode *node)
{
    if (!node)
        return;
    const int row = rowOfNode(node);
    if (row < 0)
        return;
    removeChildren(node);
    beginRemoveRows(indexOfNode(node->parent), row, row);
    childList(node->parent).removeAt(row);
    endRemoveRows();
    delete node;
}

void AbsTreeItemModel::nodeChanged(const _ItemNode *node)
{
    const QModelIndex first = indexOfNode(node);
    if (!first.isValid())
        return;
    const int lastColumn = qMax(0, columnCount(first.parent()) - 1);
    emit dataChanged(first, first.sibling(first.row(), lastColumn));
}

void AbsTreeItemModel::notifyLayoutChanged()
{
    emit layoutAboutToBeChanged();
    emit layoutChanged();
}
