#pragma once

#include <QSharedPointer>

#include "AbsMessageDb.h"
#include "AbsTreeItemModel.h"
#include "MsgDataSet.h"

// A message source in the tree: a device or a local database. It keeps one
// reference to its database and owns the records read from it; the
// conversation nodes below it point into those records.
class _AbsDBItemNode : public AbsTreeItemModel::_ItemNode
{
public:
    _AbsDBItemNode(int type, const QString &name, _ItemNode *parent, QSharedPointer<AbsMessageDb> db);
    ~_AbsDBItemNode() override;

    QSharedPointer<AbsMessageDb> db;
    // Every conversation, handle and message read from db; empty at first.
    MsgDataSet dataSet;
};
