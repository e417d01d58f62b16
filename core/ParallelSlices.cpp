#include "ParallelSlices.h"

#include <QThread>

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

namespace
{
constexpr int kMaxThreads = 8;
}

void runSlices(qsizetype count, qsizetype minSlice, const std::function<void(qsizetype, qsizetype)> &work)
{
    if (count <= 0)
        return;
    const qsizetype bySize = std::max<qsizetype>(1, count / std::max<qsizetype>(1, minSlice));
    const int slices = int(std::min<qsizetype>(bySize, std::clamp(QThread::idealThreadCount(), 1, kMaxThreads)));
    if (slices <= 1) {
        work(0, count);
        return;
    }
    const qsizetype step = (count + slices - 1) / slices;
    std::vector<std::exception_ptr> errors(static_cast<size_t>(slices));
    auto runSlice = [&work, &errors, step, count](int s) {
        const qsizetype begin = std::min(count, qsizetype(s) * step);
        const qsizetype end = std::min(count, begin + step);
        try {
            if (begin < end)
                work(begin, end);
        } catch (...) {
            errors[size_t(s)] = std::current_exception();
        }
    };
    // Joined however this function is left.
    struct Threads
    {
        std::vector<std::thread> running;
        ~Threads()
        {
            for (std::thread &t : running)
                t.join();
        }
    } threads;
    std::vector<int> notStarted;
    for (int s = 1; s < slices; ++s) {
        try {
            threads.running.emplace_back(runSlice, s);
        } catch (...) {
            notStarted.push_back(s);
        }
    }
    runSlice(0);
    for (int s : notStarted)
        runSlice(s);
    for (std::thread &t : threads.running)
        t.join();
    threads.running.clear();
    for (const std::exception_ptr &error : errors) {
        if (error)
            std::rethrow_exception(error);
    }
}
