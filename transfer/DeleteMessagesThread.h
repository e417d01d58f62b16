#pragma once

#include <QList>
#include <QThread>

class IOS6MessageDb;
struct _MsgMessage;

// Deletes messages from a local database under the progress dialog, in one
// transaction: a cancel or an error rolls every deletion of the run back.
class DeleteMessagesThread : public QThread
{
    Q_OBJECT
public:
    // db and messages stay the caller's and must not be touched by it until
    // the thread has finished; the records are not freed here.
    DeleteMessagesThread(IOS6MessageDb *db, const QList<_MsgMessage *> *messages, QObject *form,
                         QObject *parent = nullptr);
    ~DeleteMessagesThread() override;

    // After a successful run: how many of the messages had a row in the
    // database and were deleted (records read from the recycle database have
    // none). 0 otherwise.
    int deletedCount() const { return m_deleted; }
    // Whether the deletion reached the file. A cancel that comes after the
    // commit closes the dialog all the same: the caller looks here to know
    // what the file holds. Readable after the run.
    bool committed() const { return m_committed; }

protected:
    void run() override;

private:
    IOS6MessageDb *m_db;
    const QList<_MsgMessage *> *m_messages;
    QObject *m_form;
    int m_deleted = 0;
    bool m_committed = false;
};
