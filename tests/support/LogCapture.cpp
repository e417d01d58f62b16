#include "LogCapture.h"

#include <QtGlobal>

#include <mutex>

namespace
{

std::mutex g_mutex;
QStringList g_lines;
QtMessageHandler g_previous = nullptr;

void record(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg) {
        if (g_previous)
            g_previous(type, context, message);
        return;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines << message;
}

} // namespace

LogCapture::LogCapture()
{
    clear();
    g_previous = qInstallMessageHandler(record);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(g_previous);
}

QStringList LogCapture::lines() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_lines;
}

QStringList LogCapture::linesStartingWith(const QString &prefix) const
{
    QStringList matching;
    for (const QString &line : lines()) {
        if (line.startsWith(prefix))
            matching << line;
    }
    return matching;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.clear();
}
