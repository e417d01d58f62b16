#include "IOS6MessageDb.h"

#include "CursorAhead.h"
#include "IOS6MessageColumns.h"
#include "ParallelSlices.h"

#include <QDebug>

#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "CountryCache.h"
#include "TextPool.h"

namespace
{

// The cache while messages are read, in KiB: the read walks the message
// table and the join index in the file's order and asks for few pages twice,
// so a small cache costs no time, and the memory goes to the records.
constexpr int kReadCacheKiB = 4096;

// The cursor kind of a column: the texts the records share by way of the
// text pool as UTF-8, the other texts and the body as made on the stepping
// thread, the rest as numbers.
CursorAhead::Kind cursorKind(IOS6MessageColumn::Read read)
{
    using R = IOS6MessageColumn::Read;
    switch (read) {
    case R::Text:
        return CursorAhead::Kind::Text;
    case R::Shared:
        return CursorAhead::Kind::Utf8;
    case R::Blob:
        return CursorAhead::Kind::Blob;
    default:
        return CursorAhead::Kind::Int64;
    }
}

using IOS6MessageColumn::secondsSince2001;

// Fills m from column I of the cursor's current row, the first column at
// field first, as the column table says. Resolved when compiled: a loop over
// the table that decides for each column of each row costs the read of a
// million messages a tenth of its time.
template <int I>
void readColumn(CursorAhead &c, int first, TextPool &texts, _MsgMessage &m)
{
    using R = IOS6MessageColumn::Read;
    constexpr IOS6MessageColumn::ColumnDefinition column = IOS6MessageColumn::kColumns[I];
    const int f = first + I;
    if constexpr (column.read == R::Text)
        m.*column.field.text = c.takeText(f);
    else if constexpr (column.read == R::Shared)
        m.*column.field.text = texts.text(c.utf8(f));
    else if constexpr (column.read == R::Blob)
        m.*column.field.blob = c.takeBlob(f);
    else if constexpr (column.read == R::Int)
        m.*column.field.number = int(c.int64(f));
    else if constexpr (column.read == R::Int64)
        m.*column.field.id = c.int64(f);
    else if constexpr (column.read == R::Date)
        m.*column.field.number = secondsSince2001(c.int64(f));
}

template <int... I>
void readColumns(CursorAhead &c, int first, TextPool &texts, _MsgMessage &m, std::integer_sequence<int, I...>)
{
    (readColumn<I>(c, first, texts, m), ...);
}

void readColumns(CursorAhead &c, int first, TextPool &texts, _MsgMessage &m)
{
    readColumns(c, first, texts, m, std::make_integer_sequence<int, IOS6MessageColumn::Count>());
}

// From this many rows on, the conversations' hashes are filled on several
// threads.
constexpr qint64 kThreadedChatRows = 20000;

// The messages read for each conversation, (rowid, record) in the order of
// the rows, until they go into its message hash.
using ChatRows = QHash<_MsgChat *, std::vector<std::pair<qint64, _MsgMessage *>>>;

// The join rows per conversation of chatId (all for <= 0): at most one
// message each, so lists and hashes made this large never grow during the
// read. Location-sharing rows are counted as well, which only leaves a little
// room unused.
ChatRows reserveMessages(Sqlite3DB &db, MsgDataSet::Data *d, qint64 chatId, qint64 &rows)
{
    Sqlite3Sql sql(chatId > 0 ? "select chat_id, count(*) from chat_message_join where chat_id=? group by chat_id"
                              : "select chat_id, count(*) from chat_message_join group by chat_id");
    if (chatId > 0)
        sql.addInt64Param(chatId);
    ChatRows pending;
    rows = 0;
    Sqlite3Cursor c = db.queryThrow(sql);
    while (c.moveNext()) {
        const qint64 count = c.getInt64(1);
        if (count <= 0)
            continue;
        rows += count;
        if (_MsgChat *chat = d->chats.value(c.getInt64(0)))
            pending[chat].reserve(size_t(count));
    }
    d->messages.reserve(d->messages.size() + rows);
    return pending;
}

// The records one read makes, found again by rowid while the rows come (a
// message in two conversations comes twice) and put into the set's message
// hash afterwards, all in one go in the order they were made, so that the
// hash ends as it would with each insert on the way. When the rowids of the
// table lie close together they are looked up in a plain array indexed by
// rowid: probing a hash of a million entries for every row, between SQLite's
// own work, misses the caches nearly every time. Rowids outside the array,
// and all of them when it would be sparse, go through a hash as before.
class NewMessages
{
public:
    NewMessages(MsgDataSet::Data *d, qint64 firstId, qint64 lastId, qint64 rows)
        : m_d(d)
        , m_findOld(!d->messages.isEmpty())
    {
        // Rowids may be anything in a file: their distance is taken unsigned.
        if (rows <= 0 || firstId > lastId || quint64(lastId) - quint64(firstId) >= quint64(rows) * 2 + 1024)
            return;
        m_first = firstId;
        m_index.assign(size_t(quint64(lastId) - quint64(firstId) + 1), nullptr);
        m_made.reserve(size_t(rows));
        m_dense = true;
    }
    NewMessages(const NewMessages &) = delete;
    NewMessages &operator=(const NewMessages &) = delete;

    _MsgMessage *find(qint64 id) const
    {
        if (!m_dense)
            return m_d->messages.value(id);
        _MsgMessage *m = nullptr;
        if (const quint64 at = quint64(id) - quint64(m_first); at < quint64(m_index.size()))
            m = m_index[size_t(at)];
        else
            m = m_outside.value(id);
        if (!m && m_findOld)
            m = m_d->messages.value(id);
        return m;
    }
    // Takes the new record over, also when keeping it fails.
    void add(qint64 id, std::unique_ptr<_MsgMessage> m)
    {
        if (!m_dense) {
            m_d->messages.insert(id, m.get());
            m.release();
            return;
        }
        m_made.push_back(m.get());
        _MsgMessage *kept = m.release();
        if (const quint64 at = quint64(id) - quint64(m_first); at < quint64(m_index.size()))
            m_index[size_t(at)] = kept;
        else
            m_outside.insert(id, kept);
    }
    // Puts what was made since the last call into the set.
    void flush()
    {
        for (_MsgMessage *m : m_made)
            m_d->messages.insert(m->_key, m);
        m_made.clear();
    }

private:
    MsgDataSet::Data *m_d;
    bool m_findOld;
    bool m_dense = false;
    qint64 m_first = 0;
    std::vector<_MsgMessage *> m_index;
    QHash<qint64, _MsgMessage *> m_outside;
    std::vector<_MsgMessage *> m_made;
};

// Puts each conversation's rows into its message hash. alongside, when
// given, runs on the calling thread meanwhile (or before, when the rows are
// few); it must not touch the conversations' message hashes.
void insertChatRows(ChatRows &pending, const std::function<void()> &alongside = {})
{
    using Rows = std::vector<std::pair<qint64, _MsgMessage *>>;
    auto fill = [](_MsgChat *chat, Rows &rows) {
        QHash<QString, _MsgMessage *> &messages = chat->messages;
        messages.reserve(messages.size() + qsizetype(rows.size()));
        for (const auto &[id, m] : rows)
            messages.insert(QString::number(id), m);
        Rows().swap(rows);
    };
    qint64 total = 0;
    for (const Rows &rows : std::as_const(pending))
        total += qint64(rows.size());
    if (total < kThreadedChatRows || pending.size() < 2) {
        // The hashes are filled whatever alongside does, as they are when
        // it runs beside them on threads: one outcome for every size.
        std::exception_ptr failure;
        try {
            if (alongside)
                alongside();
        } catch (...) {
            failure = std::current_exception();
        }
        for (auto it = pending.begin(); it != pending.end(); ++it)
            fill(it.key(), it.value());
        pending.clear();
        if (failure)
            std::rethrow_exception(failure);
        return;
    }
    // Each conversation's hash is its own, and gets the same inserts in the
    // same order whichever thread fills it: the conversations are shared out
    // over a few threads, largest first to the least loaded, so that one long
    // conversation does not keep the others waiting. Against the same work in
    // one loop on this thread, reading 100,000 to 1,000,000 messages takes
    // about a tenth less on a lightly loaded machine; on a busy one, about as
    // long.
    std::vector<std::pair<_MsgChat *, Rows *>> chats;
    chats.reserve(size_t(pending.size()));
    for (auto it = pending.begin(); it != pending.end(); ++it)
        chats.emplace_back(it.key(), &it.value());
    std::sort(chats.begin(), chats.end(), [](const auto &a, const auto &b) {
        return a.second->size() != b.second->size() ? a.second->size() > b.second->size() : a.first < b.first;
    });
    // The calling thread's part (the first) is alongside's.
    constexpr int kShares = 7;
    std::vector<std::vector<size_t>> shares(kShares);
    std::vector<qint64> load(kShares, 0);
    for (size_t i = 0; i < chats.size(); ++i) {
        const auto least = std::min_element(load.begin(), load.end()) - load.begin();
        shares[size_t(least)].push_back(i);
        load[size_t(least)] += qint64(chats[i].second->size()) + 1;
    }
    runSlices(kShares + 1, 1, [&](qsizetype begin, qsizetype end) {
        for (qsizetype task = begin; task < end; ++task) {
            if (task == 0) {
                if (alongside)
                    alongside();
                continue;
            }
            for (size_t i : shares[size_t(task - 1)])
                fill(chats[i].first, *chats[i].second);
        }
    });
    pending.clear();
}

MsgDataSet::Data *setData(MsgDataSet &set)
{
    if (set.isNull())
        throw std::runtime_error("IOS6MessageDb: no message set to read into.");
    return set.data();
}

} // namespace

void IOS6MessageDb::chats(MsgDataSet &set)
{
    readChats(set, true);
}

void IOS6MessageDb::readChats(MsgDataSet &set, bool lastDates)
{
    ensureOpen();
    MsgDataSet::Data *d = setData(set);
    // Without the device's address book the connection stays closed, and
    // names and pictures stored with the handles (local databases) stand.
    try {
        m_contacts.ensureOpen();
    } catch (const std::exception &) {
    }

    {
        Sqlite3Cursor c = queryThrow(Sqlite3Sql("select * from chat"));
        while (c.moveNext()) {
            const qint64 id = c.getInt64(QStringLiteral("rowid"));
            if (d->chats.contains(id))
                continue;
            auto *chat = new _MsgChat;
            d->chats.insert(id, chat);
            chat->rowid = id;
            chat->guid = c.getText(QStringLiteral("guid"));
            chat->style = c.getInt(QStringLiteral("style"));
            chat->state = c.getInt(QStringLiteral("state"));
            chat->account_id = c.getText(QStringLiteral("account_id"));
            chat->properties = c.getBlob(QStringLiteral("properties"));
            chat->chat_identifier = c.getText(QStringLiteral("chat_identifier"));
            chat->service_name = c.getText(QStringLiteral("service_name"));
            chat->room_name = c.getText(QStringLiteral("room_name"));
            chat->account_login = c.getText(QStringLiteral("account_login"));
            chat->is_archived = c.getInt(QStringLiteral("is_archived"));
            chat->last_addressed_handle = c.getText(QStringLiteral("last_addressed_handle"));
            chat->display_name = c.getText(QStringLiteral("display_name"));
            chat->_last = secondsSince2001(c.getInt64(QStringLiteral("_last")));
            chat->group_id = c.getText(QStringLiteral("group_id"));
        }
    }

    // A device's file keeps no last date: take the newest message's.
    if (!m_cols.chatLast && lastDates) {
        Sqlite3Cursor c = queryThrow(
            Sqlite3Sql("select chat_id, max(date) as last from ( select cm.chat_id, m.date from chat_message_join as cm "
                       "inner join message as m on cm.message_id=m.rowid ) as tmp group by chat_id"));
        while (c.moveNext()) {
            if (_MsgChat *chat = d->chats.value(c.getInt64(QStringLiteral("chat_id"))))
                chat->_last = secondsSince2001(c.getInt64(QStringLiteral("last")));
        }
    }

    // Countries by two-letter code, looked up once per load.
    CountryCache countries(m_countries);
    TextPool texts;
    Sqlite3Cursor c = queryThrow(
        Sqlite3Sql("select j.chat_id, h.* from chat_handle_join as j inner join handle as h on j.handle_id = h.rowid"));
    while (c.moveNext()) {
        const qint64 id = c.getInt64(QStringLiteral("rowid"));
        _MsgHandle *h = d->handles.value(id);
        if (!h) {
            h = new _MsgHandle;
            d->handles.insert(id, h);
            h->rowid = id;
            h->id = c.getText(QStringLiteral("id"));
            h->country = texts.text(c.getUtf8(c.columnIndex(QStringLiteral("country"))));
            h->service = texts.text(c.getUtf8(c.columnIndex(QStringLiteral("service"))));
            h->uncanonicalized_id = c.getText(QStringLiteral("uncanonicalized_id"));
            h->_ct_name = c.getText(QStringLiteral("_ct_name"));
            h->_photo = c.getBlob(QStringLiteral("_photo"));
            // An empty country is the current one's.
            h->id = countries.normalized(h->country, h->id);
            if (h->country.isEmpty())
                h->country = m_countries.currentCountry().sn.toLower();
            if (m_contacts.isOpen()) {
                try {
                    const IOSContactsMemDb::_Person person = m_contacts.findPerson(h->id);
                    const QString name = IOSContactsMemDb::personName(person);
                    h->_ct_name = name;
                    h->_photo = person.photo;
                } catch (const std::exception &e) {
                    qWarning("IOS6MessageDb::chats, IOSContactsMemDb error. %s", e.what());
                }
            }
        }
        if (_MsgChat *chat = d->chats.value(c.getInt64(QStringLiteral("chat_id"))))
            chat->handles.insert(QString::number(id), h);
    }
}

void IOS6MessageDb::messages(MsgDataSet &set, qint64 chatId)
{
    ensureOpen();
    // A file without _last gets each conversation's newest date from a
    // query over every joined message. When all of them are read here anyway
    // and none is left out (no item_type, so no location sharing), the dates
    // are taken from the rows on the way, which saves a second pass over the
    // largest table.
    const bool lastFromRows = !m_cols.chatLast && !m_cols.msgItemType && chatId <= 0;
    readChats(set, !lastFromRows);
    MsgDataSet::Data *d = setData(set);
    QHash<qint64, int> newest;

    // One text per kind of query, so that each is prepared once.
    Sqlite3Sql sql("select j.chat_id, m.* from chat_message_join as j inner join message as m on j.message_id = m.rowid");
    if (m_cols.msgItemType)
        sql.appendSql(QStringLiteral(" and m.item_type <> 4"));
    if (chatId > 0)
        sql.appendSql(QStringLiteral(" and j.chat_id=?")).addInt64Param(chatId);

    // Every column is read by its place in the result, found once from the
    // first row's names: 50 look-ups by name per row add up over a million
    // messages. A column the file lacks has no place and reads as 0 or
    // empty, as it would by name. The rows are stepped on a thread of their
    // own, a few batches ahead of the records made from them here.
    namespace C = IOS6MessageColumn;
    using Kind = CursorAhead::Kind;
    auto fields = [](const Sqlite3Cursor &first) {
        QHash<QString, int> places;
        const QStringList columns = first.getRow().columns();
        // The first of equal names wins, as a look-up by name would.
        for (int i = int(columns.size()) - 1; i >= 0; --i)
            places.insert(columns.at(i).toLower(), i);
        std::vector<CursorAhead::Field> f;
        f.push_back({places.value(QStringLiteral("rowid"), -1), Kind::Int64});
        f.push_back({places.value(QStringLiteral("chat_id"), -1), Kind::Int64});
        for (int i = 0; i < C::Count; ++i) {
            const C::ColumnDefinition &column = C::kColumns[i];
            const int place =
                column.read == C::Read::None ? -1 : places.value(QString::fromLatin1(column.name).toLower(), -1);
            f.push_back({place, cursorKind(column.read)});
        }
        return f;
    };
    constexpr int kRowIdField = 0;
    constexpr int kChatIdField = 1;
    constexpr int kFirstColumnField = 2;

    // Service names, accounts and country codes repeat from message to
    // message; the records share one copy of each.
    TextPool texts;
    // Rows come in the file's order, which is seldom that of the
    // conversations: each conversation's messages are gathered first and
    // put into its hash afterwards, conversation by conversation, made as
    // large as it will get (no hash grows and rehashes as it fills, and the
    // inserts stay within one hash at a time).
    qint64 rows = 0;
    ChatRows pending = reserveMessages(*this, d, chatId, rows);
    // The ends of the rowids, each from one step down the table's tree.
    qint64 firstId = 0;
    qint64 lastId = -1;
    {
        Sqlite3Cursor first = queryThrow(Sqlite3Sql("select rowid from message order by rowid limit 1"));
        Sqlite3Cursor last = queryThrow(Sqlite3Sql("select rowid from message order by rowid desc limit 1"));
        if (first.moveNext() && last.moveNext()) {
            firstId = first.getInt64(0);
            lastId = last.getInt64(0);
        }
    }
    NewMessages made(d, firstId, lastId, rows);

    // A failure half way leaves what was read linked, as it was read.
    try {
        // Until the rows end, the connection is the stepping thread's.
        CursorAhead c(*this, sql, fields, kReadCacheKiB);
        while (c.next()) {
            auto date = [&c](C::Column column) { return secondsSince2001(c.int64(kFirstColumnField + column)); };
            const qint64 id = c.int64(kRowIdField);
            _MsgMessage *m = made.find(id);
            if (!m) {
                auto owned = std::make_unique<_MsgMessage>();
                m = owned.get();
                m->_key = id;
                made.add(id, std::move(owned));
                m->rowid = id;
                readColumns(c, kFirstColumnField, texts, *m);
            }
            if (_MsgHandle *sender = d->handles.value(m->handle_id)) {
                m->sender = sender;
                if (m->country.isEmpty())
                    m->country = sender->country;
            }
            if (m->other_handle > 0) {
                if (_MsgHandle *other = d->handles.value(m->other_handle))
                    m->other = other;
            }
            const qint64 chatOfRow = c.int64(kChatIdField);
            if (_MsgChat *chat = d->chats.value(chatOfRow)) {
                m->chat = chat;
                pending[chat].emplace_back(id, m);
            }
            if (lastFromRows) {
                const int last = date(C::Date);
                auto it = newest.find(chatOfRow);
                if (it == newest.end())
                    newest.insert(chatOfRow, last);
                else if (last > it.value())
                    it.value() = last;
            }
        }
    } catch (...) {
        made.flush();
        insertChatRows(pending);
        throw;
    }
    // The set's message hash and the messages' attachments are filled while
    // the conversations' hashes are: none of these touches another.
    insertChatRows(pending, [&] {
        made.flush();
        readAttachments(d, chatId);
    });
    for (auto it = newest.cbegin(); it != newest.cend(); ++it) {
        if (_MsgChat *chat = d->chats.value(it.key()))
            chat->_last = it.value();
    }
}

void IOS6MessageDb::readAttachments(MsgDataSet::Data *d, qint64 chatId)
{
    // One pass over the join table for the whole call. Rows of messages the
    // set does not hold (in no conversation, location sharing, another
    // conversation) are passed over before anything is read from them.
    Sqlite3Sql sql;
    if (chatId > 0) {
        sql.appendSql(QStringLiteral(
            "select j.message_id, j.attachment_id, a.* from chat_message_join as cm inner join "
            "message_attachment_join as j on j.message_id = cm.message_id and cm.chat_id=? inner join attachment as a "
            "on j.attachment_id = a.rowid"));
        sql.addInt64Param(chatId);
    } else {
        sql.appendSql(QStringLiteral("select j.message_id, j.attachment_id, a.* from message_attachment_join as j "
                                     "inner join attachment as a on j.attachment_id = a.rowid"));
    }
    Sqlite3Cursor c = queryThrow(sql);
    while (c.moveNext()) {
        const qint64 messageId = c.getInt64(0);
        _MsgMessage *m = d->messages.value(messageId);
        // The key of a message of this file is its rowid; a recycled record
        // under the same number would be another message.
        if (!m || m->_deleted || m->rowid != messageId)
            continue;
        const qint64 id = c.getInt64(1);
        _MsgAttachment *a = d->attachments.value(id);
        if (!a) {
            a = new _MsgAttachment;
            d->attachments.insert(id, a);
            a->rowid = id;
            a->guid = c.getText(QStringLiteral("guid"));
            a->created_date = secondsSince2001(c.getInt64(QStringLiteral("created_date")));
            a->start_date = secondsSince2001(c.getInt64(QStringLiteral("start_date")));
            a->filename = c.getText(QStringLiteral("filename"));
            a->uti = c.getText(QStringLiteral("uti"));
            a->mime_type = c.getText(QStringLiteral("mime_type"));
            a->transfer_state = c.getInt(QStringLiteral("transfer_state"));
            a->is_outgoing = c.getInt(QStringLiteral("is_outgoing"));
            a->user_info = c.getBlob(QStringLiteral("user_info"));
            a->transfer_name = c.getText(QStringLiteral("transfer_name"));
            a->total_bytes = c.getInt64(QStringLiteral("total_bytes"));
            a->_local_path = attachmentLocalPath(a->filename);
        }
        m->attachments.insert(QString::number(id), a);
    }
}

bool IOS6MessageDb::hasItemType() const
{
    return m_cols.msgItemType;
}

qint64 IOS6MessageDb::messageCount()
{
    ensureOpen();
    Sqlite3Sql sql("select count(*) from chat_message_join as j inner join message as m on j.message_id = m.rowid");
    if (m_cols.msgItemType)
        sql.appendSql(QStringLiteral(" and m.item_type <> 4"));
    Sqlite3Cursor c = queryThrow(sql);
    return c.moveNext() ? c.getInt64(0) : 0;
}

void IOS6MessageDb::recycledMessages(MsgDataSet &set)
{
    ensureOpen();
    setData(set);
    QList<_MsgRecycledMessage> kept = m_recycle.readMessages();
    for (auto it = kept.begin(); it != kept.end();) {
        if (messageRowid(it->guid) != 0)
            it = kept.erase(it);
        else
            ++it;
    }
    MessageRecycleDb::loadInto(set, kept);
}
