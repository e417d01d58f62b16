#include <functional>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "AbsTreeItemModel.h"

namespace
{

using Node = AbsTreeItemModel::_ItemNode;

// Counts live nodes, so that a test sees which nodes were freed.
int g_liveNodes = 0;

struct CountedNode : Node
{
    CountedNode(int type, const QString &name, Node *parent)
        : Node(type, name, parent)
    {
        ++g_liveNodes;
    }
    ~CountedNode() override { --g_liveNodes; }
};

// Two columns, so that the second column's cells can be asked for children.
class TwoColumnModel : public AbsTreeItemModel
{
public:
    int columnCount(const QModelIndex & = QModelIndex()) const override { return 2; }
    QVariant data(const QModelIndex &index, int role) const override
    {
        const Node *node = nodeOf(index);
        if (!node || role != Qt::DisplayRole)
            return QVariant();
        return node->name;
    }

    Node *add(Node *parent, const QString &name, int type = 0)
    {
        auto *node = new CountedNode(type, name, parent);
        appendNode(parent, node);
        return node;
    }
    Node *addAt(Node *parent, int row, const QString &name)
    {
        auto *node = new CountedNode(0, name, parent);
        insertNode(parent, row, node);
        return node;
    }
    void addBlock(Node *parent, const QStringList &names)
    {
        QList<Node *> nodes;
        for (const QString &n : names)
            nodes.append(new CountedNode(0, n, parent));
        appendNodes(parent, nodes);
    }
};

QStringList names(const QList<Node *> &nodes)
{
    QStringList list;
    for (const Node *n : nodes)
        list.append(n->name);
    return list;
}

class AbsTreeItemModelTest : public ::testing::Test
{
protected:
    void SetUp() override { g_liveNodes = 0; }
    void TearDown() override { EXPECT_EQ(g_liveNodes, 0); }
};

// Top level A, B, C; each with children named after it.
struct Forest
{
    TwoColumnModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
    Node *a;
    Node *b;
    Node *c;

    Forest()
    {
        a = model.add(nullptr, QStringLiteral("A"));
        b = model.add(nullptr, QStringLiteral("B"));
        c = model.add(nullptr, QStringLiteral("C"));
        for (Node *top : {a, b, c}) {
            for (int i = 0; i < 3; ++i)
                model.add(top, top->name + QString::number(i));
        }
    }
};

TEST_F(AbsTreeItemModelTest, IndexesFollowTheTree)
{
    Forest f;
    ASSERT_EQ(f.model.rowCount(), 3);
    const QModelIndex b = f.model.index(1, 0);
    EXPECT_EQ(f.model.nodeOf(b), f.b);
    EXPECT_EQ(f.model.rowCount(b), 3);
    const QModelIndex b2 = f.model.index(2, 0, b);
    EXPECT_EQ(f.model.nodeOf(b2)->name, QStringLiteral("B2"));
    EXPECT_EQ(f.model.parent(b2), b);
    EXPECT_FALSE(f.model.parent(b).isValid());
    EXPECT_EQ(f.model.indexOfNode(f.c->children.at(1)), f.model.index(1, 0, f.model.index(2, 0)));
    EXPECT_FALSE(f.model.index(3, 0).isValid());
    EXPECT_FALSE(f.model.index(0, 2).isValid());
    EXPECT_FALSE(f.model.index(-1, 0).isValid());
}

TEST_F(AbsTreeItemModelTest, ParentIsKnownWithoutAskingForItFirst)
{
    // A view may reach a deep index (a persistent index, a selection) before
    // it ever asked for the upper levels.
    Forest f;
    const QModelIndex c1 = f.model.indexOfNode(f.c->children.at(1));
    const QModelIndex parent = f.model.parent(c1);
    ASSERT_TRUE(parent.isValid());
    EXPECT_EQ(parent.row(), 2);
    EXPECT_EQ(f.model.nodeOf(parent), f.c);
}

TEST_F(AbsTreeItemModelTest, OnlyTheFirstColumnHasChildren)
{
    Forest f;
    const QModelIndex bFirst = f.model.index(1, 0);
    const QModelIndex bSecond = f.model.index(1, 1);
    ASSERT_TRUE(bSecond.isValid());
    EXPECT_EQ(f.model.rowCount(bFirst), 3);
    EXPECT_EQ(f.model.rowCount(bSecond), 0);
    EXPECT_FALSE(f.model.index(0, 0, bSecond).isValid());
}

TEST_F(AbsTreeItemModelTest, RemovingAMiddleNodeKeepsLaterRowsRight)
{
    Forest f;
    // Hand the later indexes out before the removal, as a view would have.
    const QModelIndex cBefore = f.model.index(2, 0);
    const QModelIndex c0Before = f.model.index(0, 0, cBefore);
    ASSERT_EQ(cBefore.row(), 2);
    ASSERT_TRUE(c0Before.isValid());
    QPersistentModelIndex c0Persistent(c0Before);

    QSignalSpy removed(&f.model, &QAbstractItemModel::rowsRemoved);
    f.model.removeNode(f.b);
    EXPECT_EQ(g_liveNodes, 8);

    // Ask through what was handed out before, without visiting the upper
    // levels again: nothing remembered from then may be used.
    ASSERT_TRUE(c0Persistent.isValid());
    EXPECT_EQ(f.model.parent(c0Persistent).row(), 1);
    EXPECT_EQ(f.model.indexOfNode(f.c).row(), 1);

    ASSERT_EQ(f.model.rowCount(), 2);
    EXPECT_EQ(names(f.model.topLevelNodes()), (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
    EXPECT_EQ(f.model.indexOfNode(f.c).row(), 1);
    EXPECT_EQ(f.model.nodeOf(f.model.index(1, 0)), f.c);
    const QModelIndex c0 = f.model.index(0, 0, f.model.index(1, 0));
    EXPECT_EQ(f.model.parent(c0).row(), 1);
    EXPECT_EQ(f.model.nodeOf(f.model.parent(c0)), f.c);
    EXPECT_EQ(c0Persistent, c0);

    // The children went first, then the node itself.
    ASSERT_EQ(removed.size(), 2);
    EXPECT_EQ(removed.at(0).at(0).value<QModelIndex>().row(), 1);
    EXPECT_EQ(removed.at(0).at(1).toInt(), 0);
    EXPECT_EQ(removed.at(0).at(2).toInt(), 2);
    EXPECT_FALSE(removed.at(1).at(0).value<QModelIndex>().isValid());
    EXPECT_EQ(removed.at(1).at(1).toInt(), 1);
    EXPECT_EQ(removed.at(1).at(2).toInt(), 1);
}

TEST_F(AbsTreeItemModelTest, RemoveChildren)
{
    struct Case
    {
        const char *name;
        std::function<Node *(Forest &)> target;
        int expectedSignals;
        int liveAfter;
    };
    const Case cases[] = {
        {"OfANode", [](Forest &f) { return f.a; }, 1, 9},
        {"OfALeafEmitsNothing", [](Forest &f) { return f.a->children.first(); }, 0, 12},
        {"OfTheTopLevel", [](Forest &) { return nullptr; }, 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        {
            Forest f;
            Node *target = c.target(f);
            QSignalSpy about(&f.model, &QAbstractItemModel::rowsAboutToBeRemoved);
            QSignalSpy removed(&f.model, &QAbstractItemModel::rowsRemoved);
            f.model.removeChildren(target);
            EXPECT_EQ(about.size(), c.expectedSignals);
            EXPECT_EQ(removed.size(), c.expectedSignals);
            EXPECT_EQ(g_liveNodes, c.liveAfter);
            if (target)
                EXPECT_TRUE(target->children.isEmpty());
            else
                EXPECT_EQ(f.model.rowCount(), 0);
        }
        EXPECT_EQ(g_liveNodes, 0);
    }
}

TEST_F(AbsTreeItemModelTest, RemoveNodeOfAnotherModelChangesNothing)
{
    Forest f;
    TwoColumnModel other;
    Node *stranger = other.add(nullptr, QStringLiteral("X"));
    QSignalSpy removed(&f.model, &QAbstractItemModel::rowsRemoved);
    f.model.removeNode(stranger);
    f.model.removeNode(nullptr);
    EXPECT_EQ(removed.size(), 0);
    EXPECT_EQ(other.rowCount(), 1);
    EXPECT_FALSE(f.model.indexOfNode(stranger).isValid());
    EXPECT_FALSE(f.model.indexOfNode(nullptr).isValid());
}

TEST_F(AbsTreeItemModelTest, InsertionsAreAnnounced)
{
    struct Case
    {
        const char *name;
        int row;
        int expectedRow;
        QStringList order;
    };
    const Case cases[] = {
        {"Front", 0, 0, {"N", "A0", "A1", "A2"}},
        {"Middle", 2, 2, {"A0", "A1", "N", "A2"}},
        {"End", 3, 3, {"A0", "A1", "A2", "N"}},
        {"PastTheEndAppends", 99, 3, {"A0", "A1", "A2", "N"}},
        {"NegativeAppends", -1, 3, {"A0", "A1", "A2", "N"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Forest f;
        QSignalSpy inserted(&f.model, &QAbstractItemModel::rowsInserted);
        QSignalSpy layout(&f.model, &QAbstractItemModel::layoutChanged);
        Node *n = f.model.addAt(f.a, c.row, QStringLiteral("N"));
        EXPECT_EQ(n->parent, f.a);
        EXPECT_EQ(names(f.a->children), c.order);
        ASSERT_EQ(inserted.size(), 1);
        EXPECT_EQ(inserted.at(0).at(0).value<QModelIndex>(), f.model.indexOfNode(f.a));
        EXPECT_EQ(inserted.at(0).at(1).toInt(), c.expectedRow);
        EXPECT_EQ(inserted.at(0).at(2).toInt(), c.expectedRow);
        EXPECT_EQ(layout.size(), 0);
    }
}

TEST_F(AbsTreeItemModelTest, BlockInsertIsOneAnnouncement)
{
    Forest f;
    QSignalSpy inserted(&f.model, &QAbstractItemModel::rowsInserted);
    f.model.addBlock(f.b, {QStringLiteral("x"), QStringLiteral("y")});
    f.model.addBlock(f.b, {});
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 3);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 4);
    EXPECT_EQ(f.b->children.at(4)->parent, f.b);
}

TEST_F(AbsTreeItemModelTest, CollectNodesIsPreOrder)
{
    TwoColumnModel model;
    Node *a = model.add(nullptr, QStringLiteral("a"));
    Node *a1 = model.add(a, QStringLiteral("a1"));
    model.add(a1, QStringLiteral("a1x"));
    model.add(a, QStringLiteral("a2"));
    model.add(nullptr, QStringLiteral("b"));
    EXPECT_EQ(names(model.collectNodes()),
        (QStringList{"a", "a1", "a1x", "a2", "b"}));
    EXPECT_TRUE(TwoColumnModel().collectNodes().isEmpty());
}

TEST_F(AbsTreeItemModelTest, CountChildrenOfType)
{
    TwoColumnModel model;
    Node *root = model.add(nullptr, QStringLiteral("root"), 1);
    model.add(nullptr, QStringLiteral("other root"), 2);
    for (int type : {3, 5, 3, 6, 3})
        model.add(root, QStringLiteral("n"), type);
    EXPECT_EQ(model.countChildrenOfType(root, 3), 3);
    EXPECT_EQ(model.countChildrenOfType(root, 5), 1);
    EXPECT_EQ(model.countChildrenOfType(root, 4), 0);
    EXPECT_EQ(model.countChildrenOfType(root->children.first(), 3), 0);
    EXPECT_EQ(model.countChildrenOfType(nullptr, 2), 1);
}

TEST_F(AbsTreeItemModelTest, NodeChangedCoversTheRow)
{
    Forest f;
    QSignalSpy changed(&f.model, &QAbstractItemModel::dataChanged);
    Node *b1 = f.b->children.at(1);
    f.model.nodeChanged(b1);
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed.at(0).at(0).value<QModelIndex>(), f.model.indexOfNode(b1));
    EXPECT_EQ(changed.at(0).at(1).value<QModelIndex>(), f.model.indexOfNode(b1).siblingAtColumn(1));
}

TEST_F(AbsTreeItemModelTest, LayoutChangeIsAnnouncedInPairs)
{
    Forest f;
    QSignalSpy before(&f.model, &QAbstractItemModel::layoutAboutToBeChanged);
    QSignalSpy after(&f.model, &QAbstractItemModel::layoutChanged);
    f.model.notifyLayoutChanged();
    EXPECT_EQ(before.size(), 1);
    EXPECT_EQ(after.size(), 1);
}

TEST_F(AbsTreeItemModelTest, NodesFreeTheirChildren)
{
    auto *top = new CountedNode(0, QStringLiteral("t"), nullptr);
    auto *child = new CountedNode(0, QStringLiteral("c"), top);
    top->children.append(child);
    child->children.append(new CountedNode(0, QStringLiteral("g"), child));
    EXPECT_EQ(g_liveNodes, 3);
    delete top;
}

TEST_F(AbsTreeItemModelTest, ModelFreesEveryNode)
{
    {
        Forest f;
        EXPECT_EQ(g_liveNodes, 12);
    }
}

} // namespace
