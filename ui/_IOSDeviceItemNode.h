#pragma once

#include <QSharedPointer>

#include "_AbsDBItemNode.h"

class IOSDevice;

// A connected or stored device. The node keeps its own copy of the device
// record, which nobody else changes; it is held by pointer so that the tree
// does not depend on the device layer's headers.
class _IOSDeviceItemNode : public _AbsDBItemNode
{
public:
    static constexpr int Type = 3;

    _IOSDeviceItemNode(_ItemNode *parent, const QString &name, QSharedPointer<const IOSDevice> device,
                       QSharedPointer<AbsMessageDb> db);

    QSharedPointer<const IOSDevice> device;
};
