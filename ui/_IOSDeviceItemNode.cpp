#include "_IOSDeviceItemNode.h"

_IOSDeviceItemNode::_IOSDeviceItemNode(_ItemNode *parent, const QString &name,
                                       QSharedPointer<const IOSDevice> device, QSharedPointer<AbsMessageDb> db)
    : _AbsDBItemNode(Type, name, parent, std::move(db))
    , device(std::move(device))
{
}
