#include "BackupSMSThread.h"

#include "Errors.h"
#include "MessageOrder.h"
#include "ProgressForm.h"
#include "WorkerProgress.h"

namespace
{

// Whether no message of the list is ordered before one in front of it: with
// dates and keys both never falling, msgLessThan(later, earlier) is false for
// every pair, so a stable sort would leave the list as it is. Lists read in
// key order from a store that keeps its dates rising pass in one cheap pass.
bool alreadyOldestFirst(const QList<_MsgMessage *> &messages)
{
    for (qsizetype i = 1; i < messages.size(); ++i) {
        const _MsgMessage *before = messages.at(i - 1);
        const _MsgMessage *after = messages.at(i);
        if (after->date < before->date || after->_key < before->_key)
            return false;
    }
    return true;
}

} // namespace

BackupSMSThread::BackupSMSThread(const QList<_MsgMessage *> &messages, const QDir &folder, const QString &country,
                                 QObject *form, QObject *parent)
    : QThread(parent)
    , m_messages(messages)
    , m_form(form)
    , m_export(folder, country)
{
    if (!alreadyOldestFirst(m_messages))
        sortMessages(m_messages, Qt::AscendingOrder);
}

BackupSMSThread::~BackupSMSThread() = default;

void BackupSMSThread::run()
{
    ProgressForm::postUpdateProgress(m_form, tr("IDS_BACKING_UP_SMS"), 0, QString());
    const int total = int(m_messages.size());
    WorkerProgress progress(total);
    int n = 0;
    m_committed = false;
    try {
        m_export.begin();
        m_export.expectMessages(m_messages);
        for (const _MsgMessage *message : std::as_const(m_messages)) {
            if (ProgressForm::isCancelled(m_form))
                throw kWorkerCancelled;
            ++n;
            if (progress.due(n))
                ProgressForm::postUpdateProgress(m_form, tr("IDS_BACKING_UP_SMS"), WorkerProgress::percent(n, total),
                                                 tr("SMS: %1/%2").arg(n).arg(total));
            m_export.write(message);
        }
        m_export.end();
        m_committed = true;
    } catch (int) {
        // The user cancelled; the dialog has closed already.
        m_export.abort();
        return;
    } catch (const std::exception &e) {
        m_export.abort();
        ProgressForm::postErrorOccurred(m_form, QString::fromUtf8(e.what()));
        return;
    }
    ProgressForm::postSucceed(m_form, tr("IDS_SUC_BACKUP_%1_SMS").arg(n));
}
