#pragma once

#include <QDir>
#include <QHash>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include "AbsFormatExport.h"
#include "ChatRowCache.h"
#include "FingerprintsAhead.h"
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
    // The messages this run will be given, in order, called after begin:
    // their fingerprints are then taken ahead on several threads. Only a
    // matter of speed; the records must not change until the run ends.
    void expectMessages(const QList<_MsgMessage *> &messages);

    IOS6MessageDb &db() { return m_db; }

    // Where under the files folder an attachment of this device file name is
    // kept: IOS6MessageDb::attachmentRelativePath, the rule the readers find
    // the copy by. Empty when the name would lead outside the folder.
    static QString attachmentRelativePath(const QString &filename);

private:
    void copyAttachmentFile(const _MsgAttachment *attachment);

    void forgetRun();

    // The rowid of the message stored under this fingerprint (its 128 bits;
    // the lowest rowid of them), or under this guid; 0 for none. The same
    // answers as the database's look-ups, from what readStoredMessages read.
    qint64 storedByFingerprint(const QPair<quint64, quint64> &bits);
    // digest: guidDigest of the guid's UTF-8.
    qint64 storedByGuid(const QString &guid, size_t digest);
    void readStoredMessages();
    void keepFingerprint(const QPair<quint64, quint64> &bits, qint64 rowid);
    void rememberMessage(const QPair<quint64, quint64> &bits, size_t guidKey, qint64 rowid);

    IOS6MessageDb m_db;
    QStringList m_copiedFiles;
    ChatRowCache m_rows;
    QSet<QString> m_folders; // attachment folders made
    // The messages the database held when the run first looked one up, read
    // in one pass, and those the run has written since; a backup again of a
    // million messages then searches no index per message. A fingerprint is
    // kept whole, as the 128 bits its hex digits spell, so a find needs no
    // second look; a guid only as a digest, which rules it out or sends it to
    // the database.
    bool m_storedRead = false;
    QHash<QPair<quint64, quint64>, qint64> m_fingerprints;
    QSet<size_t> m_guidDigests;
    FingerprintsAhead m_ahead;
};
