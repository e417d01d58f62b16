#pragma once

#include <QtGlobal>

#include <utility>
#include <vector>

class IOS6MessageDb;

// The (message rowid, other rowid) pairs of a join query, sorted by message
// rowid, so that the joins of one message are found by a binary search: a
// hundred thousand messages cost a vector of pairs, not a hash of lists.
class MessageJoins
{
public:
    using Pairs = std::vector<std::pair<qint64, qint64>>;

    // Reads the pairs sql selects (message rowid, other rowid), in place of
    // any read before; those of one message keep the order sql gives them.
    void read(IOS6MessageDb &db, const char *sql);
    // The pairs of one message, as a range [first, second).
    std::pair<Pairs::const_iterator, Pairs::const_iterator> of(qint64 messageRowid) const;

private:
    Pairs m_pairs;
};
