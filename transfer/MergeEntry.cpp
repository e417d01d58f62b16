#include "MergeEntry.h"

namespace
{

// |a - b| > limit without the overflow that the difference of two distant
// 64-bit values would be.
bool fartherThan(qint64 a, qint64 b, quint64 limit)
{
    const quint64 distance = a > b ? quint64(a) - quint64(b) : quint64(b) - quint64(a);
    return distance > limit;
}

} // namespace

bool mergeEntryLess(const MergeEntry &a, const MergeEntry &b)
{
    if (fartherThan(a.key, b.key, 20) || fartherThan(a.date, b.date, 120)) {
        if (a.date != b.date)
            return a.date < b.date;
        return a.isExisting && !b.isExisting;
    }
    if (a.key != b.key)
        return a.key < b.key;
    return a.isExisting && !b.isExisting;
}
