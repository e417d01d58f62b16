#pragma once

#include <QElapsedTimer>
#include <QString>

// Progress of a worker that handles total items one by one. The percentage is
// the integer part of n / total * 100. Posting every item of a run of a
// hundred thousand would flood the dialog with events it cannot show, so an
// item is posted when the percentage changes, when the interval has passed
// since the last post, and always for the first and the last item.
class WorkerProgress
{
public:
    explicit WorkerProgress(int total, int intervalMs = 100);

    static int percent(int n, int total);
    // Whether item n (counting from 1) should be posted.
    bool due(int n);

private:
    int m_total;
    int m_intervalMs;
    int m_lastPercent = -1;
    QElapsedTimer m_clock;
};
