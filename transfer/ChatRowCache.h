#pragma once

#include <QHash>
#include <QPair>
#include <QSet>
#include <QString>

#include "_MsgMessage.h"

class IOS6MessageDb;

// The rows of conversations and handles that one run writes messages under,
// found or added once each, and what the run writes per conversation at its
// end. Only the run writes the file, inside its transaction, so what it has
// seen stays true until the end: a hundred thousand messages look each
// conversation and handle up once instead of once per message.
class ChatRowCache
{
public:
    explicit ChatRowCache(IOS6MessageDb &db);

    // Forgets everything, for the next run.
    void clear();

    // The conversation's rowid, added when missing.
    qint64 chatId(const _MsgChat *chat);
    // The handle's rowid, added when missing, and joined to the chat; 0 for
    // no handle.
    qint64 chatHandleId(qint64 chatId, const _MsgHandle *handle);

    // A message was added to the chat: the chat's last date only ever rises.
    void messageAdded(qint64 chatId, int date);
    // The sender of a group message: the last one given stays.
    void addressed(qint64 chatId, const QString &handleId);
    // Writes the chats' last dates and last addressed handles, in chat id
    // order, so that the file comes out the same on every run. Nothing reads
    // them before the commit, so they are written once each instead of per
    // message.
    void writeChatUpdates();

private:
    IOS6MessageDb &m_db;
    QHash<QString, qint64> m_chatIds;                   // chat guid
    QHash<const _MsgChat *, qint64> m_chatOfRecord;     // the same, by record
    QHash<QPair<QString, QString>, qint64> m_handleIds; // (id, service)
    QHash<const _MsgHandle *, qint64> m_handleOfRecord; // the same, by record
    QSet<QPair<qint64, qint64>> m_chatHandles;          // joined (chat, handle)
    QHash<qint64, int> m_chatLast;
    QHash<qint64, QString> m_lastAddressed;
};
