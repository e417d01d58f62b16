#pragma once

#include "AbsTreeItemModel.h"

// The top-level node under which connected and stored devices are listed.
class _RootDeviceItemNode : public AbsTreeItemModel::_ItemNode
{
public:
    static constexpr int Type = 1;

    explicit _RootDeviceItemNode(const QString &name);
};
