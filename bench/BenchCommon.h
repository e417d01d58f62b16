#pragma once

// What the benchmark programs share: the words their generated messages are
// made of, and the process's processor time and peak memory.

#include <QRandomGenerator>
#include <QString>

#include <iterator>

#include <sys/resource.h>

namespace bench
{

inline constexpr const char *kWords[] = {"ok",    "see",   "you",  "later", "tonight", "thanks", "where", "are",
                                         "we",    "going", "call", "me",    "when",    "home",   "great", "idea",
                                         "sorry", "late",  "bus",  "train", "coffee",  "lunch",  "meet",  "now"};

// One to 25 of the words, by random.
inline QString sentence(QRandomGenerator &random)
{
    const int words = 1 + int(random.bounded(25));
    QString text;
    for (int i = 0; i < words; ++i) {
        if (i)
            text += QLatin1Char(' ');
        text += QLatin1String(kWords[random.bounded(int(std::size(kWords)))]);
    }
    return text;
}

// Processor time of the whole process (all threads), in seconds: on a shared
// machine wall time also counts the waits for other people's work.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Peak resident memory of the process so far, in MB.
inline double peakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0; // kilobytes on Linux
}

} // namespace bench
