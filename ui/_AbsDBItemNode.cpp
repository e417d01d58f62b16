#include "_AbsDBItemNode.h"

_AbsDBItemNode::_AbsDBItemNode(int type, const QString &name, _ItemNode *parent, QSharedPointer<AbsMessageDb> db)
    : _ItemNode(type, name, parent)
    , db(std::move(db))
    , dataSet(MsgDataSet::create())
{
}

_AbsDBItemNode::~_AbsDBItemNode()
{
    // The conversation nodes point into dataSet: they go first.
    deleteChildren();
}
