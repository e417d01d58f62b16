#pragma once

#include "AbsTreeItemModel.h"

// The top-level node under which the local databases are listed.
class _RootLocalDBItemNode : public AbsTreeItemModel::_ItemNode
{
public:
    static constexpr int Type = 2;

    explicit _RootLocalDBItemNode(const QString &name);
};
