#pragma once

#include <QString>
#include <QStringList>

// Records every debug message of the process, from any thread, for as long
// as it lives; the message handler that was installed before is put back
// afterwards. One at a time.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    // The recorded lines that begin with prefix.
    QStringList linesStartingWith(const QString &prefix) const;
    void clear();
};
