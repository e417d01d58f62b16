#pragma once

#include <QDir>
#include <QHash>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include <vector>

#include "AbsFormatExport.h"
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
    qint64 chatHandleId(qint64 chatId, const _MsgHandle *handle);
    void copyAttachmentFile(const _MsgAttachment *attachment);

    void forgetRun();
    void writeChatUpdates();

    // The rowid of the message stored under this fingerprint (the lowest of
    // them), or under this guid; 0 for none. The same answers as the
    // database's look-ups, from what readStoredMessages read.
    qint64 storedByFingerprint(quint64 high, quint64 low);
    // digest: guidDigest of the guid's UTF-8.
    qint64 storedByGuid(const QString &guid, size_t digest);
    void readStoredMessages();
    void rememberMessage(quint64 high, quint64 low, size_t guidKey, qint64 rowid);

    IOS6MessageDb m_db;
    QStringList m_copiedFiles;
    // Rows found or written during this run. Only this run writes the file
    // inside its transaction, so what it has seen stays true until the end;
    // a backup of a hundred thousand messages then looks each conversation
    // and handle up once instead of once per message.
    QHash<QString, qint64> m_chatIds;                   // chat guid
    QHash<const _MsgChat *, qint64> m_chatOfRecord;     // the same, by record
    QHash<QPair<QString, QString>, qint64> m_handleIds; // (id, service)
    QHash<const _MsgHandle *, qint64> m_handleOfRecord; // the same, by record
    QSet<QPair<qint64, qint64>> m_chatHandles;          // joined (chat, handle)
    // Messages come conversation by conversation, mostly from one sender
    // after another: the last chat and the last (chat, handle record) found
    // answer again without a look-up.
    const _MsgChat *m_lastChat = nullptr;
    qint64 m_lastChatId = 0;
    qint64 m_lastJoinChatId = 0;
    const _MsgHandle *m_lastJoinHandle = nullptr;
    qint64 m_lastJoinHandleId = 0;
    // Written once per conversation when the run ends: the newest date of
    // the messages added, and the sender of the last group message.
    QHash<qint64, int> m_chatLast;
    QHash<qint64, QString> m_lastAddressed;
    QSet<QString> m_folders;                            // attachment folders made
    // The messages the database held when the run first looked one up, read
    // in one pass, and those the run has written since; a backup again of a
    // million messages then searches no index per message. A fingerprint is
    // kept whole, as the 128 bits its hex digits spell, so a find needs no
    // second look; a guid only as a digest, which rules it out or sends it to
    // the database.
    bool m_storedRead = false;
    // Open addressing over one array: a look-up reads one place of memory
    // where a node-based table reads two or three, which counts at a million.
    struct FingerprintSlot
    {
        quint64 high = 0;
        quint64 low = 0;
        qint64 rowid = 0;
    };
    std::vector<FingerprintSlot> m_fingerprintSlots;
    // Which slots hold a fingerprint: any rowid, 0 among them, may be stored.
    std::vector<bool> m_fingerprintUsed;
    qsizetype m_fingerprintCount = 0;
    // The slot of the fingerprint, or the free one where it would go; its
    // search starts at the home slot.
    size_t fingerprintSlot(quint64 high, quint64 low) const;
    size_t fingerprintHome(quint64 high, quint64 low) const;
    // Asks the processor for the home slot's memory, so that a look-up soon
    // after finds it at hand.
    void prefetchFingerprint(quint64 high, quint64 low) const;
    void prefetchComing() const;
    void prefetchGuidDigest(size_t digest) const;
    // Keeps the lower rowid where the fingerprint has one already.
    void keepFingerprint(quint64 high, quint64 low, qint64 rowid);
    // Room for count fingerprints (guid digests) without growing on the way.
    void reserveFingerprints(qsizetype count);
    void reserveGuidDigests(qsizetype count);
    // The guids' digests the same way; 0 marks a free slot, and a digest of
    // 0 is kept as 1, which a filter may.
    std::vector<size_t> m_guidSlots;
    FingerprintsAhead m_ahead;
    qsizetype m_guidCount = 0;
    bool hasGuidDigest(size_t digest) const;
    void keepGuidDigest(size_t digest);
};
