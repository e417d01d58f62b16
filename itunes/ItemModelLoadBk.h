#pragma once

#include <QModelIndex>
#include <QPixmap>
#include <QSharedPointer>
#include <QVariant>

#include "AbsTreeItemModel.h"
#include "BackupManifest.h"

// The list of backups to choose from: one row per backup, newest first, with
// its name, date and folder. The rows keep their backups alive.
class ItemModelLoadBk : public AbsTreeItemModel
{
public:
    // One listed backup (node type 0).
    class _BKItemNode : public AbsTreeItemModel::_ItemNode
    {
    public:
        explicit _BKItemNode(const QSharedPointer<BackupManifest> &backup);

        QSharedPointer<BackupManifest> backup;
    };

    explicit ItemModelLoadBk(QObject *parent = nullptr);

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Lists the backup above every one with an earlier date (below those of
    // the same date) and returns its row's node.
    _BKItemNode *addBackup(const QSharedPointer<BackupManifest> &backup);

    // The backup of a row; null for an index of no row.
    QSharedPointer<BackupManifest> backupAt(const QModelIndex &index) const;

private:
    QPixmap m_icon;
};
