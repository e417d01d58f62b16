#include <QBrush>
#include <QDateTime>
#include <QLocale>
#include <QPixmap>
#include <QSignalSpy>
#include <QSize>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "BackupManifest.h"
#include "CaseName.h"
#include "ItemModelLoadBk.h"

namespace
{

QSharedPointer<BackupManifest> backup(const QString &name, const QDateTime &date,
                                      const QString &folder = QStringLiteral("/backups/x"))
{
    auto b = QSharedPointer<BackupManifest>::create(folder);
    b->displayName = name;
    b->info.date = date;
    return b;
}

QDateTime day(int y, int m, int d)
{
    return QDateTime(QDate(y, m, d), QTime(12, 0), Qt::UTC);
}

QStringList names(const ItemModelLoadBk &model)
{
    QStringList out;
    for (int row = 0; row < model.rowCount(); ++row)
        out << model.index(row, 0).data().toString();
    return out;
}

} // namespace

TEST(ItemModelLoadBkTest, ThreeColumnsWithUntranslatedHeaders)
{
    ItemModelLoadBk model;
    EXPECT_EQ(model.columnCount(), 3);
    model.addBackup(backup("a", day(2013, 1, 1)));
    EXPECT_EQ(model.columnCount(model.index(0, 0)), 3);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Name");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Backup Date");
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), "Path");
    EXPECT_FALSE(model.headerData(3, Qt::Horizontal).isValid());
    EXPECT_FALSE(model.headerData(0, Qt::Vertical).isValid());
    EXPECT_FALSE(model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());
}

namespace
{

struct OrderCase
{
    std::string name;
    QList<QDateTime> added;    // in the order they are added
    QList<int> expectedOrder;  // positions in `added`, top row first
};

void PrintTo(const OrderCase &c, std::ostream *os)
{
    *os << c.name;
}

class ItemModelLoadBkOrderTest : public ::testing::TestWithParam<OrderCase>
{
};

} // namespace

TEST_P(ItemModelLoadBkOrderTest, NewestFirstAndTiesBelowTheListedOnes)
{
    ItemModelLoadBk model;
    QSignalSpy before(&model, &QAbstractItemModel::rowsAboutToBeInserted);
    QSignalSpy after(&model, &QAbstractItemModel::rowsInserted);
    QList<int> expectedRows;
    for (int i = 0; i < GetParam().added.size(); ++i) {
        ItemModelLoadBk::_BKItemNode *node = model.addBackup(backup(QString::number(i), GetParam().added.at(i)));
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->type, 0);
        EXPECT_EQ(node->name, QString::number(i));
        EXPECT_EQ(node->parent, nullptr);
        // Exactly one row announced, where the node went.
        const int row = model.indexOfNode(node).row();
        ASSERT_EQ(before.size(), i + 1);
        ASSERT_EQ(after.size(), i + 1);
        EXPECT_EQ(before.last().at(1).toInt(), row);
        EXPECT_EQ(before.last().at(2).toInt(), row);
        EXPECT_EQ(after.last().at(1).toInt(), row);
        EXPECT_EQ(after.last().at(2).toInt(), row);
    }
    QStringList expected;
    for (int i : GetParam().expectedOrder)
        expected << QString::number(i);
    EXPECT_EQ(names(model), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ItemModelLoadBkOrderTest,
    ::testing::Values(
        OrderCase{"ThreeYears", {day(2013, 1, 1), day(2014, 6, 1), day(2012, 5, 1)}, {1, 0, 2}},
        OrderCase{"AlreadyNewestFirst", {day(2014, 1, 1), day(2013, 1, 1), day(2012, 1, 1)}, {0, 1, 2}},
        OrderCase{"OldestFirst", {day(2012, 1, 1), day(2013, 1, 1), day(2014, 1, 1)}, {2, 1, 0}},
        OrderCase{"SameDateGoesBelow", {day(2013, 1, 1), day(2013, 1, 1), day(2012, 1, 1), day(2013, 1, 1)},
                  {0, 1, 3, 2}},
        OrderCase{"UndatedAtTheBottom", {QDateTime(), day(2013, 1, 1), QDateTime()}, {1, 0, 2}}),
    CaseName());

TEST(ItemModelLoadBkTest, CellsShowTheBackupAndRowsAlternate)
{
    ItemModelLoadBk model;
    const QDateTime date(QDate(2013, 3, 1), QTime(12, 30), Qt::UTC);
    model.addBackup(backup("Phone One", date, "/backups/one"));
    model.addBackup(backup("Phone Two", date.addDays(-1), "/backups/two"));

    const QString dateText = QLocale::system().toString(date.toLocalTime(), QLocale::ShortFormat);
    struct Cell
    {
        int column;
        QString text;
    };
    for (const Cell &c : {Cell{0, "Phone One"}, Cell{1, dateText}, Cell{2, "/backups/one"}}) {
        SCOPED_TRACE(c.column);
        EXPECT_EQ(model.index(0, c.column).data(Qt::DisplayRole).toString(), c.text);
        EXPECT_EQ(model.index(0, c.column).data(Qt::ToolTipRole).toString(), c.text);
        EXPECT_EQ(model.index(0, c.column).data(Qt::SizeHintRole).toSize(), QSize(0, 25));
        EXPECT_FALSE(model.index(0, c.column).data(Qt::FontRole).isValid());
        EXPECT_EQ(model.index(0, c.column).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(250, 250, 250));
        EXPECT_EQ(model.index(1, c.column).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(255, 255, 255));
    }
    const QPixmap icon = model.index(0, 0).data(Qt::DecorationRole).value<QPixmap>();
    EXPECT_FALSE(icon.isNull());
    EXPECT_EQ(icon.width(), 18);
    EXPECT_FALSE(model.index(0, 1).data(Qt::DecorationRole).isValid());
    EXPECT_FALSE(model.index(0, 2).data(Qt::DecorationRole).isValid());

    EXPECT_FALSE(model.data(QModelIndex(), Qt::DisplayRole).isValid());
    EXPECT_EQ(model.backupAt(model.index(1, 2))->displayName, "Phone Two");
    EXPECT_TRUE(model.backupAt(QModelIndex()).isNull());
}

TEST(ItemModelLoadBkTest, RowsKeepTheirBackupsAliveUntilTheModelGoes)
{
    QWeakPointer<BackupManifest> weak;
    {
        ItemModelLoadBk model;
        auto b = backup("a", day(2013, 1, 1));
        weak = b;
        model.addBackup(b);
        b.reset();
        EXPECT_FALSE(weak.isNull());
    }
    EXPECT_TRUE(weak.isNull());
}
