#include "IOS5MessageDefaults.h"

#include <QString>

#include "_MsgMessage.h"

void IOS5MessageDefaults::apply(_MsgMessage &m)
{
    m.replace = 0;
    m.version = 10;
    m.type = 0;
    // The layout has no handle table.
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
}

void IOS5MessageDefaults::applySms(_MsgMessage &m, int date)
{
    m.service = QStringLiteral("SMS");
    m.account = QStringLiteral("e:");
    m.error = 0;
    m.date = date;
    m.date_read = date;
    m.date_delivered = date;
}
