#include "_MsgChat.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <vector>

QList<_MsgHandle *> _MsgChat::handleList() const
{
    struct Entry
    {
        const QString *key;
        _MsgHandle *handle;
    };
    std::vector<Entry> entries;
    entries.reserve(size_t(handles.size()));
    for (auto it = handles.cbegin(); it != handles.cend(); ++it) {
        if (it.value())
            entries.push_back({&it.key(), it.value()});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if (a.handle->rowid != b.handle->rowid)
            return a.handle->rowid < b.handle->rowid;
        if (a.handle->id != b.handle->id)
            return a.handle->id < b.handle->id;
        return *a.key < *b.key;
    });
    QList<_MsgHandle *> list;
    list.reserve(qsizetype(entries.size()));
    for (const Entry &e : entries)
        list.append(e.handle);
    return list;
}

QString _MsgChat::displayName(bool withNumbers) const
{
    if (!display_name.isEmpty())
        return display_name;
    if (!handles.isEmpty()) {
        QStringList names;
        for (const _MsgHandle *h : handleList())
            names.append(h->displayName(withNumbers));
        return names.join(QStringLiteral(", "));
    }
    return QCoreApplication::translate("_MsgChat", "Unknown");
}
