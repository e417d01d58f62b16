#pragma once

#include <QDir>
#include <QHash>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include "AbsFormatExport.h"
#include "IOS6MessageDb.h"
#include "_MsgMessage.h"

// Writes messages into a local database, one at a time, with whatever of
// their conversation, handles and attachments the database lacks, and never
// a message it already holds (same fingerprint, or same guid). A message held
// under the same fingerprint has its named attachments already, whatever
// guids another source gave them. Attachment files are copied into the
// database's "file-relay" folder.
//
// begin opens (creating when needed) the database and starts one
// transaction; write is called only between begin and end; end writes the
// conversations' last dates and last addressed handles, commits and closes;
// abort rolls back, closes and removes the attachment files this run copied,
// so that a cancelled or failed run leaves the folder as it was.
class ExportMessagesDb : public AbsFormatExport<_MsgMessage>
{
public:
    // folder: the local database's source folder; country: the mobile
    // country code for its number normalisation. Opens nothing.
    ExportMessagesDb(const QDir &folder, const QString &country);
    ~ExportMessagesDb() override;

    void begin() override;
    // Throws std::runtime_error from the database (an invalid chat service
    // among them); the caller aborts the run then.
    void write(const _MsgMessage *message) override;
    void end() override;
    // Never throws.
    void abort();

    IOS6MessageDb &db() { return m_db; }

    // Where under the files folder an attachment of this device file name is
    // kept: IOS6MessageDb::attachmentRelativePath, the rule the readers find
    // the copy by. Empty when the name would lead outside the folder.
    static QString attachmentRelativePath(const QString &filename);

private:
    qint64 chatHandleId(qint64 chatId, const _MsgHandle *handle);
    void copyAttachmentFile(const _MsgAttachment *attachment);

    void forgetRun();
    void writeChatUpdates();

    IOS6MessageDb m_db;
    QStringList m_copiedFiles;
    // Rows found or written during this run. Only this run writes the file
    // inside its transaction, so what it has seen stays true until the end;
    // a backup of a hundred thousand messages then looks each conversation
    // and handle up once instead of once per message.
    QHash<QString, qint64> m_chatIds;                   // chat guid
    QHash<QPair<QString, QString>, qint64> m_handleIds; // (id, service)
    QHash<const _MsgHandle *, qint64> m_handleOfRecord; // the same, by record
    QSet<QPair<qint64, qint64>> m_chatHandles;          // joined (chat, handle)
    // Written once per conversation when the run ends: the newest date of
    // the messages added, and the sender of the last group message.
    QHash<qint64, int> m_chatLast;
    QHash<qint64, QString> m_lastAddressed;
    QSet<QString> m_folders;                            // attachment folders made
};
