#pragma once

#include <QByteArray>
#include <QString>

// One attachment row of a message database.
struct _MsgAttachment
{
    qint64 rowid = 0;
    QString guid;
    int created_date = 0;
    int start_date = 0;
    // The path the device recorded, often home-relative ("~/Library/...").
    QString filename;
    QString uti;
    QString mime_type;
    int transfer_state = 5;
    int is_outgoing = 0;
    QByteArray user_info;
    QString transfer_name;
    qint64 total_bytes = 0;
    // Where a copy of the attachment's file can be read on this computer.
    QString _local_path;

    _MsgAttachment() = default;
    _MsgAttachment(const _MsgAttachment &) = delete;
    _MsgAttachment &operator=(const _MsgAttachment &) = delete;
};
