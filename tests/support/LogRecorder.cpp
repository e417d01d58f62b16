#include "LogRecorder.h"

#include <QMutex>
#include <QMutexLocker>

namespace
{

QMutex g_mutex;
QtMsgType g_type = QtDebugMsg;
QStringList g_lines;

void record(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    QMutexLocker lock(&g_mutex);
    if (type == g_type)
        g_lines.append(text);
}

} // namespace

LogRecorder::LogRecorder(QtMsgType type)
{
    {
        QMutexLocker lock(&g_mutex);
        g_type = type;
        g_lines.clear();
    }
    m_previous = qInstallMessageHandler(&record);
}

LogRecorder::~LogRecorder()
{
    qInstallMessageHandler(m_previous);
}

int LogRecorder::count(const QString &text) const
{
    QMutexLocker lock(&g_mutex);
    return static_cast<int>(g_lines.count(text));
}

QStringList LogRecorder::lines() const
{
    QMutexLocker lock(&g_mutex);
    return g_lines;
}

int RebuildCounter::count() const
{
    return m_log.count(QStringLiteral("rebuild IOSContactsMemDb."));
}
