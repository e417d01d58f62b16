#include "MsgSetBuilder.h"

MsgSetBuilder::MsgSetBuilder()
    : m_set(MsgDataSet::create())
{
}

MsgSetBuilder::MsgSetBuilder(const MsgDataSet &set)
    : m_set(set)
{
}

_MsgChat *MsgSetBuilder::chat(qint64 rowid, const QString &identifier, int last)
{
    auto *c = new _MsgChat;
    c->rowid = rowid;
    c->chat_identifier = identifier;
    c->guid = QStringLiteral("SMS;-;") + identifier;
    c->_last = last;
    m_set.data()->chats.insert(rowid, c);
    return c;
}

_MsgHandle *MsgSetBuilder::handle(_MsgChat *chat, qint64 rowid, const QString &id, const QString &contactName)
{
    auto *h = new _MsgHandle;
    h->rowid = rowid;
    h->id = id;
    h->_ct_name = contactName;
    m_set.data()->handles.insert(rowid, h);
    if (chat)
        chat->handles.insert(QString::number(rowid), h);
    return h;
}

_MsgMessage *MsgSetBuilder::message(_MsgChat *chat, qint64 key, int date, const QString &text, _MsgHandle *sender)
{
    auto *m = new _MsgMessage;
    m->rowid = key;
    m->_key = key;
    m->date = date;
    m->text = text;
    m->sender = sender;
    m->handle_id = sender ? sender->rowid : 0;
    m->chat = chat;
    m_set.data()->messages.insert(key, m);
    if (chat)
        chat->messages.insert(QString::number(key), m);
    return m;
}

_MsgAttachment *MsgSetBuilder::attachment(_MsgMessage *message, qint64 rowid, const QString &filename,
                                          const QString &mimeType)
{
    auto *a = new _MsgAttachment;
    a->rowid = rowid;
    a->guid = QStringLiteral("ATT-%1").arg(rowid);
    a->filename = filename;
    a->mime_type = mimeType;
    m_set.data()->attachments.insert(rowid, a);
    if (message)
        message->attachments.insert(QString::number(rowid), a);
    return a;
}
