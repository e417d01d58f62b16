#include "IOS5MessageDb.h"

#include <sqlite3.h>

#include <QCoreApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>
#include <QtDebug>

#include <algorithm>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "CursorAhead.h"
#include "IOS5MessageRows.h"
#include "MessageIdentity.h"
#include "PlistNode.h"
#include "SafePath.h"

namespace
{

// No device makes conversations this large; a participants list beyond it
// is damaged and would otherwise fill the set with handles.
constexpr int kMaxParticipants = 10000;

const char kSmsPath[] = "var/mobile/Library/SMS/sms.db";

// Tables every reading needs; madrid_chat (iMessage) is optional, older
// releases have none.
const char *const kRequiredTables[] = {"msg_group", "group_member", "message"};

// An integer column as the int field of a record; values a file should not
// hold saturate instead of wrapping into unrelated numbers.
int intAt(const Sqlite3Cursor &c, const QString &column)
{
    return IOS5MessageRows::saturated(c.getInt64(column));
}

void readFunction(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    sqlite3_result_int(context, argc == 1 ? IOS5MessageDb::sqlReadFunc(argv[0]) : 0);
}

QString trText(const char *source)
{
    return QCoreApplication::translate("IOS5MessageDb", source);
}

} // namespace

IOS5MessageDb::IOS5MessageDb(const QDir &folder, const QString &country)
    : m_root(folder.absoluteFilePath(QStringLiteral("file-relay")))
    , m_contacts(folder, country)
    , m_recycle(folder.absoluteFilePath(QStringLiteral("recycle.db")))
    , m_countries(country)
{
    m_dbPath = m_root.absoluteFilePath(QString::fromLatin1(kSmsPath));
}

IOS5MessageDb::~IOS5MessageDb() = default;

int IOS5MessageDb::sqlReadFunc(sqlite3_value *value)
{
    return value && sqlite3_value_int64(value) != 0 ? 1 : 0;
}

void IOS5MessageDb::ensureOpen()
{
    if (handle())
        return;
    try {
        openThrow(m_dbPath, ReadWrite);
        registerFunctions();
        readTableMap();
    } catch (...) {
        // A connection without its table map would read nothing sensible;
        // closed, the next call opens afresh.
        closeAfterFailure();
        throw;
    }
}

void IOS5MessageDb::closeAfterFailure()
{
    close();
    m_tableSql.clear();
    m_madrid = false;
    m_messageColumns.clear();
    m_mms.clearColumns();
}

void IOS5MessageDb::registerFunctions()
{
    // The device's triggers call it; SQLITE_ANY is 5.
    const int rc = sqlite3_create_function_v2(handle(), "read", 1, SQLITE_ANY, nullptr, readFunction, nullptr,
                                              nullptr, nullptr);
    if (rc != SQLITE_OK)
        throw std::runtime_error(
            QStringLiteral("can not register read: %1").arg(QString::fromUtf8(sqlite3_errstr(rc))).toStdString());
}

void IOS5MessageDb::readTableMap()
{
    m_tableSql.clear();
    {
        Sqlite3Cursor c = queryThrow(Sqlite3Sql("select * from sqlite_master where type='table'"));
        while (c.moveNext())
            m_tableSql.insert(c.getText(QStringLiteral("name")), c.getText(QStringLiteral("sql")));
    }
    // Anything without an iOS 6 layout is sent here, also files that hold no
    // messages at all: say so instead of failing later on a missing table.
    for (const char *table : kRequiredTables) {
        if (!m_tableSql.contains(QLatin1String(table)))
            throw std::runtime_error(trText("%1 is not a message database: it has no table %2.")
                                         .arg(m_dbPath, QLatin1String(table))
                                         .toStdString());
    }

    QSet<QString> present;
    const auto info = tbInfo(QStringLiteral("message"));
    for (auto it = info.cbegin(); it != info.cend(); ++it)
        present.insert(it.key().toLower());
    m_messageColumns = IOS5MessageRows::selectSql(present);
    m_madrid = m_tableSql.contains(QStringLiteral("madrid_chat")) && present.contains(QStringLiteral("madrid_roomname"))
               && present.contains(QStringLiteral("madrid_handle"));
    m_mms.readColumns(*this, m_tableSql.contains(QStringLiteral("msg_pieces")));
}

void IOS5MessageDb::fillContact(_MsgHandle *handle)
{
    // Asking a closed contacts database would try to build it again for
    // every handle.
    if (!m_contacts.isOpen())
        return;
    try {
        const IOSContactsMemDb::_Person person = m_contacts.findPerson(handle->id);
        handle->_ct_name = IOSContactsMemDb::personName(person);
        handle->_photo = person.photo;
    } catch (const std::exception &e) {
        qWarning().noquote()
            << QStringLiteral("IOS5MessageDb::chats, IOSContactsMemDb error. %1").arg(QString::fromUtf8(e.what()));
    }
}

void IOS5MessageDb::chats(MsgDataSet &set)
{
    ensureOpen();
    MsgDataSet::Data *d = set.data();
    if (!d)
        throw std::runtime_error("IOS5MessageDb::chats: no message set");
    // Conversations load without contact names when the contacts cannot be
    // had. Every load of a conversation comes here, and a failing rebuild
    // copies the whole address book first, so it is tried once.
    if (!m_contactsFailed) {
        try {
            m_contacts.ensureOpen();
        } catch (const std::exception &) {
            m_contactsFailed = true;
        }
    }
    smsChats(*d);
    smsMembers(*d);
    if (m_madrid)
        iMessageChats(*d);
}

void IOS5MessageDb::smsChats(MsgDataSet::Data &d)
{
    Sqlite3Cursor c = queryThrow(Sqlite3Sql("select g.rowid as rowid, g.hash as hash, m.rowid as newest,"
                                            " m.date as last_date from msg_group as g"
                                            " left join message as m on g.newest_message=m.rowid order by g.rowid"));
    while (c.moveNext()) {
        const qint64 id = c.getInt64(QStringLiteral("rowid"));
        // Ids <= 0 select all messages or an iMessage conversation.
        if (id <= 0 || d.chats.contains(id))
            continue;
        qint64 last = c.getInt64(QStringLiteral("last_date"));
        if (c.isNull(QStringLiteral("newest"))) {
            // A newest_message that names no row would hide the messages the
            // conversation still has; its newest one stands in. A group
            // without messages is not listed.
            Sqlite3Cursor n = queryThrow(
                Sqlite3Sql("select max(date) as last_date, count(*) as n from message where group_id=?").addInt64Param(id));
            if (!n.moveNext() || n.getInt64(QStringLiteral("n")) == 0)
                continue;
            last = n.getInt64(QStringLiteral("last_date"));
        }
        auto *chat = new _MsgChat;
        chat->rowid = id;
        chat->_last = IOS5MessageRows::smsDate(last);
        chat->style = 45;
        chat->state = 3;
        chat->guid = QStringLiteral("SMS;-;") + QString::number(c.getInt(QStringLiteral("hash")));
        chat->chat_identifier = QStringLiteral("unknown");
        chat->service_name = QStringLiteral("SMS");
        chat->account_login = QStringLiteral("E:");
        d.chats.insert(id, chat);
    }
}

void IOS5MessageDb::smsMembers(MsgDataSet::Data &d)
{
    // In rowid order: the first member names the conversation.
    Sqlite3Cursor c = queryThrow(Sqlite3Sql("select m.rowid as rowid, m.group_id as group_id, m.address as address,"
                                            " m.country as country from group_member as m order by m.rowid"));
    while (c.moveNext()) {
        const qint64 gid = c.getInt64(QStringLiteral("group_id"));
        if (gid <= 0)
            continue;
        _MsgChat *chat = d.chats.value(gid);
        if (!chat)
            continue;
        const qint64 hid = c.getInt64(QStringLiteral("rowid"));
        _MsgHandle *handle = d.handles.value(hid);
        if (!handle) {
            auto made = std::make_unique<_MsgHandle>();
            made->rowid = hid;
            made->country = c.getText(QStringLiteral("country"));
            made->service = QStringLiteral("SMS");
            made->id = m_countryCache.normalized(made->country, c.getText(QStringLiteral("address")));
            fillContact(made.get());
            handle = made.release();
            d.handles.insert(hid, handle);
        }
        if (chat->handles.contains(handle->id))
            continue;
        switch (chat->handles.size()) {
        case 0:
            chat->chat_identifier = handle->id;
            chat->guid = QStringLiteral("SMS;-;") + handle->id;
            chat->style = 45;
            break;
        case 1:
            chat->chat_identifier = makeChatIdentifier(chat->guid);
            chat->guid = QStringLiteral("SMS;+;") + chat->chat_identifier;
            chat->room_name = chat->chat_identifier;
            chat->style = 43;
            chat->account_id = guidFromData(chat->guid.toUtf8());
            break;
        default:
            break;
        }
        chat->handles.insert(handle->id, handle);
    }
}

void IOS5MessageDb::iMessageChats(MsgDataSet::Data &d)
{
    QHash<QString, _MsgChat *> byIdentifier;
    {
        Sqlite3Cursor c = queryThrow(Sqlite3Sql(
            "select c.rowid as rowid, c.participants as participants, c.chat_identifier as chat_identifier,"
            " c.style as style, c.state as state, c.account_id as account_id, c.account_login as account_login"
            " from madrid_chat as c order by c.rowid"));
        while (c.moveNext()) {
            const qint64 rowid = c.getInt64(QStringLiteral("rowid"));
            // Only a positive rowid negates into an iMessage conversation's id.
            if (rowid <= 0 || d.chats.contains(-rowid))
                continue;
            const qint64 id = -rowid;

            QStringList participants;
            const PlistNode list = PlistNode::fromData(c.getBlob(QStringLiteral("participants")));
            const int count = list.arraySize();
            for (int i = 0; i < count; ++i) {
                const PlistNode item = list.arrayItem(i);
                // Anything but an address would make a handle without one.
                if (!item.isString())
                    continue;
                const QString participant = m_countryCache.normalized(QString(), item.toString());
                if (participant.isEmpty())
                    continue;
                if (participants.size() == kMaxParticipants) {
                    qWarning().noquote() << QStringLiteral("IOS5MessageDb::chats, madrid_chat %1 lists more than %2 "
                                                           "participants; the rest are left out.")
                                                .arg(rowid)
                                                .arg(kMaxParticipants);
                    break;
                }
                participants.append(participant);
            }

            auto *chat = new _MsgChat;
            chat->rowid = id;
            d.chats.insert(id, chat);
            chat->chat_identifier =
                m_countryCache.normalized(QString(), c.getText(QStringLiteral("chat_identifier")));
            chat->guid = (participants.size() < 2 ? QStringLiteral("iMessage;-;") : QStringLiteral("iMessage;+;"))
                         + chat->chat_identifier;
            chat->style = intAt(c, QStringLiteral("style"));
            chat->state = intAt(c, QStringLiteral("state"));
            chat->account_id = c.getText(QStringLiteral("account_id"));
            chat->service_name = QStringLiteral("iMessage");
            chat->account_login = c.getText(QStringLiteral("account_login"));
            byIdentifier.insert(chat->chat_identifier, chat);

            // Each conversation gets handles of its own, under keys below
            // every SMS handle.
            for (const QString &participant : std::as_const(participants)) {
                qint64 key = -(qint64(d.handles.size()) + 1);
                while (d.handles.contains(key))
                    --key;
                auto *handle = new _MsgHandle;
                handle->rowid = key;
                handle->service = QStringLiteral("iMessage");
                handle->id = participant;
                d.handles.insert(key, handle);
                fillContact(handle);
                chat->handles.insert(handle->id, handle);
            }
        }
    }
    if (byIdentifier.isEmpty())
        return;

    // The newest message naming each conversation, by room and by handle.
    // Both sides are compared in normalised form, as the conversations'
    // identifiers are stored so.
    QHash<_MsgChat *, int> last;
    static const char *const lastDateQueries[] = {
        "select madrid_roomname,max(date) as last_date from message group by madrid_roomname"
        " having madrid_roomname is not null and madrid_roomname <> ''",
        "select madrid_handle,max(date) as last_date from message group by madrid_handle"
        " having madrid_handle is not null and madrid_handle <> ''",
    };
    static const char *const lastDateColumns[] = {"madrid_roomname", "madrid_handle"};
    for (int q = 0; q < 2; ++q) {
        Sqlite3Cursor c = queryThrow(Sqlite3Sql(lastDateQueries[q]));
        while (c.moveNext()) {
            const QString identifier = c.getText(QLatin1String(lastDateColumns[q]));
            _MsgChat *chat = byIdentifier.value(m_countryCache.normalized(QString(), identifier));
            if (!chat)
                continue;
            const int date = intAt(c, QStringLiteral("last_date"));
            auto it = last.find(chat);
            if (it == last.end())
                last.insert(chat, date);
            else
                *it = std::max(*it, date);
        }
    }
    for (auto it = last.cbegin(); it != last.cend(); ++it)
        it.key()->_last = it.value();
}

void IOS5MessageDb::messages(MsgDataSet &set, qint64 chatId)
{
    ensureOpen();
    chats(set);
    MsgDataSet::Data &d = *set.data();

    Sqlite3Sql sql(m_messageColumns);
    if (chatId > 0) {
        sql.appendSql(QStringLiteral(" where m.group_id=?")).addInt64Param(chatId);
    } else if (chatId < 0) {
        // No conversation has an id that is not the negation of a rowid.
        if (!m_madrid || chatId == std::numeric_limits<qint64>::min())
            return;
        sql.appendSql(QStringLiteral(" inner join madrid_chat as c on (m.madrid_roomname=c.chat_identifier"
                                     " or m.madrid_handle=c.chat_identifier) and c.rowid=?"))
            .addInt64Param(-chatId);
    }

    // The parts of the MMS among the rows, read before them.
    const IOS5MmsParts::ByMessage parts = m_mms.read(*this, chatId);
    IOS5MessageRows rows(set, m_countryCache, parts);
    // A failure half way leaves what was read linked, as it was read.
    try {
        // The rows are stepped on a thread of their own, a few batches ahead
        // of the records made from them; until they end, the connection is
        // that thread's.
        CursorAhead c(*this, sql, &IOS5MessageRows::fields);
        while (c.next())
            rows.add(c);
    } catch (...) {
        rows.link();
        throw;
    }
    rows.link();
    // Once the rows are linked: the parts' guids follow from the whole
    // message, its sender included.
    for (const auto &[message, messageParts] : rows.mms())
        m_mms.apply(d, message, *messageParts);
}

qint64 IOS5MessageDb::messageCount()
{
    ensureOpen();
    Sqlite3Cursor c = queryThrow(Sqlite3Sql("select count(*) from message"));
    return c.moveNext() ? c.getInt64(0) : 0;
}

void IOS5MessageDb::recycledMessages(MsgDataSet &set)
{
    ensureOpen();
    if (!set.data())
        throw std::runtime_error("IOS5MessageDb::recycledMessages: no message set");
    MessageRecycleDb::loadInto(set, m_recycle.readMessages());
}
