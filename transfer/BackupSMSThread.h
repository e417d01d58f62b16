#pragma once

#include <QDir>
#include <QList>
#include <QString>
#include <QThread>

#include "ExportMessagesDb.h"

struct _MsgMessage;

// Backs chosen messages up into a local database under the progress dialog:
// oldest first, in one transaction, so that a cancel or an error leaves the
// database as it was. Reports only through the dialog's posting functions.
class BackupSMSThread : public QThread
{
    Q_OBJECT
public:
    // messages: records of the caller's message set, which must outlive the
    // run; folder: the local database's source folder, whose connection the
    // caller has closed; form: the progress dialog (or a stand-in with its
    // slots). Nothing starts before start().
    BackupSMSThread(const QList<_MsgMessage *> &messages, const QDir &folder, const QString &country, QObject *form,
                    QObject *parent = nullptr);
    ~BackupSMSThread() override;

    // Whether the messages reached the database. A cancel that comes after
    // the commit closes the dialog all the same: the caller looks here to
    // know what the database holds. Readable after the run.
    bool committed() const { return m_committed; }

protected:
    void run() override;

private:
    QList<_MsgMessage *> m_messages;
    QObject *m_form;
    ExportMessagesDb m_export;
    bool m_committed = false;
};
