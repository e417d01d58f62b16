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
#include "IOS5MessageDefaults.h"
#include "MessageIdentity.h"
#include "PlistNode.h"
#include "SafePath.h"
#include "TextPool.h"

namespace
{

// No device makes conversations this large; a participants list beyond it
// is damaged and would otherwise fill the set with handles.
constexpr int kMaxParticipants = 10000;

const char kSmsPath[] = "var/mobile/Library/SMS/sms.db";

// Tables every reading needs; madrid_chat (iMessage) is optional, older
// releases have none.
const char *const kRequiredTables[] = {"msg_group", "group_member", "message"};

// Columns of the message table that are read, in select order.
const char *const kMessageColumns[] = {
    "date", "text", "svc_center", "subject", "country", "flags", "group_id", "address",
    "is_madrid", "madrid_attributedBody", "madrid_guid", "madrid_account", "madrid_account_guid",
    "madrid_error", "madrid_date_read", "madrid_date_delivered", "madrid_roomname", "madrid_handle",
};

int clampToInt(qint64 value)
{
    return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// An integer column as the int field of a record; values a file should not
// hold saturate instead of wrapping into unrelated numbers.
int intAt(const Sqlite3Cursor &c, const QString &column)
{
    return clampToInt(c.getInt64(column));
}

int smsDate(qint64 unixSeconds)
{
    if (unixSeconds < qint64(std::numeric_limits<int>::min()) + kAppleEpochOffset)
        return std::numeric_limits<int>::min();
    return clampToInt(unixSeconds - kAppleEpochOffset);
}

void readFunction(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    sqlite3_result_int(context, argc == 1 ? IOS5MessageDb::sqlReadFunc(argv[0]) : 0);
}

QString trText(const char *source)
{
    return QCoreApplication::translate("IOS5MessageDb", source);
}

// Where a phone keeps the files of MMS parts, relative to the device's file
// system.
const char kPartsPath[] = "var/mobile/Library/SMS/Parts";
// The device folder a part becomes an attachment under, in the iOS 6 manner
// (one folder per attachment, named by its guid, holding the part's name).
const char kAttachmentFolder[] = "~/Library/SMS/Attachments/";

// The media type of a part without its parameters, in lower case.
QString mediaType(const QString &contentType)
{
    const qsizetype semicolon = contentType.indexOf(QLatin1Char(';'));
    return (semicolon < 0 ? contentType : contentType.left(semicolon)).trimmed().toLower();
}

// The name an MMS gave a part, reduced to one plain file name: it comes
// from the message and is used as a path component.
QString partName(const QString &contentLoc)
{
    QString name = contentLoc.mid(std::max(contentLoc.lastIndexOf(QLatin1Char('/')),
                                           contentLoc.lastIndexOf(QLatin1Char('\\'))) + 1);
    static const QString refused = QStringLiteral(":*?\"<>|");
    QString clean;
    clean.reserve(name.size());
    for (const QChar ch : std::as_const(name)) {
        if (!refused.contains(ch) && ch.unicode() >= 0x20)
            clean.append(ch);
    }
    clean = clean.trimmed();
    return isSafePathComponent(clean) ? clean : QString();
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
    m_piecesColumns.clear();
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
    QStringList columns{QStringLiteral("m.rowid as rowid")};
    for (const char *column : kMessageColumns) {
        const QString name = QLatin1String(column);
        columns.append(present.contains(name.toLower()) ? QStringLiteral("m.%1 as %1").arg(name)
                                                        : QStringLiteral("NULL as %1").arg(name));
    }
    m_messageColumns = QStringLiteral("select %1 from message as m").arg(columns.join(QStringLiteral(", ")));
    m_madrid = m_tableSql.contains(QStringLiteral("madrid_chat")) && present.contains(QStringLiteral("madrid_roomname"))
               && present.contains(QStringLiteral("madrid_handle"));
    readPiecesColumns();
}

void IOS5MessageDb::readPiecesColumns()
{
    m_piecesColumns.clear();
    if (!m_tableSql.contains(QStringLiteral("msg_pieces")))
        return;
    QSet<QString> present;
    const auto info = tbInfo(QStringLiteral("msg_pieces"));
    for (auto it = info.cbegin(); it != info.cend(); ++it)
        present.insert(it.key().toLower());
    // Without the message a part belongs to there is nothing to read.
    if (!present.contains(QStringLiteral("message_id")))
        return;
    // Without a type no part is text, and none brings its data.
    if (!present.contains(QStringLiteral("content_type")))
        present.remove(QStringLiteral("data"));
    QStringList columns{QStringLiteral("p.rowid as rowid")};
    for (const char *column : {"message_id", "part_id", "content_type", "content_loc"}) {
        const QString name = QLatin1String(column);
        columns.append(present.contains(name) ? QStringLiteral("p.%1 as %1").arg(name)
                                              : QStringLiteral("NULL as %1").arg(name));
    }
    // A picture may be kept in data as well; only a text part's is read.
    columns.append(present.contains(QStringLiteral("data"))
                       ? QStringLiteral("case when lower(ltrim(p.content_type)) like 'text/plain%'"
                                        " then p.data end as data")
                       : QStringLiteral("NULL as data"));
    m_piecesColumns = columns.join(QStringLiteral(", "));
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
        chat->_last = smsDate(last);
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

    // In ascending id order, so that of several conversations with one
    // identifier the same one wins every time. An iMessage looks for an
    // iMessage conversation first, so that it is not moved into an SMS
    // conversation with the same correspondent.
    QHash<QString, _MsgChat *> anyByIdentifier;
    QHash<QString, _MsgChat *> iMessageByIdentifier;
    const QList<_MsgChat *> chatList = set.chatList();
    for (_MsgChat *chat : chatList) {
        anyByIdentifier.insert(chat->chat_identifier, chat);
        if (chat->service_name == QLatin1String("iMessage"))
            iMessageByIdentifier.insert(chat->chat_identifier, chat);
    }
    auto iMessageChat = [&](const QString &identifier) -> _MsgChat * {
        _MsgChat *chat = iMessageByIdentifier.value(identifier);
        return chat ? chat : anyByIdentifier.value(identifier);
    };

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

    // The parts of the MMS among the rows, and the records made for them.
    const QHash<qint64, QList<MmsPart>> parts = readParts(chatId);
    QList<QPair<_MsgMessage *, const QList<MmsPart> *>> mms;

    // Each column is read by its place, found once from the first row's
    // names; the texts that repeat from row to row (accounts, country codes,
    // service centres) are shared by the records. Each conversation's
    // messages are gathered in row order and put into its hash once the rows
    // have ended, the hash made as large as it will get.
    enum Column {
        Rowid,
        Date,
        Text,
        SvcCenter,
        Subject,
        Country,
        Flags,
        GroupId,
        Address,
        IsMadrid,
        MadridAttributedBody,
        MadridGuid,
        MadridAccount,
        MadridAccountGuid,
        MadridError,
        MadridDateRead,
        MadridDateDelivered,
        MadridRoomname,
        MadridHandle,
        ColumnCount
    };
    static const char *const kNames[ColumnCount] = {"rowid",
                                                    "date",
                                                    "text",
                                                    "svc_center",
                                                    "subject",
                                                    "country",
                                                    "flags",
                                                    "group_id",
                                                    "address",
                                                    "is_madrid",
                                                    "madrid_attributedBody",
                                                    "madrid_guid",
                                                    "madrid_account",
                                                    "madrid_account_guid",
                                                    "madrid_error",
                                                    "madrid_date_read",
                                                    "madrid_date_delivered",
                                                    "madrid_roomname",
                                                    "madrid_handle"};
    using Kind = CursorAhead::Kind;
    auto kindOf = [](int column) {
        switch (column) {
        case Text:
        case Subject:
        case Address:
        case MadridGuid:
        case MadridRoomname:
        case MadridHandle:
            return Kind::Text;
        case SvcCenter:
        case Country:
        case MadridAccount:
        case MadridAccountGuid:
            return Kind::Utf8;
        case MadridAttributedBody:
            return Kind::Blob;
        default:
            return Kind::Int64;
        }
    };
    auto fields = [&kindOf](const Sqlite3Cursor &first) {
        std::vector<CursorAhead::Field> f;
        for (int i = 0; i < ColumnCount; ++i)
            f.push_back({first.columnIndex(QLatin1String(kNames[i])), kindOf(i)});
        return f;
    };
    TextPool texts;
    using Rows = std::vector<std::pair<qint64, _MsgMessage *>>;
    QHash<_MsgChat *, Rows> pending;
    auto link = [&pending] {
        for (auto it = pending.begin(); it != pending.end(); ++it) {
            QHash<QString, _MsgMessage *> &messages = it.key()->messages;
            messages.reserve(messages.size() + qsizetype(it.value().size()));
            for (const auto &[rowid, message] : it.value())
                messages.insert(QString::number(rowid), message);
        }
        pending.clear();
    };

    // A failure half way leaves what was read linked, as it was read.
    try {
        // The rows are stepped on a thread of their own, a few batches ahead
        // of the records made from them; until they end, the connection is
        // that thread's.
        CursorAhead c(*this, sql, fields);
        while (c.next()) {
            auto integer = [&c](Column column) { return c.int64(column); };
            auto number = [&c](Column column) { return clampToInt(c.int64(column)); };
            auto text = [&c](Column column) { return c.takeText(column); };
            auto shared = [&c, &texts](Column column) { return texts.text(c.utf8(column)); };
            const qint64 r = integer(Rowid);
            if (d.messages.contains(r))
                continue;
            auto m = std::make_unique<_MsgMessage>();
            m->rowid = r;
            m->_key = r;
            IOS5MessageDefaults::apply(*m);
            m->text = text(Text);
            m->service_center = shared(SvcCenter);
            m->subject = text(Subject);
            m->country = shared(Country);

            _MsgChat *chat = nullptr;
            QString senderKey;
            if (integer(IsMadrid) != 0) {
                m->attributedBody = c.takeBlob(MadridAttributedBody);
                m->guid = text(MadridGuid);
                m->service = QStringLiteral("iMessage");
                m->account = shared(MadridAccount);
                m->account_guid = shared(MadridAccountGuid);
                m->error = number(MadridError);
                m->date = number(Date);
                m->date_read = number(MadridDateRead);
                m->date_delivered = number(MadridDateDelivered);
                m->is_from_me = m->date_delivered > 0 ? 1 : 0;
                const QString room = text(MadridRoomname);
                senderKey = m_countryCache.normalized(QString(), text(MadridHandle));
                chat = iMessageChat(room.isEmpty() ? senderKey : m_countryCache.normalized(QString(), room));
            } else {
                m->guid = newGuid();
                IOS5MessageDefaults::applySms(*m, smsDate(integer(Date)));
                m->is_from_me = integer(Flags) == 3 ? 1 : 0;
                if (!parts.isEmpty()) {
                    const auto it = parts.constFind(r);
                    if (it != parts.constEnd())
                        mms.append({m.get(), &it.value()});
                }
                // SMS rows belong to SMS conversations only, which have positive ids.
                const qint64 gid = integer(GroupId);
                chat = gid > 0 ? d.chats.value(gid) : nullptr;
                if (chat && chat->handles.size() >= 2 && !m->is_from_me)
                    senderKey = m_countryCache.normalized(m->country, text(Address));
            }

            _MsgMessage *message = m.release();
            d.messages.insert(r, message);
            if (!chat)
                continue;
            message->chat = chat;
            pending[chat].emplace_back(r, message);
            const qsizetype n = chat->handles.size();
            if (n == 1)
                message->sender = chat->handles.cbegin().value();
            else if (n >= 2 && !message->is_from_me)
                message->sender = chat->handles.value(senderKey);
        }
    } catch (...) {
        link();
        throw;
    }
    link();
    // Once the rows are linked: the parts' guids follow from the whole
    // message, its sender included.
    for (const auto &[message, messageParts] : std::as_const(mms))
        applyParts(d, message, *messageParts);
}

QHash<qint64, QList<IOS5MessageDb::MmsPart>> IOS5MessageDb::readParts(qint64 chatId)
{
    QHash<qint64, QList<MmsPart>> parts;
    // iMessage rows keep no parts here.
    if (m_piecesColumns.isEmpty() || chatId < 0)
        return parts;
    // One pass, before the messages: MMS are few beside the SMS, so the
    // message rows only look their number up. Only text parts bring their
    // data; a picture's is its file.
    Sqlite3Sql sql(QStringLiteral("select %1 from msg_pieces as p").arg(m_piecesColumns));
    if (chatId > 0)
        sql.appendSql(QStringLiteral(" inner join message as m on p.message_id=m.rowid and m.group_id=?"))
            .addInt64Param(chatId);
    sql.appendSql(QStringLiteral(" order by p.message_id, p.part_id, p.rowid"));
    Sqlite3Cursor c = queryThrow(sql);
    while (c.moveNext()) {
        MmsPart part;
        part.rowid = c.getInt64(QStringLiteral("rowid"));
        part.partId = c.getInt64(QStringLiteral("part_id"));
        part.type = mediaType(c.getText(QStringLiteral("content_type")));
        // The layout of the slides is no content of its own.
        if (part.type == QLatin1String("application/smil"))
            continue;
        if (part.type == QLatin1String("text/plain"))
            part.text = QString::fromUtf8(c.getBlob(QStringLiteral("data")));
        else
            part.location = c.getText(QStringLiteral("content_loc"));
        parts[c.getInt64(QStringLiteral("message_id"))].append(part);
    }
    return parts;
}

void IOS5MessageDb::applyParts(MsgDataSet::Data &d, _MsgMessage *m, const QList<MmsPart> &parts)
{
    QString text;
    bool hasTextPart = false;
    bool lastWasText = false;
    QList<_MsgAttachment *> made;
    for (const MmsPart &part : parts) {
        if (part.type == QLatin1String("text/plain")) {
            QString piece = part.text;
            while (piece.endsWith(QChar(0)))
                piece.chop(1);
            if (lastWasText && !text.isEmpty() && !piece.isEmpty())
                text.append(QLatin1Char('\n'));
            text.append(piece);
            hasTextPart = true;
            lastWasText = true;
            continue;
        }

        const QString file = partFile(m->rowid, part.partId);
        QString name = partName(part.location);
        if (name.isEmpty())
            name = file.isEmpty() ? QStringLiteral("%1-%2").arg(m->rowid).arg(part.partId) : QFileInfo(file).fileName();

        qint64 key = part.rowid;
        if (key <= 0 || d.attachments.contains(key)) {
            key = -(qint64(d.attachments.size()) + 1);
            while (d.attachments.contains(key))
                --key;
        }
        auto *a = new _MsgAttachment;
        d.attachments.insert(key, a);
        a->rowid = key;
        a->created_date = m->date;
        a->mime_type = part.type;
        a->is_outgoing = m->is_from_me;
        a->transfer_name = name;
        // The folder follows once the message is complete.
        a->filename = name;
        if (!file.isEmpty()) {
            a->_local_path = file;
            a->total_bytes = QFileInfo(file).size();
        }
        m->attachments.insert(QString::number(key), a);
        made.append(a);
        text.append(QChar(0xFFFC));
        lastWasText = false;
    }

    // A message whose parts carry no text keeps its own, followed by the
    // places of its attachments.
    m->text = hasTextPart ? text : m->text + text;
    if (made.isEmpty())
        return;
    m->cache_has_attachments = 1;
    // The same message gives its parts the same guids at every read, so that
    // writing it again finds the attachments it wrote before. The
    // fingerprint takes only the last component of a file name.
    const QString identity = messageFingerprint(m);
    for (qsizetype i = 0; i < made.size(); ++i) {
        _MsgAttachment *a = made.at(i);
        a->guid = guidFromData(QStringLiteral("%1/%2").arg(identity).arg(i).toUtf8());
        a->filename = QLatin1String(kAttachmentFolder) + a->guid + QLatin1Char('/') + a->transfer_name;
    }
}

QString IOS5MessageDb::partFile(qint64 messageId, qint64 partId)
{
    // The phone names a part's file "<message>-<part>" with the type's
    // extension, in folders of its own choosing; its preview beside it
    // carries a further suffix. The folder is walked once, without following
    // links out of it.
    if (!m_partFilesRead) {
        m_partFilesRead = true;
        QDirIterator it(m_root.absoluteFilePath(QLatin1String(kPartsPath)), QDir::Files | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString fileName = it.fileName();
            const QString key = fileName.left(fileName.indexOf(QLatin1Char('.')));
            auto found = m_partFiles.find(key);
            // Of two files with one key the same one wins every time.
            if (found == m_partFiles.end())
                m_partFiles.insert(key, path);
            else if (path < found.value())
                found.value() = path;
        }
    }
    return m_partFiles.value(QStringLiteral("%1-%2").arg(messageId).arg(partId));
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
