#include "Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "Clock.h"

namespace
{

struct LogState {
    QMutex mutex;
    QString folder;
    QFile file;
};

Q_GLOBAL_STATIC(LogState, logState)

// Set while this thread is inside the handler: anything the file functions
// themselves report must not come back into the log (or wait on its lock).
thread_local bool insideHandler = false;

QString lineFormat(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("(D %1) %2\n");
    case QtWarningMsg:
        return QStringLiteral("(W %1) %2\n");
    case QtCriticalMsg:
        return QStringLiteral("(C %1) %2\n");
    case QtFatalMsg:
        return QStringLiteral("(F %1) %2\n");
    default:
        return QStringLiteral("(%1) %2\n");
    }
}

void writeToStream(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// Opens today's file when none is open; false when it cannot be had now (the
// next message tries again).
bool ensureFileOpen(LogState &state, const QDateTime &now)
{
    if (state.file.isOpen())
        return true;
    if (state.folder.isEmpty())
        return false;
    const QDir dir(state.folder);
    if (!dir.exists() && !QDir().mkpath(state.folder))
        return false;
    state.file.setFileName(dir.filePath(QStringLiteral("log-%1.txt").arg(now.toString(QStringLiteral("yyyyMMdd")))));
    return state.file.open(QIODevice::ReadWrite | QIODevice::Append);
}

} // namespace

void initLog(const QString &folder, int keep)
{
    {
        QMutexLocker lock(&logState->mutex);
        logState->folder = folder;
        if (logState->file.isOpen())
            logState->file.close();

        // An empty folder would mean the working folder: not ours to clean.
        QStringList names;
        if (!folder.isEmpty())
            names = QDir(folder).entryList(QDir::Files);
        std::sort(names.begin(), names.end());
        const qsizetype excess = names.size() - std::max(keep, 0);
        for (qsizetype i = 0; i < excess; ++i)
            QFile::remove(QDir(folder).filePath(names.at(i)));
    }
    qInstallMessageHandler(logMessageHandler);
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Q_UNUSED(context);
    if (insideHandler || logState.isDestroyed()) {
        writeToStream(stderr, message);
        if (type == QtFatalMsg)
            std::abort();
        return;
    }
    insideHandler = true;
    {
        LogState &state = *logState;
        QMutexLocker lock(&state.mutex);
        const QDateTime now = Clock::currentDateTime();
        if (type == QtDebugMsg)
            writeToStream(stdout, message);
        if (ensureFileOpen(state, now)) {
            state.file.write(lineFormat(type).arg(now.toString(QStringLiteral("hh:mm:ss")), message).toUtf8());
            // A fatal line is flushed as well: it is the one that tells why the
            // program stopped.
            state.file.flush();
        }
    }
    insideHandler = false;
    if (type == QtFatalMsg)
        std::abort();
}
