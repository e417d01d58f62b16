#include "_MsgMessage.h"

#include <QCoreApplication>

#include <algorithm>

QString _MsgMessage::senderName() const
{
    if (!chat)
        return QCoreApplication::translate("_MsgMessage", "unknown");
    QString name = chat->displayName(true);
    if (chat->handles.size() > 1 && sender)
        name += QStringLiteral(" (%1)").arg(sender->_ct_name.isEmpty() ? sender->id : sender->_ct_name);
    return name;
}

QString _MsgMessage::cleanText() const
{
    QString s = text;
    s.remove(QChar(0xFFFC));
    return s;
}

QList<_MsgAttachment *> _MsgMessage::attachmentIds() const
{
    QList<_MsgAttachment *> list;
    list.reserve(attachments.size());
    for (_MsgAttachment *a : attachments) {
        if (a)
            list.append(a);
    }
    // The guid breaks ties so that the order never depends on the hash.
    std::sort(list.begin(), list.end(), [](const _MsgAttachment *a, const _MsgAttachment *b) {
        if (a->rowid != b->rowid)
            return a->rowid < b->rowid;
        return a->guid < b->guid;
    });
    return list;
}
