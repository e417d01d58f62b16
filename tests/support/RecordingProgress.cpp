#include "RecordingProgress.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include "ThreadHandOff.h"

RecordingProgress::RecordingProgress(QObject *parent)
    : QObject(parent)
{
}

bool RecordingProgress::runWorker(QThread &worker, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    // The worker's end is seen by QThread::wait under Qt's own locks.
    const QMetaObject::Connection ended = connect(
        &worker, &QThread::finished, &worker, [&worker] { announceHandOff(&worker); }, Qt::DirectConnection);
    worker.start();
    bool inTime = true;
    while (!worker.wait(QDeadlineTimer(5))) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (inTime && timeoutMs >= 0 && clock.elapsed() > timeoutMs) {
            inTime = false;
            setCancelled(true);
        }
    }
    acceptHandOff(&worker);
    disconnect(ended);
    // Everything the worker posted is queued by now.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    return inTime;
}

QList<RecordingProgress::Post> RecordingProgress::updates() const
{
    QList<Post> list;
    for (const Post &p : m_posts) {
        if (p.slot == QLatin1String("updateProgress"))
            list.append(p);
    }
    return list;
}

QList<int> RecordingProgress::progressValues() const
{
    QList<int> list;
    for (const Post &p : updates())
        list.append(p.progress);
    return list;
}

QStringList RecordingProgress::statuses() const
{
    QStringList list;
    for (const Post &p : updates()) {
        if (!p.text.isEmpty())
            list.append(p.text);
    }
    return list;
}

void RecordingProgress::setCancelled(bool cancelled)
{
    m_cancelled.store(cancelled);
}

void RecordingProgress::cancelAfterChecks(int n)
{
    m_checks.store(0);
    m_cancelAfter.store(n);
}

void RecordingProgress::cancel()
{
    emit userCacel();
    end(0);
}

bool RecordingProgress::isCancelled() const
{
    const int reads = ++m_checks;
    const int after = m_cancelAfter.load();
    if (after >= 0 && reads > after)
        m_cancelled.store(true);
    return m_cancelled.load();
}

bool RecordingProgress::isWaiting() const
{
    return m_waiting.load();
}

void RecordingProgress::markWaiting()
{
    m_waiting.store(true);
}

void RecordingProgress::record(const Post &post)
{
    if (m_result >= 0)
        ++m_postsAfterEnd;
    m_posts.append(post);
}

void RecordingProgress::end(int result)
{
    // Like the dialog, only the first ending counts.
    if (m_result >= 0)
        return;
    m_result = result;
    if (result == 0)
        m_cancelled.store(true);
}

void RecordingProgress::updateProgress(const QString &status, int curProgress, const QString &progressText)
{
    acceptHandOff(this);
    record({QStringLiteral("updateProgress"), status, curProgress, progressText});
}

void RecordingProgress::recordEnding(const QString &slot, const QString &text, int result)
{
    record({slot, text, 0, QString()});
    ++m_endings;
    if (m_result < 0)
        (result == 1 ? m_successText : m_errorText) = text;
    end(result);
}

void RecordingProgress::errorOccurred(const QString &err)
{
    acceptHandOff(this);
    recordEnding(QStringLiteral("errorOccurred"), err, 0);
}

void RecordingProgress::succeed(const QString &tipsStr)
{
    acceptHandOff(this);
    recordEnding(QStringLiteral("succeed"), tipsStr, 1);
}

void RecordingProgress::tipsWait(const QString &info)
{
    acceptHandOff(this);
    record({QStringLiteral("tipsWait"), info, 0, QString()});
    m_waiting.store(false);
}
