#pragma once

#include <QDir>
#include <QList>
#include <QString>
#include <QThread>

struct _MsgMessage;
class IOS6MessageDb;

// Merges chosen messages into the sms.db of a backup folder (a device backup
// about to be restored, or an iTunes backup): a copy of the backup's cached
// sms.db gets its message tables rebuilt so that the backup's own messages
// and the chosen ones stand in one date order with fresh rowids, keeping the
// backup's conversations, handles and attachments with their rowids. The copy
// then replaces the backup's sms.db and the backup's Manifest.mbdb is brought
// up to date.
//
// The backup folder changes only at the very end and all at once: a cancel
// or an error at any point before leaves every byte of it as it was, and so
// does a merge in which every chosen message is in the backup already.
// Reports only through the progress dialog's posting functions.
class IOS6RestoreMessagesThread : public QThread
{
    Q_OBJECT
public:
    // country: the mobile country code of the merged database; messages:
    // records of the caller's message set, which must outlive the run;
    // sourceDb: the backup's cached sms.db, opened without upgrade, which the
    // caller leaves alone while the worker runs (the worker closes its
    // connection); backupDir: the backup folder with Manifest.mbdb and the
    // stored files; form: the progress dialog (or a stand-in with its slots).
    IOS6RestoreMessagesThread(const QString &country, const QList<_MsgMessage *> &messages, IOS6MessageDb *sourceDb,
                              const QDir &backupDir, QObject *form, QObject *parent = nullptr);
    ~IOS6RestoreMessagesThread() override;

    // Chosen messages taken into the merge (written, or found in the backup
    // already); readable after the run.
    int mergedCount() const { return m_mergedCount; }
    // Chosen messages the backup did not have and now holds; when none, the
    // backup was left as it was. Readable after the run.
    int writtenCount() const { return m_writtenCount; }
    // Chosen messages left out for want of a usable conversation.
    int noChatCount() const { return m_noChatCount; }

protected:
    void run() override;

private:
    class Merge;

    QString m_country;
    QList<_MsgMessage *> m_messages;
    IOS6MessageDb *m_sourceDb;
    QDir m_backupDir;
    QObject *m_form;
    int m_noChatCount = 0;
    int m_mergedCount = 0;
    int m_writtenCount = 0;
};
