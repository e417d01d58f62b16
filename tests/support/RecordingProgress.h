#pragma once

#include <atomic>

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QThread;

// Stands in for the progress dialog when a worker is tested: it has the
// dialog's slots, flag readers and userCacel() signal, so the worker posts to
// it through ProgressForm's static functions exactly as it would to the real
// dialog, and no widget is involved. Posts from the worker thread are queued
// into this object's thread (the test's); runWorker() delivers them.
class RecordingProgress : public QObject
{
    Q_OBJECT
public:
    struct Post
    {
        QString slot; // "updateProgress", "errorOccurred", "succeed" or "tipsWait"
        QString text; // status, error, success or note text
        int progress = 0; // updateProgress only
        QString progressText; // updateProgress only
    };

    explicit RecordingProgress(QObject *parent = nullptr);

    // Starts the worker, delivers its posts while it runs and those still
    // queued when it ends. With a timeoutMs of 0 or more, a worker that runs
    // longer is asked to cancel, waited for, and false is returned; by
    // default it is given whatever time it takes (a worker that hangs is the
    // test runner's time-out), as a busy machine may make any run slow.
    bool runWorker(QThread &worker, int timeoutMs = -1);

    // Everything that arrived, in order.
    const QList<Post> &posts() const { return m_posts; }
    QList<Post> updates() const;
    QList<int> progressValues() const;
    // The status lines that replaced the previous one (empty ones keep it).
    QStringList statuses() const;
    // succeed and errorOccurred posts that arrived (a sound worker posts one,
    // or none after a cancel).
    int endings() const { return m_endings; }
    // As the dialog's modal result: -1 while nothing ended it, 1 after a
    // success, 0 after an error or cancel() (the first ending counts).
    int result() const { return m_result; }
    QString successText() const { return m_successText; }
    QString errorText() const { return m_errorText; }
    // Posts of any kind that arrived after the first ending.
    int postsAfterEnd() const { return m_postsAfterEnd; }

    // Sets or clears the cancelled flag, as the dialog would.
    void setCancelled(bool cancelled);
    // The first n reads of the flag say "not cancelled", every later one
    // says "cancelled": a user's cancel at an exact point of the work.
    void cancelAfterChecks(int n);
    // How often the worker has read the flag.
    int cancelChecks() const { return m_checks.load(); }
    // As the Cancel button: emits userCacel(), then ends with 0.
    void cancel();

    Q_INVOKABLE bool isCancelled() const;
    Q_INVOKABLE bool isWaiting() const;

signals:
    void userCacel();

private slots:
    void updateProgress(const QString &status, int curProgress, const QString &progressText);
    void errorOccurred(const QString &err);
    void succeed(const QString &tipsStr);
    // The note counts as read at once.
    void tipsWait(const QString &info);

private:
    Q_INVOKABLE void markWaiting();
    void record(const Post &post);
    void recordEnding(const QString &slot, const QString &text, int result);
    void end(int result);

    QList<Post> m_posts;
    int m_endings = 0;
    int m_result = -1;
    int m_postsAfterEnd = 0;
    QString m_successText;
    QString m_errorText;
    mutable std::atomic<bool> m_cancelled{false};
    mutable std::atomic<int> m_checks{0};
    std::atomic<int> m_cancelAfter{-1};
    std::atomic<bool> m_waiting{false};
};
