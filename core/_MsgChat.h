#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include "_MsgHandle.h"

struct _MsgMessage;

// One conversation, as a row of the chat table plus the program's columns.
// The handle and message pointers are not owned: they point into the same
// MsgDataSet that owns this record.
struct _MsgChat
{
    qint64 rowid = 0;
    QString guid;
    int style = 45; // 45 one-to-one, 43 group
    int state = 3;
    QString account_id;
    QByteArray properties;
    QString chat_identifier;
    QString service_name = QStringLiteral("SMS");
    QString room_name;
    QString account_login = QStringLiteral("E:");
    int is_archived = 0;
    QString last_addressed_handle;
    QString display_name;
    int _last = 0; // date of the newest message
    QString group_id;
    // Keyed by the decimal handle rowid (iOS 6 and local databases) or by the
    // handle's address (iOS 5 and recycled conversations).
    QHash<QString, _MsgHandle *> handles;
    // Keyed by the decimal _key of the message.
    QHash<QString, _MsgMessage *> messages;

    _MsgChat() = default;
    _MsgChat(const _MsgChat &) = delete;
    _MsgChat &operator=(const _MsgChat &) = delete;

    bool isGroup() const { return handles.size() > 1; }

    // The members in ascending rowid order (address, then key, where rowids
    // are equal), null entries left out. Hash iteration order changes from
    // run to run, so whatever is shown or picked from the members goes
    // through this list.
    QList<_MsgHandle *> handleList() const;

    // display_name when set, else the members' names joined with ", ",
    // else "Unknown".
    QString displayName(bool withNumbers) const;
};
