#include "ItemModelLoadBk.h"

#include <QBrush>
#include <QColor>
#include <QLocale>
#include <QSize>

namespace
{

constexpr int kBackupNode = 0;
constexpr int kRowHeight = 25;
constexpr int kIconWidth = 18;

} // namespace

ItemModelLoadBk::_BKItemNode::_BKItemNode(const QSharedPointer<BackupManifest> &backup)
    : _ItemNode(kBackupNode, backup ? backup->displayName : QString(), nullptr)
    , backup(backup)
{
}

ItemModelLoadBk::ItemModelLoadBk(QObject *parent)
    : AbsTreeItemModel(parent)
    // Scaled once rather than for every painted row.
    , m_icon(QPixmap(QStringLiteral(":/res/iphone.png")).scaledToWidth(kIconWidth, Qt::FastTransformation))
{
}

int ItemModelLoadBk::columnCount(const QModelIndex &) const
{
    return 3;
}

QVariant ItemModelLoadBk::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case 0:
        return QStringLiteral("Name");
    case 1:
        return QStringLiteral("Backup Date");
    case 2:
        return QStringLiteral("Path");
    default:
        return QVariant();
    }
}

QVariant ItemModelLoadBk::data(const QModelIndex &index, int role) const
{
    const auto *node = dynamic_cast<const _BKItemNode *>(nodeOf(index));
    if (!node || !node->backup)
        return QVariant();
    const BackupManifest &backup = *node->backup;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case 0:
            return backup.displayName;
        case 1:
            return QLocale::system().toString(backup.info.date.toLocalTime(), QLocale::ShortFormat);
        case 2:
            return backup.folder.absolutePath();
        default:
            return QVariant();
        }
    case Qt::DecorationRole:
        return index.column() == 0 ? QVariant(m_icon) : QVariant();
    case Qt::BackgroundRole:
        return index.row() % 2 == 1 ? QBrush(QColor(255, 255, 255)) : QBrush(QColor(250, 250, 250));
    case Qt::SizeHintRole:
        return QSize(0, kRowHeight);
    default:
        return QVariant();
    }
}

ItemModelLoadBk::_BKItemNode *ItemModelLoadBk::addBackup(const QSharedPointer<BackupManifest> &backup)
{
    const QDateTime date = backup ? backup->info.date : QDateTime();
    const QList<_ItemNode *> &rows = topLevelNodes();
    int row = 0;
    for (; row < rows.size(); ++row) {
        const auto *listed = static_cast<const _BKItemNode *>(rows.at(row));
        if (listed->backup && listed->backup->info.date < date)
            break;
    }
    auto *node = new _BKItemNode(backup);
    insertNode(nullptr, row, node);
    return node;
}

QSharedPointer<BackupManifest> ItemModelLoadBk::backupAt(const QModelIndex &index) const
{
    const auto *node = dynamic_cast<const _BKItemNode *>(nodeOf(index));
    return node ? node->backup : QSharedPointer<BackupManifest>();
}
