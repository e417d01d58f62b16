#include "_MsgHandle.h"

QString _MsgHandle::displayName(bool withId) const
{
    if (_ct_name.isEmpty())
        return id;
    if (!withId)
        return _ct_name;
    return QStringLiteral("%1 (%2)").arg(_ct_name, id);
}
