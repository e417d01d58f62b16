#include "IOS6MessageDb.h"

#include <QDebug>

#include <stdexcept>

#include "PhoneNumber.h"

namespace
{

MsgDataSet::Data *setData(MsgDataSet &set)
{
    if (set.isNull())
        throw std::runtime_error("IOS6MessageDb: no message set to read into.");
    return set.data();
}

} // namespace

void IOS6MessageDb::chats(MsgDataSet &set)
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
            chat->_last = c.getInt(QStringLiteral("_last"));
            chat->group_id = c.getText(QStringLiteral("group_id"));
        }
    }

    // A device's file keeps no last date: take the newest message's.
    if (!m_cols.chatLast) {
        Sqlite3Cursor c = queryThrow(
            Sqlite3Sql("select chat_id, max(date) as last from ( select cm.chat_id, m.date from chat_message_join as cm "
                       "inner join message as m on cm.message_id=m.rowid ) as tmp group by chat_id"));
        while (c.moveNext()) {
            if (_MsgChat *chat = d->chats.value(c.getInt64(QStringLiteral("chat_id"))))
                chat->_last = c.getInt(QStringLiteral("last"));
        }
    }

    // Countries by two-letter code, looked up once per load.
    QHash<QString, Country> countries;
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
            h->country = c.getText(QStringLiteral("country"));
            h->service = c.getText(QStringLiteral("service"));
            h->uncanonicalized_id = c.getText(QStringLiteral("uncanonicalized_id"));
            h->_ct_name = c.getText(QStringLiteral("_ct_name"));
            h->_photo = c.getBlob(QStringLiteral("_photo"));
            if (h->country.isEmpty()) {
                const Country &current = m_countries.currentCountry();
                h->country = current.sn.toLower();
                h->id = normalizePhoneNumber(current, h->id);
            } else {
                auto it = countries.constFind(h->country);
                if (it == countries.constEnd())
                    it = countries.insert(h->country, m_countries.countryBySn(h->country));
                h->id = normalizePhoneNumber(it.value(), h->id);
            }
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
    chats(set);
    MsgDataSet::Data *d = setData(set);

    // One text per kind of query, so that each is prepared once.
    Sqlite3Sql sql("select j.chat_id, m.* from chat_message_join as j inner join message as m on j.message_id = m.rowid");
    if (m_cols.msgItemType)
        sql.appendSql(QStringLiteral(" and m.item_type <> 4"));
    if (chatId > 0)
        sql.appendSql(QStringLiteral(" and j.chat_id=?")).addInt64Param(chatId);

    Sqlite3Cursor c = queryThrow(sql);
    while (c.moveNext()) {
        const qint64 id = c.getInt64(QStringLiteral("rowid"));
        _MsgMessage *m = d->messages.value(id);
        if (!m) {
            m = new _MsgMessage;
            d->messages.insert(id, m);
            m->_key = id;
            m->rowid = id;
            m->guid = c.getText(QStringLiteral("guid"));
            m->text = c.getText(QStringLiteral("text"));
            m->replace = c.getInt(QStringLiteral("replace"));
            m->service_center = c.getText(QStringLiteral("service_center"));
            m->handle_id = c.getInt64(QStringLiteral("handle_id"));
            m->subject = c.getText(QStringLiteral("subject"));
            m->country = c.getText(QStringLiteral("country"));
            m->attributedBody = c.getBlob(QStringLiteral("attributedBody"));
            m->version = c.getInt(QStringLiteral("version"));
            m->type = c.getInt(QStringLiteral("type"));
            m->service = c.getText(QStringLiteral("service"));
            m->account = c.getText(QStringLiteral("account"));
            m->account_guid = c.getText(QStringLiteral("account_guid"));
            m->error = c.getInt(QStringLiteral("error"));
            m->date = c.getInt(QStringLiteral("date"));
            m->date_read = c.getInt(QStringLiteral("date_read"));
            m->date_delivered = c.getInt(QStringLiteral("date_delivered"));
            m->is_delivered = c.getInt(QStringLiteral("is_delivered"));
            m->is_finished = c.getInt(QStringLiteral("is_finished"));
            m->is_emote = c.getInt(QStringLiteral("is_emote"));
            m->is_from_me = c.getInt(QStringLiteral("is_from_me"));
            m->is_empty = c.getInt(QStringLiteral("is_empty"));
            m->is_delayed = c.getInt(QStringLiteral("is_delayed"));
            m->is_auto_reply = c.getInt(QStringLiteral("is_auto_reply"));
            m->is_prepared = c.getInt(QStringLiteral("is_prepared"));
            m->is_read = c.getInt(QStringLiteral("is_read"));
            m->is_system_message = c.getInt(QStringLiteral("is_system_message"));
            m->is_sent = c.getInt(QStringLiteral("is_sent"));
            m->has_dd_results = c.getInt(QStringLiteral("has_dd_results"));
            m->is_service_message = c.getInt(QStringLiteral("is_service_message"));
            m->is_forward = c.getInt(QStringLiteral("is_forward"));
            m->was_downgraded = c.getInt(QStringLiteral("was_downgraded"));
            m->is_archive = c.getInt(QStringLiteral("is_archive"));
            m->cache_has_attachments = c.getInt(QStringLiteral("cache_has_attachments"));
            m->cache_roomnames = c.getText(QStringLiteral("cache_roomnames"));
            m->was_data_detected = c.getInt(QStringLiteral("was_data_detected"));
            m->was_deduplicated = c.getInt(QStringLiteral("was_deduplicated"));
            m->is_audio_message = c.getInt(QStringLiteral("is_audio_message"));
            m->is_played = c.getInt(QStringLiteral("is_played"));
            m->date_played = c.getInt(QStringLiteral("date_played"));
            m->item_type = c.getInt(QStringLiteral("item_type"));
            m->other_handle = c.getInt(QStringLiteral("other_handle"));
            m->group_title = c.getText(QStringLiteral("group_title"));
            m->group_action_type = c.getInt(QStringLiteral("group_action_type"));
            m->share_status = c.getInt(QStringLiteral("share_status"));
            m->share_direction = c.getInt(QStringLiteral("share_direction"));
            m->is_expirable = c.getInt(QStringLiteral("is_expirable"));
            m->expire_state = c.getInt(QStringLiteral("expire_state"));
            m->message_action_type = c.getInt(QStringLiteral("message_action_type"));
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
        if (_MsgChat *chat = d->chats.value(c.getInt64(QStringLiteral("chat_id")))) {
            m->chat = chat;
            chat->messages.insert(QString::number(id), m);
        }
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
