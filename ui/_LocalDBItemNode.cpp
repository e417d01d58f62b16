#include "_LocalDBItemNode.h"

_LocalDBItemNode::_LocalDBItemNode(_ItemNode *parent, const QString &name, QSharedPointer<AbsMessageDb> db)
    : _AbsDBItemNode(Type, name, parent, std::move(db))
{
}
