#include "SmsChat.h"

#include <stdexcept>

_MsgChat *makeSmsChat(MsgDataSet &set, qint64 key, const QString &address)
{
    MsgDataSet::Data *d = set.data();
    if (!d)
        throw std::logic_error("makeSmsChat: null message set");
    if (d->chats.contains(key) || d->handles.contains(key))
        throw std::logic_error(QStringLiteral("makeSmsChat: key %1 is taken").arg(key).toStdString());

    auto *chat = new _MsgChat;
    chat->rowid = key;
    chat->guid = QStringLiteral("SMS;-;%1").arg(address);
    chat->style = 45;
    chat->state = 3;
    chat->_last = 0;
    chat->chat_identifier = address;
    chat->service_name = QStringLiteral("SMS");
    chat->account_login = QStringLiteral("E:");
    d->chats.insert(key, chat);

    auto *handle = new _MsgHandle;
    handle->rowid = key;
    handle->id = address;
    handle->service = QStringLiteral("SMS");
    d->handles.insert(key, handle);

    chat->handles.insert(address, handle);
    return chat;
}
