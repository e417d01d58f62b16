#include "SmsChat.h"

#include <stdexcept>

namespace
{

// caller names the public function in the error, for the one who misused it.
_MsgChat *makeChat(MsgDataSet &set, qint64 key, const QString &identifier, const QString &service, const char *caller)
{
    MsgDataSet::Data *d = set.data();
    if (!d)
        throw std::logic_error(std::string(caller) + ": null message set");
    if (d->chats.contains(key) || d->handles.contains(key))
        throw std::logic_error(QStringLiteral("%1: key %2 is taken").arg(QLatin1String(caller)).arg(key).toStdString());

    auto *chat = new _MsgChat;
    chat->rowid = key;
    chat->guid = QStringLiteral("%1;-;%2").arg(service, identifier);
    chat->style = 45;
    chat->state = 3;
    chat->_last = 0;
    chat->chat_identifier = identifier;
    chat->service_name = service;
    d->chats.insert(key, chat);

    auto *handle = new _MsgHandle;
    handle->rowid = key;
    handle->id = identifier;
    handle->service = service;
    d->handles.insert(key, handle);

    chat->handles.insert(identifier, handle);
    return chat;
}

} // namespace

_MsgChat *makeSmsChat(MsgDataSet &set, qint64 key, const QString &address)
{
    _MsgChat *chat = makeChat(set, key, address, QStringLiteral("SMS"), "makeSmsChat");
    chat->account_login = QStringLiteral("E:");
    return chat;
}

_MsgChat *makeOneToOneChat(MsgDataSet &set, qint64 key, const QString &identifier, const QString &service)
{
    return makeChat(set, key, identifier, service, "makeOneToOneChat");
}
