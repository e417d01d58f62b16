#include "DeleteMessagesThread.h"

#include "Errors.h"
#include "IOS6MessageDb.h"
#include "ProgressForm.h"
#include "WorkerProgress.h"

DeleteMessagesThread::DeleteMessagesThread(IOS6MessageDb *db, const QList<_MsgMessage *> *messages, QObject *form,
                                           QObject *parent)
    : QThread(parent)
    , m_db(db)
    , m_messages(messages)
    , m_form(form)
{
}

DeleteMessagesThread::~DeleteMessagesThread() = default;

void DeleteMessagesThread::run()
{
    m_deleted = 0;
    m_committed = false;
    ProgressForm::postUpdateProgress(m_form, tr("IDS_DELETING_LOCAL_DB_MESSAGES"), 0, QString());
    const int total = m_messages ? int(m_messages->size()) : 0;
    WorkerProgress progress(total);
    int deleted = 0;
    auto rollback = [this] {
        m_db->deletesRolledBack();
        try {
            m_db->endTransaction(false);
        } catch (const std::exception &e) {
            // The connection still holds the open transaction; closing it
            // discards it, and the next use opens afresh.
            qWarning("DeleteMessagesThread rollback failed. %s", e.what());
            m_db->close();
        }
    };
    try {
        m_db->beginTransaction();
        m_db->beginDeletes();
        for (int n = 1; n <= total; ++n) {
            if (ProgressForm::isCancelled(m_form))
                throw kWorkerCancelled;
            if (progress.due(n))
                ProgressForm::postUpdateProgress(m_form, QString(), WorkerProgress::percent(n, total), QString());
            if (m_db->deleteMessage(m_messages->at(n - 1)))
                ++deleted;
        }
        m_db->endDeletes();
        m_db->endTransaction(true);
        m_committed = true;
    } catch (int) {
        rollback();
        return;
    } catch (const std::exception &e) {
        rollback();
        ProgressForm::postErrorOccurred(m_form, QString::fromUtf8(e.what()));
        return;
    }
    m_deleted = deleted;
    ProgressForm::postSucceed(m_form, tr("IDS_SUC_DELETE_%1_MESSAGES").arg(deleted));
}
