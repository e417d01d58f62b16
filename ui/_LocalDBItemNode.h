#pragma once

#include "_AbsDBItemNode.h"

// A local database, named after its folder under the local-databases folder.
class _LocalDBItemNode : public _AbsDBItemNode
{
public:
    static constexpr int Type = 5;

    _LocalDBItemNode(_ItemNode *parent, const QString &name, QSharedPointer<AbsMessageDb> db);
};
