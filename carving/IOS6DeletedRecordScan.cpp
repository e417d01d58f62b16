#include "IOS6DeletedRecordScan.h"

#include <QHash>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "CountryCache.h"
#include "DeletedRecordPasses.h"
#include "IOS6MessageColumns.h"
#include "IOS6MessageDb.h"
#include "LiveCopy.h"
#include "RecycledIdentities.h"
#include "RowValues.h"
#include "Sqlite3DB.h"
#include "TableSchema.h"
#include "_MsgChat.h"

#include <QSet>

namespace
{

using Row = Sqlite3File::_Row;

bool isService(const QVariant &value)
{
    const QString service = rowText(value);
    return service == QLatin1String("SMS") || service == QLatin1String("iMessage");
}

// Where the columns of a handle row stand.
struct HandleMap
{
    int id = 1, country = 2, service = 3, uncanonicalized = 4;
    int needed = 5;
    bool valid = true;

    static HandleMap of(const QList<_SqliteCol> &cols)
    {
        HandleMap m;
        m.id = columnIndex(cols, QStringLiteral("id"));
        m.country = columnIndex(cols, QStringLiteral("country"));
        m.service = columnIndex(cols, QStringLiteral("service"));
        m.uncanonicalized = columnIndex(cols, QStringLiteral("uncanonicalized_id"));
        m.valid = m.id > 0 && m.country > 0 && m.service > 0 && m.uncanonicalized > 0;
        m.needed = std::max({m.id, m.country, m.service, m.uncanonicalized}) + 1;
        return m;
    }
};

bool convertHandle(CountryCache &countries, const Row &row, const HandleMap &map, _MsgHandle &h)
{
    const QList<QVariant> &v = row.values;
    if (!map.valid || v.size() < map.needed)
        return false;
    h.rowid = row.rowid;
    h.id = rowText(v[map.id]);
    h.country = rowText(v[map.country]);
    h.service = rowText(v[map.service]);
    // The freed pages hold rows of every table, whose third value is anything
    // but a country: they are turned down before it costs a library look-up.
    if (!isService(v[map.service]))
        return false;
    // Without a country the number is taken as one of the current country;
    // with one the library does not know, it stays as stored.
    if (countries.countryOf(h.country))
        h.id = countries.normalized(h.country, h.id);
    h.uncanonicalized_id = rowText(v[map.uncanonicalized]);
    // An address that cleans to nothing names no one; stored, it would pass
    // for "no handle" when read back.
    return !h.id.isEmpty();
}

bool convertHandle(CountryCache &countries, const Row &row, _MsgHandle &h)
{
    return convertHandle(countries, row, HandleMap(), h);
}

// Where the columns of a message row stand; -1 for a column the table lacks.
struct MessageMap
{
    int guid = -1, handleId = -1, body = -1, service = -1;
    std::vector<std::pair<int, QString _MsgMessage::*>> texts;
    std::vector<std::pair<int, int _MsgMessage::*>> ints;
    std::vector<std::pair<int, int _MsgMessage::*>> dates;
    int needed = 0;
    bool valid = false;

    static MessageMap of(const QList<_SqliteCol> &cols)
    {
        MessageMap m;
        const auto at = [&](const char *name) { return columnIndex(cols, QLatin1String(name)); };
        for (int i = 0; i < IOS6MessageColumn::Count; ++i) {
            const IOS6MessageColumn::ColumnDefinition &column = IOS6MessageColumn::kColumns[i];
            const int index = at(column.name);
            // The guid and the service are read first, as the test of the row.
            if (i == IOS6MessageColumn::Guid || i == IOS6MessageColumn::Service)
                continue;
            if (column.field.text && index >= 0)
                m.texts.emplace_back(index, column.field.text);
            else if (column.field.number && index > 0)
                (column.read == IOS6MessageColumn::Read::Date ? m.dates : m.ints).emplace_back(index, column.field.number);
        }
        m.guid = at("guid");
        m.handleId = at("handle_id");
        m.body = at("attributedBody");
        m.service = at("service");
        m.valid = m.guid > 0 && m.service > 0;
        // A row reaches at least the columns of the first release.
        const int last = at("was_deduplicated");
        m.needed = std::max(m.service, std::max(m.guid, last)) + 1;
        return m;
    }
};

bool convertMessage(const Row &row, const MessageMap &map, _MsgMessage &m)
{
    const QList<QVariant> &v = row.values;
    if (!map.valid || v.size() < map.needed)
        return false;
    m.rowid = row.rowid;
    m.guid = rowText(v[map.guid]);
    m.service = rowText(v[map.service]);
    if (!isService(v[map.service]))
        return false;
    // Columns the row does not reach keep the record's defaults.
    const auto text = [&](int i, QString &field) {
        if (i >= 0 && i < v.size())
            field = rowText(v[i]);
    };
    for (const auto &[i, field] : map.texts)
        text(i, m.*field);
    if (map.handleId >= 0 && map.handleId < v.size())
        m.handle_id = rowInt64(v[map.handleId]);
    if (map.body >= 0 && map.body < v.size())
        m.attributedBody = rowBytes(v[map.body]);
    for (const auto &i : map.ints) {
        if (i.first < v.size())
            m.*i.second = rowInt(v[i.first]);
    }
    for (const auto &i : map.dates) {
        if (i.first < v.size())
            m.*i.second = IOS6MessageColumn::secondsSince2001(rowInt64(v[i.first]));
    }
    return true;
}

// The conversation of each handle: its one-to-one conversation when there
// is one, else the first group conversation that holds it.
QHash<qint64, _MsgChat *> handleMap(const QList<_MsgChat *> &chats)
{
    QHash<qint64, _MsgChat *> map;
    for (_MsgChat *chat : chats) {
        if (!chat)
            continue;
        const bool group = chat->isGroup();
        for (_MsgHandle *h : chat->handleList()) {
            if (!group || !map.contains(h->rowid))
                map.insert(h->rowid, chat);
        }
    }
    return map;
}

} // namespace

QList<_SqliteCol> ios6MessageColumns(int count)
{
    if (count != 38 && count != 51)
        throw std::invalid_argument("no iOS 6 message column list of that many columns");
    // The phone's columns: ours up to message_action_type (the logic hash is
    // our own), then message_source. Flagged as the phone's rows show them:
    // guid never NULL, a column with a default as unique.
    QList<_SqliteCol> cols;
    cols.reserve(count);
    cols.append(_SqliteCol(QStringLiteral("ROWID"), QStringLiteral("INTEGER"), false, false, true));
    for (int i = 0; i < count - 1 && i < IOS6MessageColumn::LogicHash; ++i) {
        const IOS6MessageColumn::ColumnDefinition &column = IOS6MessageColumn::kColumns[i];
        cols.append(_SqliteCol(QString::fromLatin1(column.name), QString::fromLatin1(column.type),
                               column.constraint != nullptr, column.defaultValue != nullptr));
    }
    if (count == 51)
        cols.append(_SqliteCol(QStringLiteral("message_source"), QStringLiteral("INTEGER"), false, true));
    return cols;
}

QList<_SqliteCol> ios6HandleColumns()
{
    return {_SqliteCol(QStringLiteral("ROWID"), QStringLiteral("INTEGER"), false, false, true),
            _SqliteCol(QStringLiteral("id"), QStringLiteral("TEXT"), true),
            _SqliteCol(QStringLiteral("country"), QStringLiteral("TEXT")),
            _SqliteCol(QStringLiteral("service"), QStringLiteral("TEXT"), true),
            _SqliteCol(QStringLiteral("uncanonicalized_id"), QStringLiteral("TEXT"))};
}

bool isRawIOS6MessageRow(const Sqlite3File::_Row &row)
{
    return row.values.size() >= 38 && isService(row.values[11]);
}

bool isRawIOS6HandleRow(const Sqlite3File::_Row &row)
{
    return row.values.size() >= 5 && isService(row.values[3]);
}

bool rawRowToIOS6Message(const Sqlite3File::_Row &row, _MsgMessage &m)
{
    const QList<QVariant> &v = row.values;
    if (v.size() < 38)
        return false;
    m.rowid = row.rowid;
    // Value 1 + i is the table's column i; a row of the first release ends
    // at was_deduplicated.
    const int columns = v.size() >= 50 ? IOS6MessageColumn::LogicHash : IOS6MessageColumn::kFirstLater;
    for (int i = 0; i < columns; ++i) {
        const IOS6MessageColumn::Field &field = IOS6MessageColumn::kColumns[i].field;
        const QVariant &value = v[1 + i];
        if (field.text)
            m.*field.text = rowText(value);
        else if (field.blob)
            m.*field.blob = rowBytes(value);
        else if (field.id)
            m.*field.id = rowInt64(value);
        else if (IOS6MessageColumn::kColumns[i].read == IOS6MessageColumn::Read::Date)
            m.*field.number = IOS6MessageColumn::secondsSince2001(rowInt64(value));
        else
            m.*field.number = rowInt(value);
        if (i == IOS6MessageColumn::Service && !isService(value))
            return false;
    }
    return true;
}

bool rawRowToIOS6Message(const Sqlite3File::_Row &row, const QList<_SqliteCol> &columns, _MsgMessage &message)
{
    return convertMessage(row, MessageMap::of(columns), message);
}

QList<QList<_SqliteCol>> ios6MessageCarvingLists(const QString &createTable)
{
    const QList<_SqliteCol> own = carvingColumns(declaredColumns(createTable), true);
    if (own.isEmpty() || !MessageMap::of(own).valid)
        return {ios6MessageColumns(51), ios6MessageColumns(38)};
    QList<QList<_SqliteCol>> lists{own};
    // Columns added to an existing table are missing from the rows written
    // before: the later columns after was_deduplicated, then message_source.
    for (const auto &[count, last] : {std::pair<int, const char *>{50, "message_action_type"},
                                      std::pair<int, const char *>{38, "was_deduplicated"}}) {
        if (own.size() > count && own[count - 1].name.compare(QLatin1String(last), Qt::CaseInsensitive) == 0)
            lists.append(own.mid(0, count));
    }
    return lists;
}

QList<_SqliteCol> ios6HandleCarvingColumns(const QString &createTable)
{
    const QList<_SqliteCol> own = carvingColumns(declaredColumns(createTable), true);
    if (own.isEmpty() || !HandleMap::of(own).valid)
        return ios6HandleColumns();
    return own;
}

bool rawRowToIOS6Handle(IOS6MessageDb &db, const Sqlite3File::_Row &row, _MsgHandle &handle)
{
    CountryCache countries(db.countryLib());
    return convertHandle(countries, row, handle);
}

namespace
{

// Every table leaf page the file holds apart from its live tree: the freed
// ones the freelist names, the images of the log and the file's own pages
// the log replaced. visit gets each cell whose record has valueCount values.
void forEachFreedOrLoggedCell(const Sqlite3File &file, int valueCount,
                              const std::function<void(const Sqlite3File::_Cell &)> &visit)
{
    QList<quint32> ignored;
    freelistPass(file, nullptr, ignored, [&](const Sqlite3File::_Page &page, const Sqlite3File::_Cell &cell) {
        if (recordValueCount(file, page, cell) == valueCount)
            visit(cell);
    });
    const auto visitLeaf = [&](const Sqlite3File::_Page &page) {
        if (page.type != 13)
            return;
        for (const uchar *cell : page.cells) {
            const Sqlite3File::_Cell c = file.readCell(page, cell);
            if (recordValueCount(file, page, c) == valueCount)
                visit(c);
        }
    };
    for (int i = 0; i < file.imageCount(); ++i)
        visitLeaf(file.readImage(i));
    for (const quint32 n : file.replacedFilePages())
        visitLeaf(file.readFilePage(n));
}

// The best image found of each record, in the order first found: a whole
// cell over a carved row, a carved row with its rowid over one without, and
// of two alike the newer.
template <class Record>
class BestImages
{
public:
    struct Found
    {
        std::unique_ptr<Record> record;
        bool wholeCell = false;
        int rank = 0;
        int age = 0;
    };

    void offer(const QString &key, std::unique_ptr<Record> r, bool wholeCell, int age)
    {
        const int rank = (wholeCell ? 2 : 0) + (r->rowid > 0 ? 1 : 0);
        const auto it = m_index.constFind(key);
        if (it == m_index.constEnd()) {
            m_index.insert(key, static_cast<int>(m_found.size()));
            m_found.push_back({std::move(r), wholeCell, rank, age});
            return;
        }
        Found &kept = m_found[static_cast<size_t>(*it)];
        if (rank > kept.rank || (rank == kept.rank && age > kept.age))
            kept = {std::move(r), wholeCell, rank, age};
    }
    const std::vector<Found> &found() const { return m_found; }

private:
    QHash<QString, int> m_index;
    std::vector<Found> m_found;
};

QString handleKey(const _MsgHandle &h)
{
    return h.id + QLatin1Char('\n') + h.service;
}

QString messageKey(const _MsgMessage &m)
{
    // Every message the phone writes has a guid; bytes without one are told
    // apart as the recycle database tells them.
    if (!m.guid.isEmpty())
        return QStringLiteral("g") + m.guid;
    return QStringLiteral("t%1|%2|").arg(m.date).arg(m.is_from_me) + m.text;
}

bool rowidsNeverReused(const QString &createTable)
{
    return createTable.contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
}

// A handle row deleted from a page that stays in use loses its rowid: the
// freeblock's link and size overwrite the cell's first four bytes, which
// hold the payload length, the rowid and the record's header length. The
// entry of the table's UNIQUE (id, service) index keeps it: that record's
// body is id, service, rowid, and right before id stands the rowid's serial
// type, which a freed entry keeps as well. For each wanted key (id and
// service as the file stores them, in UTF-8) the rowids that such bytes on
// the index pages given name; a page of any other type is passed over.
QHash<QByteArray, QSet<qint64>> rowidsOfIndexEntries(const Sqlite3File &file, const QList<Sqlite3File::_Page> &pages,
                                                     const QList<QByteArray> &keys)
{
    QHash<QByteArray, QSet<qint64>> out;
    for (const Sqlite3File::_Page &page : pages) {
        if (!page.page || !page.header || !page.isIndex())
            continue;
        const uchar *begin = page.page;
        const uchar *pageEnd = file.pageEndOf(begin);
        if (!pageEnd)
            continue;
        const uchar *end = std::min(pageEnd, begin + file.usableSize());
        for (const QByteArray &key : keys) {
            const QByteArrayView bytes(reinterpret_cast<const char *>(begin), end - begin);
            for (qsizetype at = bytes.indexOf(key, 1); at > 0; at = bytes.indexOf(key, at + 1)) {
                // Serial types 1 to 6: integers of 1, 2, 3, 4, 6 and 8 bytes;
                // 9: the integer 1 (rowid 1), without bytes.
                static const int kSizes[] = {0, 1, 2, 3, 4, 6, 8};
                const quint8 type = begin[at - 1];
                if (type == 9) {
                    out[key].insert(1);
                    continue;
                }
                if (type < 1 || type > 6)
                    continue;
                const int size = kSizes[type];
                const uchar *p = begin + at + key.size();
                if (end - p < size)
                    continue;
                qint64 v = static_cast<qint8>(p[0]);
                for (int i = 1; i < size; ++i)
                    v = static_cast<qint64>(static_cast<quint64>(v) << 8 | p[i]);
                if (v > 0)
                    out[key].insert(v);
            }
        }
    }
    return out;
}

// Gives each carved handle without a rowid the one its index entries name
// (rowidsOfIndexEntries) when they name exactly one that is neither a live
// handle's nor another found handle's, nor named for another of them. The
// pages searched: every page of the table's indexes, the pages the scan
// found on its way (the freelist's among them), every image of the log and
// the file's own pages it replaced.
void giveRowidsFromIndex(Sqlite3DB &liveDb, const Sqlite3File &file, const QList<quint32> &scanned,
                         const QSet<qint64> &live, const QHash<QString, QString> &storedIds,
                         const BestImages<_MsgHandle> &found)
{
    QHash<QByteArray, _MsgHandle *> wanted;
    QSet<qint64> taken = live;
    for (const auto &f : found.found()) {
        if (f.record->rowid > 0) {
            taken.insert(f.record->rowid);
            continue;
        }
        const QString id = storedIds.value(handleKey(*f.record));
        if (!id.isEmpty())
            wanted.insert((id + f.record->service).toUtf8(), f.record.get());
    }
    if (wanted.isEmpty())
        return;
    QList<Sqlite3File::_Page> pages;
    Sqlite3Cursor c = liveDb.queryThrow(
        Sqlite3Sql("select rootpage from sqlite_master where type='index' and tbl_name='handle'"));
    while (c.moveNext()) {
        const qint64 root = c.getInt64(QStringLiteral("rootpage"));
        if (root > 0)
            pages.append(file.treePages(file.readPage(root)));
    }
    for (const quint32 n : scanned)
        pages.append(file.readPage(n));
    for (int i = 0; i < file.imageCount(); ++i)
        pages.append(file.readImage(i));
    for (const quint32 n : file.replacedFilePages())
        pages.append(file.readFilePage(n));
    QHash<QByteArray, QSet<qint64>> named = rowidsOfIndexEntries(file, pages, wanted.keys());
    QHash<qint64, int> claims;
    for (auto it = named.begin(); it != named.end(); ++it) {
        it.value().subtract(taken);
        for (const qint64 r : it.value())
            ++claims[r];
    }
    for (auto it = named.constBegin(); it != named.constEnd(); ++it) {
        if (it.value().size() == 1 && claims.value(*it.value().constBegin()) == 1)
            wanted.value(it.key())->rowid = *it.value().constBegin();
    }
}

} // namespace

void readRawMessages(IOS6MessageDb &db, const QList<_MsgChat *> &chats, QObject *form)
{
    Sqlite3File file(db.dbFilePath());
    const QHash<qint64, _MsgChat *> map = handleMap(chats);
    const std::unique_ptr<LiveCopy> copy = openForScan(db.dbFilePath(), file);
    Sqlite3DB &liveDb = copy->db();
    MessageRecycleDb &recycle = *db.recycleDb();
    inScanTransaction(recycle, [&] {
        const SchemaEntry table = schemaEntry(liveDb, QStringLiteral("message"));
        const QList<QList<_SqliteCol>> lists = ios6MessageCarvingLists(table.sql);
        const MessageMap columns = MessageMap::of(lists.first());
        const QList<_SqliteCol> handleList =
            ios6HandleCarvingColumns(schemaEntry(liveDb, QStringLiteral("handle")).sql);
        const HandleMap handleColumns = HandleMap::of(handleList);
        const int handleColumnCount = static_cast<int>(handleList.size());
        CountryCache countries(db.countryLib());

        // The live messages by guid (and by rowid where rowids are never
        // used again), and the address of every handle row the file still
        // has with its rowid: live, on freed pages, in older images.
        QSet<QString> liveGuids;
        QSet<qint64> liveRowids;
        QHash<qint64, QString> addresses;
        if (table.rootPage > 0) {
            const bool byRowid = rowidsNeverReused(table.sql);
            Sqlite3Cursor c = liveDb.queryThrow(Sqlite3Sql("select ROWID, guid from message"));
            while (c.moveNext()) {
                liveGuids.insert(c.getText(QStringLiteral("guid")));
                if (byRowid)
                    liveRowids.insert(c.getInt64(0));
            }
        }
        if (handleColumns.valid) {
            Sqlite3Cursor c = liveDb.queryThrow(Sqlite3Sql("select ROWID, id, country from handle"));
            while (c.moveNext()) {
                const QString country = c.getText(QStringLiteral("country"));
                const QString id = c.getText(QStringLiteral("id"));
                addresses.insert(c.getInt64(0), countries.countryOf(country) ? countries.normalized(country, id) : id);
            }
            forEachFreedOrLoggedCell(file, handleColumnCount, [&](const Sqlite3File::_Cell &cell) {
                _MsgHandle h;
                if (cell.rowid > 0 && !addresses.contains(cell.rowid)
                    && convertHandle(countries, file.rowData(cell), handleColumns, h))
                    addresses.insert(cell.rowid, h.id);
            });
        }
        // A copy of a live message, wherever it stands (a freed copy of a
        // live page, an older image, free space), is no deleted message.
        const auto isLive = [&](const _MsgMessage &m) {
            return liveGuids.contains(m.guid) || (m.rowid > 0 && liveRowids.contains(m.rowid));
        };

        // A message of a known conversation is stored under its identifier
        // with the address of the message's own handle (in a group the first
        // member would name the wrong sender); any other with the address of
        // the handle row it names, wherever that was found.
        RecycledIdentities known;
        known.load(recycle);
        const auto store = [&](const _MsgMessage &m, qint64 srcRowid, bool carved) {
            known.add(m);
            const _MsgChat *chat = map.value(m.handle_id);
            if (chat) {
                QString handle;
                const QList<_MsgHandle *> members = chat->handleList();
                for (const _MsgHandle *h : members) {
                    if (h->rowid == m.handle_id)
                        handle = h->id;
                }
                if (handle.isEmpty() && !members.isEmpty())
                    handle = members.first()->id;
                recycle.insertMessage(m, chat->chat_identifier, handle, carved ? 0 : srcRowid);
            } else {
                QString address = addresses.value(m.handle_id);
                if (address.isEmpty())
                    address = recycle.handleBySrcRowid(m.handle_id)->id;
                recycle.insertMessage(m, address, address, srcRowid);
            }
        };

        BestImages<_MsgMessage> found;
        const auto takeCell = [&](const Sqlite3File::_Cell &cell, int age) {
            auto m = std::make_unique<_MsgMessage>();
            if (convertMessage(file.rowData(cell), columns, *m) && m->item_type == 0 && !isLive(*m)) {
                const QString key = messageKey(*m);
                found.offer(key, std::move(m), true, age);
            }
        };
        // Whole cells of the database as it stands are the best images there
        // are: stored before the carving, so that a cancel keeps them.
        const auto storeFound = [&](QObject *askForm) {
            for (const auto &f : found.found()) {
                if (scanCancelled(askForm))
                    return false;
                if (!known.contains(*f.record))
                    store(*f.record, f.record->rowid, !f.wholeCell);
            }
            return true;
        };
        QList<quint32> pages;
        freelistPass(file, form, pages,
                     [&](const Sqlite3File::_Page &, const Sqlite3File::_Cell &cell) { takeCell(cell, kCurrentAge); });
        storeFound(nullptr);
        bool done = !scanCancelled(form);
        if (table.rootPage > 0) {
            appendTreePages(file, table.rootPage, pages);
            done = carvingPass(file, form, pages, lists, takeCell, [&](const Sqlite3File::_Page &page, int age) {
                carveRecords<_MsgMessage>(
                    file, page, lists, [&](const Row &row, _MsgMessage &m) { return convertMessage(row, columns, m); },
                    [&](std::unique_ptr<_MsgMessage> &m) {
                        if (m->item_type == 0 && !isLive(*m)) {
                            const QString key = messageKey(*m);
                            found.offer(key, std::move(m), false, age);
                        }
                    });
            });
        }
        if (done)
            storeFound(form);
    });
}

void readRawHandles(IOS6MessageDb &db, QObject *form)
{
    Sqlite3File file(db.dbFilePath());
    const std::unique_ptr<LiveCopy> copy = openForScan(db.dbFilePath(), file);
    Sqlite3DB &liveDb = copy->db();
    MessageRecycleDb &recycle = *db.recycleDb();
    inScanTransaction(recycle, [&] {
        const SchemaEntry table = schemaEntry(liveDb, QStringLiteral("handle"));
        const QList<_SqliteCol> cols = ios6HandleCarvingColumns(table.sql);
        const HandleMap columns = HandleMap::of(cols);
        CountryCache countries(db.countryLib());

        // Freed copies of live pages and the log's images hold the live
        // handles as well: those are none.
        QSet<qint64> live;
        if (table.rootPage > 0) {
            Sqlite3Cursor c = liveDb.queryThrow(Sqlite3Sql("select ROWID from handle"));
            while (c.moveNext())
                live.insert(c.getInt64(0));
        }

        BestImages<_MsgHandle> found;
        // The id of each carved handle as the file stores it (before the
        // country's normalising), to find its index entry by.
        QHash<QString, QString> storedIds;
        const auto takeCell = [&](const Sqlite3File::_Cell &c, int age) {
            auto h = std::make_unique<_MsgHandle>();
            if (c.rowid > 0 && !live.contains(c.rowid) && convertHandle(countries, file.rowData(c), columns, *h)) {
                h->rowid = c.rowid;
                const QString key = handleKey(*h);
                found.offer(key, std::move(h), true, age);
            }
        };
        const auto storeFound = [&](QObject *askForm) {
            for (const auto &f : found.found()) {
                if (scanCancelled(askForm))
                    return false;
                if (recycle.handleRowid(*f.record) == 0)
                    recycle.insertHandle(*f.record, f.record->rowid);
            }
            return true;
        };
        QList<quint32> pages;
        freelistPass(file, form, pages,
                     [&](const Sqlite3File::_Page &, const Sqlite3File::_Cell &cell) { takeCell(cell, kCurrentAge); });
        storeFound(nullptr);
        bool done = !scanCancelled(form);
        if (table.rootPage > 0) {
            appendTreePages(file, table.rootPage, pages);
            const QList<QList<_SqliteCol>> lists{cols};
            done = carvingPass(file, form, pages, lists, takeCell, [&](const Sqlite3File::_Page &page, int age) {
                carveRecords<_MsgHandle>(
                    file, page, lists,
                    [&](const Row &row, _MsgHandle &h) {
                        if (!convertHandle(countries, row, columns, h))
                            return false;
                        storedIds.insert(handleKey(h), rowText(row.values[columns.id]));
                        return true;
                    },
                    [&](std::unique_ptr<_MsgHandle> &h) {
                        if (h->rowid > 0 && live.contains(h->rowid))
                            return;
                        const QString key = handleKey(*h);
                        found.offer(key, std::move(h), false, age);
                    });
            });
        }
        if (done && table.rootPage > 0)
            giveRowidsFromIndex(liveDb, file, pages, live, storedIds, found);
        if (done)
            storeFound(form);
    });
}
