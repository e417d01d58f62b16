#include "IOS6DeletedRecordScan.h"

#include <QHash>

#include <memory>
#include <stdexcept>
#include <vector>

#include "CountryCache.h"
#include "DeletedRecordPasses.h"
#include "IOS6MessageDb.h"
#include "RowValues.h"
#include "_MsgChat.h"

namespace
{

using Row = Sqlite3File::_Row;

bool isService(const QVariant &value)
{
    const QString service = rowText(value);
    return service == QLatin1String("SMS") || service == QLatin1String("iMessage");
}

// Values 14 to 34 of a message row, in the table's order.
int _MsgMessage::*const kFlagFields[] = {
    &_MsgMessage::error,
    &_MsgMessage::date,
    &_MsgMessage::date_read,
    &_MsgMessage::date_delivered,
    &_MsgMessage::is_delivered,
    &_MsgMessage::is_finished,
    &_MsgMessage::is_emote,
    &_MsgMessage::is_from_me,
    &_MsgMessage::is_empty,
    &_MsgMessage::is_delayed,
    &_MsgMessage::is_auto_reply,
    &_MsgMessage::is_prepared,
    &_MsgMessage::is_read,
    &_MsgMessage::is_system_message,
    &_MsgMessage::is_sent,
    &_MsgMessage::has_dd_results,
    &_MsgMessage::is_service_message,
    &_MsgMessage::is_forward,
    &_MsgMessage::was_downgraded,
    &_MsgMessage::is_archive,
    &_MsgMessage::cache_has_attachments,
};

bool convertHandle(CountryCache &countries, const Row &row, _MsgHandle &h)
{
    const QList<QVariant> &v = row.values;
    if (v.size() < 5)
        return false;
    h.rowid = row.rowid;
    h.id = rowText(v[1]);
    h.country = rowText(v[2]);
    h.service = rowText(v[3]);
    // The freed pages hold rows of every table, whose third value is anything
    // but a country: they are turned down before it costs a library look-up.
    if (!isService(v[3]))
        return false;
    // Without a country the number is taken as one of the current country;
    // with one the library does not know, it stays as stored.
    if (countries.countryOf(h.country))
        h.id = countries.normalized(h.country, h.id);
    h.uncanonicalized_id = rowText(v[4]);
    // An address that cleans to nothing names no one; stored, it would pass
    // for "no handle" when read back.
    return !h.id.isEmpty();
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

// Opens the file for a scan after the log has been written into it, and
// runs the passes inside one transaction of the recycle database.
template <class Passes>
void runScan(IOS6MessageDb &db, Sqlite3File &file, Passes passes)
{
    db.ensureOpen();
    QString ignored;
    db.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE);"), ignored);
    file.open();
    MessageRecycleDb &recycle = *db.recycleDb();
    recycle.beginTransaction();
    try {
        passes(recycle);
        recycle.endTransaction(true);
    } catch (...) {
        // The scan's own error is the one to report, not a failed rollback.
        try {
            recycle.endTransaction(false);
        } catch (const std::exception &) {
        }
        throw;
    }
}

} // namespace

QList<_SqliteCol> ios6MessageColumns(int count)
{
    // Flags: 1 not null, 2 unique, 3 primary key, 0 none.
    static const struct
    {
        const char *name;
        const char *type;
        int flag;
    } columns[] = {
        {"ROWID", "INTEGER", 3},
        {"guid", "TEXT", 1},
        {"text", "TEXT", 0},
        {"replace", "INTEGER", 2},
        {"service_center", "TEXT", 0},
        {"handle_id", "INTEGER", 2},
        {"subject", "TEXT", 0},
        {"country", "TEXT", 0},
        {"attributedBody", "BLOB", 0},
        {"version", "INTEGER", 2},
        {"type", "INTEGER", 2},
        {"service", "TEXT", 0},
        {"account", "TEXT", 0},
        {"account_guid", "TEXT", 0},
        {"error", "INTEGER", 2},
        {"date", "INTEGER", 0},
        {"date_read", "INTEGER", 0},
        {"date_delivered", "INTEGER", 0},
        {"is_delivered", "INTEGER", 2},
        {"is_finished", "INTEGER", 2},
        {"is_emote", "INTEGER", 2},
        {"is_from_me", "INTEGER", 2},
        {"is_empty", "INTEGER", 2},
        {"is_delayed", "INTEGER", 2},
        {"is_auto_reply", "INTEGER", 2},
        {"is_prepared", "INTEGER", 2},
        {"is_read", "INTEGER", 2},
        {"is_system_message", "INTEGER", 2},
        {"is_sent", "INTEGER", 2},
        {"has_dd_results", "INTEGER", 2},
        {"is_service_message", "INTEGER", 2},
        {"is_forward", "INTEGER", 2},
        {"was_downgraded", "INTEGER", 2},
        {"is_archive", "INTEGER", 2},
        {"cache_has_attachments", "INTEGER", 2},
        {"cache_roomnames", "TEXT", 0},
        {"was_data_detected", "INTEGER", 2},
        {"was_deduplicated", "INTEGER", 2},
        {"is_audio_message", "INTEGER", 2},
        {"is_played", "INTEGER", 2},
        {"date_played", "INTEGER", 0},
        {"item_type", "INTEGER", 2},
        {"other_handle", "INTEGER", 2},
        {"group_title", "TEXT", 0},
        {"group_action_type", "INTEGER", 2},
        {"share_status", "INTEGER", 0},
        {"share_direction", "INTEGER", 0},
        {"is_expirable", "INTEGER", 2},
        {"expire_state", "INTEGER", 2},
        {"message_action_type", "INTEGER", 2},
        {"message_source", "INTEGER", 2},
    };
    if (count != 38 && count != 51)
        throw std::invalid_argument("no iOS 6 message column list of that many columns");
    QList<_SqliteCol> cols;
    cols.reserve(count);
    for (int i = 0; i < count; ++i)
        cols.append(_SqliteCol(QString::fromLatin1(columns[i].name), QString::fromLatin1(columns[i].type),
                               columns[i].flag == 1, columns[i].flag == 2, columns[i].flag == 3));
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
    m.guid = rowText(v[1]);
    m.text = rowText(v[2]);
    m.replace = rowInt(v[3]);
    m.service_center = rowText(v[4]);
    m.handle_id = rowInt64(v[5]);
    m.subject = rowText(v[6]);
    m.country = rowText(v[7]);
    m.attributedBody = rowBytes(v[8]);
    m.version = rowInt(v[9]);
    m.type = rowInt(v[10]);
    m.service = rowText(v[11]);
    if (!isService(v[11]))
        return false;
    m.account = rowText(v[12]);
    m.account_guid = rowText(v[13]);
    for (int i = 0; i < 21; ++i)
        m.*kFlagFields[i] = rowInt(v[14 + i]);
    m.cache_roomnames = rowText(v[35]);
    m.was_data_detected = rowInt(v[36]);
    m.was_deduplicated = rowInt(v[37]);
    if (v.size() >= 50) {
        m.is_audio_message = rowInt(v[38]);
        m.is_played = rowInt(v[39]);
        m.date_played = rowInt(v[40]);
        m.item_type = rowInt(v[41]);
        m.other_handle = rowInt(v[42]);
        m.group_title = rowText(v[43]);
        m.group_action_type = rowInt(v[44]);
        m.share_status = rowInt(v[45]);
        m.share_direction = rowInt(v[46]);
        m.is_expirable = rowInt(v[47]);
        m.expire_state = rowInt(v[48]);
        m.message_action_type = rowInt(v[49]);
    }
    return true;
}

bool rawRowToIOS6Handle(IOS6MessageDb &db, const Sqlite3File::_Row &row, _MsgHandle &handle)
{
    CountryCache countries(db.countryLib());
    return convertHandle(countries, row, handle);
}

void readRawMessages(IOS6MessageDb &db, const QList<_MsgChat *> &chats, QObject *form)
{
    Sqlite3File file(db.dbFilePath());
    const QHash<qint64, _MsgChat *> map = handleMap(chats);
    runScan(db, file, [&](MessageRecycleDb &recycle) {
        // A message of a known conversation is stored under its identifier
        // with the address of the message's own handle (in a group the first
        // member would name the wrong sender); any other with the recycled
        // handle carved from the rowid it names.
        const auto store = [&](const _MsgMessage &m, qint64 srcRowid, bool carved) {
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
                const QSharedPointer<_MsgHandle> h = recycle.handleBySrcRowid(m.handle_id);
                recycle.insertMessage(m, h->id, h->id, srcRowid);
            }
        };

        QList<quint32> pages;
        freelistPass(file, form, pages, [&](const Sqlite3File::_Page &, const Sqlite3File::_Cell &cell) {
            _MsgMessage m;
            if (rawRowToIOS6Message(file.rowData(cell), m) && m.item_type == 0 && recycle.messageRowid(m) == 0)
                store(m, cell.rowid, false);
        });
        if (!appendTableLeaves(db, file, QStringLiteral("message"), pages))
            return;

        const QList<_SqliteCol> lists[] = {ios6MessageColumns(38), ios6MessageColumns(51)};
        pages = withoutRepeats(pages);
        const int total = static_cast<int>(pages.size());
        for (int i = 0; i < total; ++i) {
            if (scanCancelled(form))
                return;
            postScanProgress(form, i + 1, total);
            const Sqlite3File::_Page page = file.readPage(pages[i]);
            std::vector<std::unique_ptr<_MsgMessage>> found;
            for (const QList<_SqliteCol> &cols : lists) {
                const QList<Row> rows = page.isTreePage()
                    ? file.scanPageFreeSpace(cols, 0, page, &isRawIOS6MessageRow)
                    : file.scanFreePage(cols, 0, pages[i], 0, &isRawIOS6MessageRow);
                for (const Row &row : rows) {
                    auto m = std::make_unique<_MsgMessage>();
                    if (rawRowToIOS6Message(row, *m) && m->item_type == 0)
                        found.push_back(std::move(m));
                }
            }
            for (const auto &m : found) {
                if (scanCancelled(form))
                    return;
                if (recycle.messageRowid(*m) == 0 && db.messageRowid(m->guid) == 0)
                    store(*m, m->rowid, true);
            }
        }
    });
}

void readRawHandles(IOS6MessageDb &db, QObject *form)
{
    Sqlite3File file(db.dbFilePath());
    runScan(db, file, [&](MessageRecycleDb &recycle) {
        CountryCache countries(db.countryLib());
        QList<quint32> pages;
        freelistPass(file, form, pages, [&](const Sqlite3File::_Page &, const Sqlite3File::_Cell &cell) {
            _MsgHandle h;
            if (convertHandle(countries, file.rowData(cell), h) && recycle.handleRowid(h) == 0)
                recycle.insertHandle(h, cell.rowid);
        });
        if (!appendTableLeaves(db, file, QStringLiteral("handle"), pages))
            return;

        const QList<_SqliteCol> cols = ios6HandleColumns();
        pages = withoutRepeats(pages);
        const int total = static_cast<int>(pages.size());
        for (int i = 0; i < total; ++i) {
            if (scanCancelled(form))
                return;
            postScanProgress(form, i + 1, total);
            const Sqlite3File::_Page page = file.readPage(pages[i]);
            const QList<Row> rows = page.isTreePage() ? file.scanPageFreeSpace(cols, 0, page, &isRawIOS6HandleRow)
                                                      : file.scanFreePage(cols, 0, pages[i], 0, &isRawIOS6HandleRow);
            std::vector<std::unique_ptr<_MsgHandle>> found;
            for (const Row &row : rows) {
                auto h = std::make_unique<_MsgHandle>();
                if (convertHandle(countries, row, *h))
                    found.push_back(std::move(h));
            }
            for (const auto &h : found) {
                if (scanCancelled(form))
                    return;
                if (recycle.handleRowid(*h) == 0)
                    recycle.insertHandle(*h, h->rowid);
            }
        }
    });
}
