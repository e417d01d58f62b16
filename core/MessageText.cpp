#include "MessageText.h"

#include <QCoreApplication>
#include <QDateTime>

#include "EmojiText.h"
#include "MessageIdentity.h"

namespace
{

QString tr(const char *text)
{
    return QCoreApplication::translate("QObject", text);
}

QString nameOf(const _MsgHandle *handle)
{
    return handle ? handle->displayName(false) : tr("You");
}

QString attachmentTag(const _MsgAttachment *a)
{
    const QString &mime = a->mime_type;
    if (mime.startsWith(QLatin1String("image/"), Qt::CaseInsensitive))
        return QStringLiteral(" [IMAGE]");
    if (mime.startsWith(QLatin1String("video/"), Qt::CaseInsensitive))
        return QStringLiteral(" [VIDEO]");
    if (mime.startsWith(QLatin1String("audio/"), Qt::CaseInsensitive))
        return QStringLiteral(" [AUDIO]");
    if (mime.compare(QLatin1String("text/x-vCard"), Qt::CaseInsensitive) == 0
        || mime.compare(QLatin1String("text/vcard"), Qt::CaseInsensitive) == 0)
        return QStringLiteral(" [VCARD]");
    return QStringLiteral(" [ATTA]");
}

QString eventText(const _MsgMessage *m)
{
    // QDateTime::toString with a format names months in English whatever the
    // system locale, as every other text of the program is.
    const QString date = appleTimeToDateTime(m->date).toString(QStringLiteral("dd MMM yyyy h:m AP"));
    // One multi-argument arg() so that a "%1" inside a name stays as it is.
    switch (m->item_type) {
    case 1:
        return tr("%1 Added %2 to the conversation.\n%3").arg(nameOf(m->sender), nameOf(m->other), date);
    case 2:
        return tr("%1 named the conversation \"%2\".\n%3").arg(nameOf(m->sender), m->group_title, date);
    case 3:
        return tr("%1 left the conversation.\n%2").arg(nameOf(m->sender), date);
    case 4:
        return tr("%1 %2 sharing location with %3.\n%4")
            .arg(nameOf(m->sender), m->share_status == 0 ? tr("started") : tr("stopped"), nameOf(m->other), date);
    default:
        return tr("System Information.\n%1").arg(date);
    }
}

} // namespace

QString messageText(const _MsgMessage *message)
{
    if (!message)
        return QString();
    QString text;
    if (message->item_type != 0) {
        text = eventText(message);
    } else {
        text = message->cleanText();
        for (const _MsgAttachment *a : message->attachmentIds())
            text += attachmentTag(a);
        text = text.trimmed();
    }
    return replaceEmoji(text, emojiReplacement, nullptr);
}
