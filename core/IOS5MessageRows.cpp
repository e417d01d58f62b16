#include "IOS5MessageRows.h"

#include <QStringList>

#include <algorithm>
#include <limits>
#include <memory>

#include "CountryCache.h"
#include "IOS5MessageDefaults.h"
#include "MessageIdentity.h"

namespace
{

// The columns the query reads, in select order; each is read by its place,
// found once from the first row's names.
enum Column {
    Rowid,
    Date,
    Text,
    SvcCenter,
    Subject,
    CountryCode,
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

const char *const kNames[ColumnCount] = {"rowid",
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

CursorAhead::Kind kindOf(int column)
{
    using Kind = CursorAhead::Kind;
    switch (column) {
    case Text:
    case Subject:
    case Address:
    case MadridGuid:
    case MadridRoomname:
    case MadridHandle:
        return Kind::Text;
    case SvcCenter:
    case CountryCode:
    case MadridAccount:
    case MadridAccountGuid:
        return Kind::Utf8;
    case MadridAttributedBody:
        return Kind::Blob;
    default:
        return Kind::Int64;
    }
}

} // namespace

int IOS5MessageRows::saturated(qint64 value)
{
    return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

int IOS5MessageRows::smsDate(qint64 unixSeconds)
{
    if (unixSeconds < qint64(std::numeric_limits<int>::min()) + kAppleEpochOffset)
        return std::numeric_limits<int>::min();
    return saturated(unixSeconds - kAppleEpochOffset);
}

QString IOS5MessageRows::selectSql(const QSet<QString> &present)
{
    QStringList columns{QStringLiteral("m.rowid as rowid")};
    for (int i = Rowid + 1; i < ColumnCount; ++i) {
        const QString name = QLatin1String(kNames[i]);
        columns.append(present.contains(name.toLower()) ? QStringLiteral("m.%1 as %1").arg(name)
                                                        : QStringLiteral("NULL as %1").arg(name));
    }
    return QStringLiteral("select %1 from message as m").arg(columns.join(QStringLiteral(", ")));
}

std::vector<CursorAhead::Field> IOS5MessageRows::fields(const Sqlite3Cursor &first)
{
    std::vector<CursorAhead::Field> f;
    for (int i = 0; i < ColumnCount; ++i)
        f.push_back({first.columnIndex(QLatin1String(kNames[i])), kindOf(i)});
    return f;
}

IOS5MessageRows::IOS5MessageRows(MsgDataSet &set, CountryCache &countries, const IOS5MmsParts::ByMessage &parts)
    : m_data(*set.data())
    , m_countries(countries)
    , m_parts(parts)
{
    const QList<_MsgChat *> chatList = set.chatList();
    for (_MsgChat *chat : chatList) {
        m_anyByIdentifier.insert(chat->chat_identifier, chat);
        if (chat->service_name == QLatin1String("iMessage"))
            m_iMessageByIdentifier.insert(chat->chat_identifier, chat);
    }
}

_MsgChat *IOS5MessageRows::iMessageChat(const QString &identifier) const
{
    _MsgChat *chat = m_iMessageByIdentifier.value(identifier);
    return chat ? chat : m_anyByIdentifier.value(identifier);
}

void IOS5MessageRows::add(CursorAhead &c)
{
    const qint64 r = c.int64(Rowid);
    if (m_data.messages.contains(r))
        return;
    auto m = std::make_unique<_MsgMessage>();
    m->rowid = r;
    m->_key = r;
    IOS5MessageDefaults::apply(*m);
    m->text = c.takeText(Text);
    m->service_center = m_texts.text(c.utf8(SvcCenter));
    m->subject = c.takeText(Subject);
    m->country = m_texts.text(c.utf8(CountryCode));

    QString senderKey;
    _MsgChat *chat = c.int64(IsMadrid) != 0 ? readIMessage(c, *m, senderKey) : readSms(c, *m, senderKey);

    _MsgMessage *message = m.release();
    m_data.messages.insert(r, message);
    if (!chat)
        return;
    message->chat = chat;
    m_pending[chat].emplace_back(r, message);
    const qsizetype n = chat->handles.size();
    if (n == 1)
        message->sender = chat->handles.cbegin().value();
    else if (n >= 2 && !message->is_from_me)
        message->sender = chat->handles.value(senderKey);
}

_MsgChat *IOS5MessageRows::readIMessage(CursorAhead &c, _MsgMessage &m, QString &senderKey)
{
    m.attributedBody = c.takeBlob(MadridAttributedBody);
    m.guid = c.takeText(MadridGuid);
    m.service = QStringLiteral("iMessage");
    m.account = m_texts.text(c.utf8(MadridAccount));
    m.account_guid = m_texts.text(c.utf8(MadridAccountGuid));
    m.error = saturated(c.int64(MadridError));
    m.date = saturated(c.int64(Date));
    m.date_read = saturated(c.int64(MadridDateRead));
    m.date_delivered = saturated(c.int64(MadridDateDelivered));
    m.is_from_me = m.date_delivered > 0 ? 1 : 0;
    const QString room = c.takeText(MadridRoomname);
    senderKey = m_countries.normalized(QString(), c.takeText(MadridHandle));
    return iMessageChat(room.isEmpty() ? senderKey : m_countries.normalized(QString(), room));
}

_MsgChat *IOS5MessageRows::readSms(CursorAhead &c, _MsgMessage &m, QString &senderKey)
{
    m.guid = newGuid();
    IOS5MessageDefaults::applySms(m, smsDate(c.int64(Date)));
    m.is_from_me = c.int64(Flags) == 3 ? 1 : 0;
    if (!m_parts.isEmpty()) {
        const auto it = m_parts.constFind(m.rowid);
        if (it != m_parts.constEnd())
            m_mms.append({&m, &it.value()});
    }
    // SMS rows belong to SMS conversations only, which have positive ids.
    const qint64 gid = c.int64(GroupId);
    _MsgChat *chat = gid > 0 ? m_data.chats.value(gid) : nullptr;
    if (chat && chat->handles.size() >= 2 && !m.is_from_me)
        senderKey = m_countries.normalized(m.country, c.takeText(Address));
    return chat;
}

void IOS5MessageRows::link()
{
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        QHash<QString, _MsgMessage *> &messages = it.key()->messages;
        messages.reserve(messages.size() + qsizetype(it.value().size()));
        for (const auto &[rowid, message] : it.value())
            messages.insert(QString::number(rowid), message);
    }
    m_pending.clear();
}
