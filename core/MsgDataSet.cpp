#include "MsgDataSet.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace
{

template<typename T>
QList<T *> valuesByKey(const QHash<qint64, T *> &hash)
{
    std::vector<std::pair<qint64, T *>> entries;
    entries.reserve(size_t(hash.size()));
    for (auto it = hash.cbegin(); it != hash.cend(); ++it) {
        if (it.value())
            entries.emplace_back(it.key(), it.value());
    }
    // Keys of a hash are unique, so this is a strict order.
    std::sort(entries.begin(), entries.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<T *> list;
    list.reserve(qsizetype(entries.size()));
    for (const auto &e : entries)
        list.append(e.second);
    return list;
}

// Deletes every record of a hash once, also when a faulty caller put the
// same record under two keys.
template<typename T>
void deleteAll(QHash<qint64, T *> &hash)
{
    std::vector<T *> records;
    records.reserve(size_t(hash.size()));
    for (T *r : std::as_const(hash)) {
        if (r)
            records.push_back(r);
    }
    hash.clear();
    std::sort(records.begin(), records.end());
    records.erase(std::unique(records.begin(), records.end()), records.end());
    for (T *r : records)
        delete r;
}

} // namespace

MsgDataSet::Data::~Data()
{
    // Records hold only non-owning pointers to each other and their
    // destructors never follow them, so any order is safe; this one frees the
    // leaves first.
    deleteAll(attachments);
    deleteAll(messages);
    deleteAll(handles);
    deleteAll(chats);
}

MsgDataSet MsgDataSet::create()
{
    MsgDataSet set;
    set.d = QSharedPointer<Data>::create();
    return set;
}

QList<_MsgChat *> MsgDataSet::chatList() const
{
    return d ? valuesByKey(d->chats) : QList<_MsgChat *>();
}

QList<_MsgMessage *> MsgDataSet::messageList() const
{
    return d ? valuesByKey(d->messages) : QList<_MsgMessage *>();
}
