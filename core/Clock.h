#pragma once

#include <QDateTime>

// The program's one source of the current time. Tests put a clock of their
// own in place of the system's; the program always reads the system's.
class Clock
{
public:
    virtual ~Clock() = default;

    static QDateTime currentDateTimeUtc();
    // Local time.
    static QDateTime currentDateTime();
    static qint64 currentSecsSinceEpoch();

protected:
    Clock() = default;
    Clock(const Clock &) = delete;
    Clock &operator=(const Clock &) = delete;

    virtual QDateTime now() const;

    // Puts another clock in place of the system's; nullptr puts the system's
    // back. The caller keeps ownership. Safe to read from any thread.
    static void setInstance(const Clock *clock);
};
