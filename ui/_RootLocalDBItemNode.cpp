#include "_RootLocalDBItemNode.h"

_RootLocalDBItemNode::_RootLocalDBItemNode(const QString &name)
    : _ItemNode(Type, name, nullptr)
{
}
