#include "IOS5DeletedMessageScan.h"

#include <stdexcept>

#include "Clock.h"
#include "CountryCache.h"
#include "DeletedRecordPasses.h"
#include "IOS5MessageDb.h"
#include "MessageIdentity.h"
#include "RowValues.h"

namespace
{

using Row = Sqlite3File::_Row;

constexpr qint64 kUnixTo2001 = 978307200;

bool readAndFlagsFit(const QList<QVariant> &v)
{
    const int read = rowInt(v[16]);
    const int uiFlags = rowInt(v[10]);
    return (read == 0 || read == 1) && (uiFlags == 0 || uiFlags == 4 || uiFlags == 5 || uiFlags == 6);
}

// Turns rows into messages, with the countries of one scan.
class MessageConverter
{
public:
    explicit MessageConverter(IOS5MessageDb &db)
        : m_countries(db.countryLib())
        , m_latest(Clock::currentSecsSinceEpoch() - kUnixTo2001)
    {
    }

    bool convert(const Row &row, _MsgRecycledMessage &m);

private:
    CountryCache m_countries;
    qint64 m_latest;
};

bool MessageConverter::convert(const Row &row, _MsgRecycledMessage &m)
{
    const QList<QVariant> &v = row.values;
    if (v.size() < 17)
        return false;
    m.rowid = row.rowid;
    m.replace = rowInt(v[5]);
    if (!readAndFlagsFit(v))
        return false;
    m.text = rowText(v[3]);
    m.service_center = rowText(v[6]);
    m.subject = rowText(v[12]);
    m.country = rowText(v[13]);
    if (!m_countries.countryOf(m.country))
        return false;

    m.version = rowInt(v[11]);
    m.type = 0;
    m.handle_id = 0;
    m.is_delivered = 0;
    m.is_finished = 1;
    m.is_emote = 0;
    m.is_empty = 0;
    m.is_delayed = 0;
    m.is_auto_reply = 0;
    m.is_prepared = 1;
    m.is_read = 1;
    m.is_system_message = 0;
    m.is_sent = 1;
    m.has_dd_results = 0;
    m.is_service_message = 0;
    m.is_forward = 0;
    m.was_downgraded = 0;
    m.is_archive = 0;
    m.cache_has_attachments = 0;
    m.was_data_detected = 1;
    m.was_deduplicated = 0;

    bool iMessage = false;
    if (v.size() > 32) {
        const int madrid = rowInt(v[29]);
        if (madrid != 0 && madrid != 1)
            return false;
        if (madrid == 0) {
            for (int i = 17; i <= 31; ++i) {
                if (i != 29 && v[i].isValid())
                    return false;
            }
        } else {
            if (rowText(v[23]) != QLatin1String("Madrid"))
                return false;
            iMessage = true;
        }
    }

    qint64 date = 0;
    if (!iMessage) {
        m.guid = newGuid();
        m.service = QStringLiteral("SMS");
        m.account = QStringLiteral("e:");
        m.error = 0;
        // SMS rows count from 1970, the records from 2001.
        date = qint64(rowInt(v[2])) - kUnixTo2001;
        m.date = m.date_read = m.date_delivered = saturatedInt(date);
        m.is_from_me = rowInt(v[4]) == 3 ? 1 : 0;
        const QString address = rowText(v[1]);
        if (address.isEmpty())
            return false;
        m.chat_identifier = m_countries.normalized(m.country, address);
        m.handle = m.chat_identifier;
    } else {
        m.guid = rowText(v[20]);
        m.service = QStringLiteral("iMessage");
        m.account = rowText(v[24]);
        m.account_guid = rowText(v[32]);
        m.error = rowInt(v[28]);
        date = rowInt(v[2]);
        m.date = saturatedInt(date);
        m.date_read = rowInt(v[30]);
        m.date_delivered = rowInt(v[31]);
        m.is_from_me = m.date_delivered > 0 ? 1 : 0;
        m.handle = m_countries.normalized(m.country, rowText(v[18]));
        const QString room = rowText(v[22]);
        m.chat_identifier = room.isEmpty() ? m.handle : room;
    }
    return date > 0 && date <= m_latest;
}

void storeIfNew(MessageRecycleDb &recycle, const _MsgRecycledMessage &m, qint64 srcRowid)
{
    if (recycle.messageRowid(m) == 0)
        recycle.insertMessage(m, m.chat_identifier, m.handle, srcRowid);
}

} // namespace

QList<_SqliteCol> ios5MessageColumns(int count)
{
    static const char *const names[][2] = {
        {"ROWID", "INTEGER"},
        {"address", "TEXT"},
        {"date", "INTEGER"},
        {"text", "TEXT"},
        {"flags", "INTEGER"},
        {"replace", "INTEGER"},
        {"svc_center", "TEXT"},
        {"group_id", "INTEGER"},
        {"association_id", "INTEGER"},
        {"height", "INTEGER"},
        {"UIFlags", "INTEGER"},
        {"version", "INTEGER"},
        {"subject", "TEXT"},
        {"country", "TEXT"},
        {"headers", "BLOB"},
        {"recipients", "BLOB"},
        {"read", "INTEGER"},
        {"madrid_attributedBody", "BLOB"},
        {"madrid_handle", "TEXT"},
        {"madrid_version", "INTEGER"},
        {"madrid_guid", "TEXT"},
        {"madrid_type", "INTEGER"},
        {"madrid_roomname", "TEXT"},
        {"madrid_service", "TEXT"},
        {"madrid_account", "TEXT"},
        {"madrid_flags", "INTEGER"},
        {"madrid_attachmentInfo", "BLOB"},
        {"madrid_url", "TEXT"},
        {"madrid_error", "INTEGER"},
        {"is_madrid", "INTEGER"},
        {"madrid_date_read", "INTEGER"},
        {"madrid_date_delivered", "INTEGER"},
        {"madrid_account_guid", "TEXT"},
    };
    if (count != 17 && count != 32 && count != 33)
        throw std::invalid_argument("no iOS 5 message layout of that many columns");
    QList<_SqliteCol> cols;
    cols.reserve(count);
    for (int i = 0; i < count; ++i)
        cols.append(_SqliteCol(QString::fromLatin1(names[i][0]), QString::fromLatin1(names[i][1]), false, false,
                               i == 0));
    return cols;
}

bool isRawIOS5MessageRow(const Sqlite3File::_Row &row)
{
    const QList<QVariant> &v = row.values;
    if (v.size() < 17 || !readAndFlagsFit(v))
        return false;
    if (v.size() <= 32)
        return true;
    const int madrid = rowInt(v[29]);
    return madrid == 0 || madrid == 1;
}

bool rawRowToIOS5Message(IOS5MessageDb &db, const Sqlite3File::_Row &row, _MsgRecycledMessage &message)
{
    MessageConverter converter(db);
    return converter.convert(row, message);
}

void readRawMessages(IOS5MessageDb &db, QObject *form)
{
    Sqlite3File file(db.dbFilePath());
    db.ensureOpen();
    QString ignored;
    db.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE);"), ignored);
    file.open();

    MessageRecycleDb &recycle = *db.recycleDb();
    recycle.beginTransaction();
    try {
        MessageConverter converter(db);
        QList<quint32> pages;
        freelistPass(file, form, pages, [&](const Sqlite3File::_Page &, const Sqlite3File::_Cell &cell) {
            _MsgRecycledMessage m;
            if (converter.convert(file.rowData(cell), m))
                storeIfNew(recycle, m, cell.rowid);
        });

        if (appendTableLeaves(db, file, QStringLiteral("message"), pages)) {
            const QList<QList<_SqliteCol>> layouts = {ios5MessageColumns(33), ios5MessageColumns(32),
                                                      ios5MessageColumns(17)};
            pages = withoutRepeats(pages);
            const int total = static_cast<int>(pages.size());
            for (int i = 0; i < total; ++i) {
                if (scanCancelled(form))
                    break;
                postScanProgress(form, i + 1, total);
                const Sqlite3File::_Page page = file.readPage(pages[i]);
                QList<_MsgRecycledMessage> found;
                for (const QList<_SqliteCol> &layout : layouts) {
                    if (scanCancelled(form))
                        break;
                    const QList<Row> rows = page.isTreePage()
                        ? file.scanPageFreeSpace(layout, 0, page, &isRawIOS5MessageRow)
                        : file.scanFreePage(layout, 0, pages[i], 0, &isRawIOS5MessageRow);
                    bool allMessages = !rows.isEmpty();
                    for (const Row &row : rows) {
                        _MsgRecycledMessage m;
                        if (converter.convert(row, m))
                            found.append(m);
                        else
                            allMessages = false;
                    }
                    // A layout that explains every row it carved is the page's.
                    if (allMessages)
                        break;
                }
                for (const _MsgRecycledMessage &m : found) {
                    if (scanCancelled(form))
                        break;
                    storeIfNew(recycle, m, m.rowid);
                }
            }
        }
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
