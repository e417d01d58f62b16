#include "IOS5DeletedMessageScan.h"

#include <QDir>
#include <QHash>
#include <QSet>

#include <memory>
#include <stdexcept>
#include <vector>

#include "Clock.h"
#include "CountryCache.h"
#include "DeletedMmsParts.h"
#include "DeletedRecordPasses.h"
#include "IOS5MessageDefaults.h"
#include "IOS5MessageDb.h"
#include "IOS5MmsParts.h"
#include "LiveCopy.h"
#include "MessageIdentity.h"
#include "PlistNode.h"
#include "RecycledIdentities.h"
#include "RowValues.h"
#include "Sqlite3DB.h"
#include "TableSchema.h"

namespace
{

using Row = Sqlite3File::_Row;

const char *const kBaseColumns[] = {"address", "date",    "text",    "flags",   "replace", "svc_center",
                                    "UIFlags", "version", "subject", "country", "read"};

// Where each column the conversion reads stands in a layout.
struct ColumnMap
{
    int address = -1, date = -1, text = -1, flags = -1, replace = -1, svcCenter = -1, uiFlags = -1, version = -1,
        subject = -1, country = -1, read = -1;
    int handle = -1, guid = -1, room = -1, service = -1, account = -1, accountGuid = -1, error = -1, isMadrid = -1,
        dateRead = -1, dateDelivered = -1, recipients = -1;
    // The madrid columns an SMS row leaves NULL, and those it holds 0 or
    // NULL in (a phone writes 0 into its madrid numbers).
    std::vector<int> smsNull;
    std::vector<int> smsZeroOrNull;
    // The base columns all stand in the layout; a row must reach the last.
    bool valid = false;
    int needed = 0;

    static ColumnMap of(const QList<_SqliteCol> &cols)
    {
        ColumnMap m;
        const auto at = [&](const char *name) { return columnIndex(cols, QLatin1String(name)); };
        int *base[] = {&m.address, &m.date,    &m.text,    &m.flags,   &m.replace, &m.svcCenter,
                       &m.uiFlags, &m.version, &m.subject, &m.country, &m.read};
        m.valid = true;
        for (size_t i = 0; i < sizeof(base) / sizeof(base[0]); ++i) {
            *base[i] = at(kBaseColumns[i]);
            m.valid = m.valid && *base[i] > 0;
            m.needed = std::max(m.needed, *base[i] + 1);
        }
        m.handle = at("madrid_handle");
        m.guid = at("madrid_guid");
        m.room = at("madrid_roomname");
        m.service = at("madrid_service");
        m.account = at("madrid_account");
        m.accountGuid = at("madrid_account_guid");
        m.error = at("madrid_error");
        m.isMadrid = at("is_madrid");
        m.dateRead = at("madrid_date_read");
        m.dateDelivered = at("madrid_date_delivered");
        m.recipients = at("recipients");
        for (int i = 0; i < cols.size(); ++i) {
            if (!cols[i].name.startsWith(QLatin1String("madrid_"), Qt::CaseInsensitive) || i == m.accountGuid)
                continue;
            if (cols[i].isInteger())
                m.smsZeroOrNull.push_back(i);
            else
                m.smsNull.push_back(i);
        }
        return m;
    }
};

// Value i of a row; NULL for a column the row does not reach.
const QVariant &value(const QList<QVariant> &v, int i)
{
    static const QVariant null;
    return i >= 0 && i < v.size() ? v[i] : null;
}

bool isNumber(const QVariant &v)
{
    const int type = v.metaType().id();
    return type == QMetaType::Int || type == QMetaType::LongLong || type == QMetaType::Double;
}

// A phone writes 1 into flags while it sends a message and 3 once it is
// sent, 0 for a received message not yet read and 2 once read: the low bit
// is the direction.
int smsIsFromMe(qint64 flags)
{
    return (flags & 1) != 0 ? 1 : 0;
}

// Where a phone keeps the recipients of an MMS it writes with no address: an
// array of their numbers, as a property list. The bytes come from the row,
// which may be another row's damaged bytes: only the first entry is read,
// and only when it is a text.
QString firstRecipient(const QVariant &recipients)
{
    // A phone's list of a few numbers takes some hundred bytes.
    constexpr qsizetype kMostBytes = 64 * 1024;
    const QByteArray bytes = rowBytes(recipients);
    if (bytes.isEmpty() || bytes.size() > kMostBytes)
        return QString();
    const PlistNode list = PlistNode::fromData(bytes);
    if (!list.isArray() || list.arraySize() < 1)
        return QString();
    const PlistNode first = list.arrayItem(0);
    return first.isString() ? first.toString().trimmed() : QString();
}

bool readAndFlagsFit(int read, int uiFlags)
{
    return (read == 0 || read == 1) && (uiFlags == 0 || uiFlags == 4 || uiFlags == 5 || uiFlags == 6);
}

// A message as the recycle database and the live table tell messages apart.
QString identityOf(qint64 date, int isFromMe, const QString &text)
{
    return QString::number(date) + QLatin1Char('|') + QString::number(isFromMe) + QLatin1Char('|') + text;
}

// Turns rows into messages, with the countries of one scan.
class MessageConverter
{
public:
    explicit MessageConverter(IOS5MessageDb &db)
        : m_countries(db.countryLib())
        , m_latest(Clock::currentSecsSinceEpoch() - kAppleEpochOffset)
    {
    }

    // An SMS row gets its fresh guid only with withGuid: making one costs
    // more than the rest of the conversion, and most rows are not stored.
    // mms, when given, is set when the row is an MMS whose text stands in
    // its parts.
    bool convert(const Row &row, const ColumnMap &map, _MsgRecycledMessage &m, bool withGuid = true,
                 bool *mms = nullptr);

private:
    CountryCache m_countries;
    qint64 m_latest;
};

bool MessageConverter::convert(const Row &row, const ColumnMap &map, _MsgRecycledMessage &m, bool withGuid,
                               bool *mms)
{
    if (mms)
        *mms = false;
    const QList<QVariant> &v = row.values;
    if (!map.valid || v.size() < map.needed)
        return false;
    m.rowid = row.rowid;
    IOS5MessageDefaults::apply(m);
    m.replace = rowInt(v[map.replace]);
    if (!readAndFlagsFit(rowInt(v[map.read]), rowInt(v[map.uiFlags])))
        return false;
    m.text = rowText(v[map.text]);
    m.service_center = rowText(v[map.svcCenter]);
    m.subject = rowText(v[map.subject]);
    m.country = rowText(v[map.country]);
    if (!m_countries.countryOf(m.country))
        return false;

    m.version = rowInt(v[map.version]);

    // Every layout with madrid columns says in is_madrid which kind of row
    // it is; a row without them (older than iMessage) is an SMS.
    bool iMessage = false;
    if (map.isMadrid >= 0 && map.isMadrid < v.size()) {
        const int madrid = rowInt(v[map.isMadrid]);
        if (madrid != 0 && madrid != 1)
            return false;
        if (madrid == 0) {
            // An SMS has no iMessage guid, handle, service or body: such
            // bytes are another row's. Its madrid numbers are 0 or NULL.
            for (const int i : map.smsNull) {
                if (value(v, i).isValid())
                    return false;
            }
            for (const int i : map.smsZeroOrNull) {
                const QVariant &n = value(v, i);
                if (n.isValid() && (!isNumber(n) || rowInt64(n) != 0))
                    return false;
            }
        } else {
            if (rowText(value(v, map.service)) != QLatin1String("Madrid"))
                return false;
            iMessage = true;
        }
    }

    qint64 date = 0;
    if (!iMessage) {
        if (withGuid)
            m.guid = newGuid();
        // SMS rows count from 1970, the records from 2001.
        date = rowInt64(v[map.date]) - kAppleEpochOffset;
        IOS5MessageDefaults::applySms(m, saturatedInt(date));
        m.is_from_me = smsIsFromMe(rowInt(v[map.flags]));
        QString address = rowText(v[map.address]);
        // A phone writes an MMS with neither address nor text: the
        // recipients list holds the other party, the parts hold the text.
        if (address.isEmpty() && !v[map.address].isValid() && !v[map.text].isValid()) {
            address = firstRecipient(value(v, map.recipients));
            if (mms && !address.isEmpty())
                *mms = true;
        }
        if (address.isEmpty())
            return false;
        m.chat_identifier = m_countries.normalized(m.country, address);
        m.handle = m.chat_identifier;
    } else {
        m.guid = rowText(value(v, map.guid));
        m.service = QStringLiteral("iMessage");
        m.account = rowText(value(v, map.account));
        m.account_guid = rowText(value(v, map.accountGuid));
        m.error = rowInt(value(v, map.error));
        date = rowInt64(v[map.date]);
        m.date = saturatedInt(date);
        m.date_read = rowInt(value(v, map.dateRead));
        m.date_delivered = rowInt(value(v, map.dateDelivered));
        m.is_from_me = m.date_delivered > 0 ? 1 : 0;
        m.handle = m_countries.normalized(m.country, rowText(value(v, map.handle)));
        const QString room = rowText(value(v, map.room));
        m.chat_identifier = room.isEmpty() ? m.handle : room;
    }
    return date > 0 && date <= m_latest;
}

QString quoted(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

// What tells a found row for a copy of a live message: the date,
// direction and text of every live message, the guid of every live
// iMessage, and, where the table's rowids are never used again
// (AUTOINCREMENT), every live rowid. A live MMS is told by the text of its
// parts, as a found image of it gets it.
struct LiveMessages
{
    MessageTriples triples;
    QSet<QString> guids;
    QSet<qint64> rowids;
    // Every live rowid: the live parts of a message belong to the live row
    // of that rowid when there is one.
    QSet<qint64> allRowids;

    bool contains(const _MsgRecycledMessage &m) const
    {
        if (m.rowid > 0 && rowids.contains(m.rowid))
            return true;
        if (m.service == QLatin1String("iMessage") && guids.contains(m.guid))
            return true;
        return triples.contains(m.date, m.is_from_me, m.text);
    }
};

LiveMessages liveMessages(Sqlite3DB &db, const QList<_SqliteCol> &cols, const ColumnMap &map, bool rowidsUnique,
                          const IOS5MmsParts::ByMessage &liveParts)
{
    LiveMessages live;
    if (!map.valid)
        return live;
    const bool madrid = map.isMadrid >= 0 && map.dateDelivered >= 0;
    const bool guid = madrid && map.guid >= 0;
    QString sql = QStringLiteral("select ROWID as r, %1 as d, %2 as f, %3 as t")
                      .arg(quoted(cols[map.date].name), quoted(cols[map.flags].name), quoted(cols[map.text].name));
    if (madrid)
        sql += QStringLiteral(", %1 as m, %2 as dd")
                   .arg(quoted(cols[map.isMadrid].name), quoted(cols[map.dateDelivered].name));
    if (guid)
        sql += QStringLiteral(", %1 as g").arg(quoted(cols[map.guid].name));
    sql += QStringLiteral(" from message");
    // Read by place (the order of the select above): finding a column by its
    // name for every value of every live row cost a tenth of the scan.
    const int r = 0, d = 1, f = 2, t = 3, mk = 4, dd = 5, g = 6;
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(sql));
    while (c.moveNext()) {
        const bool iMessage = madrid && c.getInt64(mk) == 1;
        const qint64 date = iMessage ? c.getInt64(d) : c.getInt64(d) - kAppleEpochOffset;
        const int fromMe = iMessage ? (saturatedInt(c.getInt64(dd)) > 0 ? 1 : 0) : smsIsFromMe(c.getInt64(f));
        const qint64 rowid = c.getInt64(r);
        const QString text = c.getText(t);
        live.triples.add(saturatedInt(date), fromMe, text);
        if (!iMessage && text.isEmpty() && !liveParts.isEmpty()) {
            const QString partsText = IOS5MmsParts::textOf(liveParts.value(rowid));
            if (!partsText.isEmpty())
                live.triples.add(saturatedInt(date), fromMe, partsText);
        }
        if (iMessage && guid)
            live.guids.insert(c.getText(g));
        if (rowidsUnique)
            live.rowids.insert(rowid);
        live.allRowids.insert(rowid);
    }
    return live;
}

// The best image found of each message, in the order first found: a whole
// cell over a carved row, a carved row with its rowid over one without, and
// of two alike the newer (a sent message that was on its way in an older
// image is sent in a newer one).
class FoundMessages
{
public:
    void offer(const _MsgRecycledMessage &m, bool wholeCell, int age)
    {
        const bool byGuid = m.service == QLatin1String("iMessage") && !m.guid.isEmpty();
        const QString key = byGuid ? QStringLiteral("g") + m.guid : identityOf(m.date, m.is_from_me, m.text);
        const int rank = (wholeCell ? 2 : 0) + (m.rowid > 0 ? 1 : 0);
        const auto it = m_index.constFind(key);
        if (it == m_index.constEnd()) {
            m_index.insert(key, static_cast<int>(m_found.size()));
            m_found.push_back({m, rank, age});
            return;
        }
        Found &kept = m_found[static_cast<size_t>(*it)];
        if (rank > kept.rank || (rank == kept.rank && age > kept.age))
            kept = {m, rank, age};
    }

    // Hands each to store in the order first found, asking the form before
    // each (when given).
    template <class Store>
    void storeAll(QObject *form, Store store)
    {
        for (Found &f : m_found) {
            if (scanCancelled(form))
                break;
            store(f.message);
        }
    }

private:
    struct Found
    {
        _MsgRecycledMessage message;
        int rank = 0;
        int age = 0;
    };
    QHash<QString, int> m_index;
    std::vector<Found> m_found;
};

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

QList<QList<_SqliteCol>> ios5CarvingLists(const QString &createTable)
{
    const QList<_SqliteCol> own = carvingColumns(declaredColumns(createTable), false);
    if (own.isEmpty() || !ColumnMap::of(own).valid)
        return {ios5MessageColumns(33), ios5MessageColumns(32), ios5MessageColumns(17)};
    QList<QList<_SqliteCol>> lists{own};
    // A column added to an existing table is missing from the rows written
    // before: the account guid that an upgrade to 5.1 appends, and the
    // madrid columns that follow the 17 columns of the releases before.
    if (own.size() > 17 && own.last().name.compare(QLatin1String("madrid_account_guid"), Qt::CaseInsensitive) == 0)
        lists.append(own.mid(0, own.size() - 1));
    const QList<_SqliteCol> base = ios5MessageColumns(17);
    bool baseFirst = own.size() > 17;
    for (int i = 0; baseFirst && i < 17; ++i)
        baseFirst = own[i].name.compare(base[i].name, Qt::CaseInsensitive) == 0;
    if (baseFirst && own[17].name.startsWith(QLatin1String("madrid_"), Qt::CaseInsensitive))
        lists.append(own.mid(0, 17));
    return lists;
}

bool isRawIOS5MessageRow(const Sqlite3File::_Row &row)
{
    const QList<QVariant> &v = row.values;
    if (v.size() < 17 || !readAndFlagsFit(rowInt(v[16]), rowInt(v[10])))
        return false;
    if (v.size() <= 29)
        return true;
    const int madrid = rowInt(v[29]);
    return madrid == 0 || madrid == 1;
}

bool rawRowToIOS5Message(IOS5MessageDb &db, const Sqlite3File::_Row &row, _MsgRecycledMessage &message,
                         const QList<_SqliteCol> &columns)
{
    MessageConverter converter(db);
    return converter.convert(row, ColumnMap::of(columns.isEmpty() ? ios5MessageColumns(33) : columns), message);
}

void readRawMessages(IOS5MessageDb &db, QObject *form)
{
    Sqlite3File file(db.dbFilePath());
    const std::unique_ptr<LiveCopy> copy = openForScan(db.dbFilePath(), file);
    Sqlite3DB &liveDb = copy->db();

    const SchemaEntry table = schemaEntry(liveDb, QStringLiteral("message"));
    const QList<QList<_SqliteCol>> lists = ios5CarvingLists(table.sql);
    const ColumnMap map = ColumnMap::of(lists.first());
    const bool rowidsUnique = table.sql.contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
    // The parts of MMS messages, live ones read as the live reader reads
    // them.
    const SchemaEntry piecesTable = schemaEntry(liveDb, QStringLiteral("msg_pieces"));
    DeletedMmsParts foundParts(piecesTable.sql);
    IOS5MmsParts partsReader{QDir()};
    partsReader.readColumns(liveDb, piecesTable.rootPage > 0);
    const IOS5MmsParts::ByMessage liveParts = partsReader.read(liveDb, 0);
    const LiveMessages live =
        table.rootPage > 0 ? liveMessages(liveDb, lists.first(), map, rowidsUnique, liveParts) : LiveMessages();

    MessageRecycleDb &recycle = *db.recycleDb();
    inScanTransaction(recycle, [&] {
        MessageConverter converter(db);
        RecycledIdentities known;
        known.load(recycle);
        FoundMessages found;
        const auto storeOne = [&](_MsgRecycledMessage &m) {
            if (known.contains(m))
                return;
            if (m.guid.isEmpty())
                m.guid = newGuid();
            recycle.insertMessage(m, m.chat_identifier, m.handle, m.rowid);
            known.add(m);
        };
        // MMS found wait for their parts, which give their text and with it
        // what tells them from live messages and from one another.
        struct FoundMms
        {
            _MsgRecycledMessage message;
            bool wholeCell = false;
            int age = 0;
        };
        std::vector<FoundMms> mmsFound;
        const auto takeMessage = [&](const _MsgRecycledMessage &m, bool mms, bool wholeCell, int age) {
            if (mms)
                mmsFound.push_back({m, wholeCell, age});
            else if (!live.contains(m))
                found.offer(m, wholeCell, age);
        };
        const auto takeCell = [&](const Sqlite3File::_Cell &cell, int age) {
            _MsgRecycledMessage m;
            bool mms = false;
            if (converter.convert(file.rowData(cell), map, m, false, &mms))
                takeMessage(m, mms, true, age);
        };
        QList<quint32> pages;
        freelistPass(file, form, pages, [&](const Sqlite3File::_Page &, const Sqlite3File::_Cell &cell) {
            takeCell(cell, kCurrentAge);
            if (foundParts.usable())
                foundParts.offer(file.rowData(cell), true, kCurrentAge);
        });
        // Whole cells of the database as it stands are the best images there
        // are: stored before the carving, so that a cancel keeps them.
        found.storeAll(nullptr, storeOne);
        if (table.rootPage > 0) {
            appendTreePages(file, table.rootPage, pages);
            QSet<const _MsgRecycledMessage *> mmsCarved;
            const auto carveMessages = [&](const Sqlite3File::_Page &page, int age) {
                carveRecords<_MsgRecycledMessage>(
                    file, page, lists,
                    [&](const Row &row, _MsgRecycledMessage &m) {
                        bool mms = false;
                        if (!converter.convert(row, map, m, false, &mms))
                            return false;
                        if (mms)
                            mmsCarved.insert(&m);
                        return true;
                    },
                    [&](const std::unique_ptr<_MsgRecycledMessage> &m) {
                        takeMessage(*m, mmsCarved.contains(m.get()), false, age);
                    });
                mmsCarved.clear();
            };
            const bool done = carvingPass(file, form, pages, lists, takeCell, carveMessages);
            // The parts of deleted MMS stand in the pages of msg_pieces and
            // in whatever else the pages of the message table were before.
            if (done && !mmsFound.empty() && foundParts.usable()) {
                QList<quint32> partPages = pages;
                if (piecesTable.rootPage > 0)
                    appendTreePages(file, piecesTable.rootPage, partPages);
                const QList<QList<_SqliteCol>> partLists{foundParts.columns()};
                carvingPass(
                    file, form, partPages, partLists,
                    [&](const Sqlite3File::_Cell &cell, int age) { foundParts.offer(file.rowData(cell), true, age); },
                    [&](const Sqlite3File::_Page &page, int age) {
                        for (const CarvedRow &c : carveBest(file, page, partLists, [&](const Row &row, int) {
                                 IOS5MmsParts::Part part;
                                 qint64 messageId = 0;
                                 return foundParts.partOf(row, part, messageId) ? 0 : -1;
                             }))
                            foundParts.offer(c.row, false, age);
                    },
                    false);
            }
        }
        // An image without its rowid cannot be given its parts: where an
        // image with one was found of the same MMS (its date, direction and
        // other party), that one stands for it.
        const auto mmsKey = [](const _MsgRecycledMessage &m) {
            return identityOf(m.date, m.is_from_me, m.chat_identifier);
        };
        QSet<QString> withRowid;
        for (const FoundMms &f : mmsFound) {
            if (f.message.rowid > 0)
                withRowid.insert(mmsKey(f.message));
        }
        for (FoundMms &f : mmsFound) {
            _MsgRecycledMessage &m = f.message;
            if (m.rowid <= 0 && withRowid.contains(mmsKey(m)))
                continue;
            // The live parts of a rowid are those of the live message that
            // has it, where one does.
            const qint64 id = m.rowid;
            const QList<IOS5MmsParts::Part> ownLive =
                live.allRowids.contains(id) ? QList<IOS5MmsParts::Part>() : liveParts.value(id);
            const QList<IOS5MmsParts::Part> parts = id > 0 ? foundParts.partsOf(id, ownLive) : ownLive;
            const QString text = IOS5MmsParts::textOf(parts);
            if (!text.isEmpty())
                m.text = text;
            if (!live.contains(m))
                found.offer(m, f.wholeCell, f.age);
        }
        // A cancel stops the storing; what is stored by then is committed.
        found.storeAll(form, storeOne);
    });
}
