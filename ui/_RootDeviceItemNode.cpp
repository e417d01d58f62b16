#include "_RootDeviceItemNode.h"

_RootDeviceItemNode::_RootDeviceItemNode(const QString &name)
    : _ItemNode(Type, name, nullptr)
{
}
