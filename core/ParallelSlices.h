#pragma once

#include <QtGlobal>

#include <functional>

// Runs work(begin, end) over the items [0, count), cut into contiguous slices
// of at least minSlice items, one slice per thread (at most the processor
// count, and at most 8): the first slice on the calling thread, the others on
// threads of their own. Returns when every slice has ended. A slice whose
// thread cannot be started runs on the calling thread; the first exception,
// in slice order, is thrown again once all have ended. work must be safe to
// run on several threads at once for distinct slices.
void runSlices(qsizetype count, qsizetype minSlice, const std::function<void(qsizetype, qsizetype)> &work);
