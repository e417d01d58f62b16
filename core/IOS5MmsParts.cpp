#include "IOS5MmsParts.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <utility>

#include "MessageIdentity.h"
#include "SafePath.h"
#include "Sqlite3DB.h"

namespace
{

// Where a phone keeps the files of MMS parts, relative to the device's file
// system.
const char kPartsPath[] = "var/mobile/Library/SMS/Parts";
// The device folder a part becomes an attachment under, in the iOS 6 manner
// (one folder per attachment, named by its guid, holding the part's name).
const char kAttachmentFolder[] = "~/Library/SMS/Attachments/";

// Appends a text part to the text made so far: a line break between two
// text parts that follow one another, the NULs a phone may leave at the end
// of a part's data dropped.
void appendTextPart(QString &text, const QString &part, bool lastWasText)
{
    QString piece = part;
    while (piece.endsWith(QChar(0)))
        piece.chop(1);
    if (lastWasText && !text.isEmpty() && !piece.isEmpty())
        text.append(QLatin1Char('\n'));
    text.append(piece);
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

QString IOS5MmsParts::mediaType(const QString &contentType)
{
    const qsizetype semicolon = contentType.indexOf(QLatin1Char(';'));
    return (semicolon < 0 ? contentType : contentType.left(semicolon)).trimmed().toLower();
}

QString IOS5MmsParts::textOf(const QList<Part> &parts)
{
    QString text;
    bool hasTextPart = false;
    bool lastWasText = false;
    for (const Part &part : parts) {
        if (part.type == QLatin1String("application/smil"))
            continue;
        const bool isText = part.type == QLatin1String("text/plain");
        if (isText) {
            appendTextPart(text, part.text, lastWasText);
            hasTextPart = true;
        }
        lastWasText = isText;
    }
    return hasTextPart ? text : QString();
}

IOS5MmsParts::IOS5MmsParts(const QDir &root)
    : m_root(root)
{
}

void IOS5MmsParts::readColumns(Sqlite3DB &db, bool hasTable)
{
    m_columns.clear();
    if (!hasTable)
        return;
    QSet<QString> present;
    const auto info = db.tbInfo(QStringLiteral("msg_pieces"));
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
    m_columns = columns.join(QStringLiteral(", "));
}

IOS5MmsParts::ByMessage IOS5MmsParts::read(Sqlite3DB &db, qint64 chatId) const
{
    ByMessage parts;
    // iMessage rows keep no parts here.
    if (m_columns.isEmpty() || chatId < 0)
        return parts;
    // One pass, before the messages: MMS are few beside the SMS, so the
    // message rows only look their number up. Only text parts bring their
    // data; a picture's is its file.
    Sqlite3Sql sql(QStringLiteral("select %1 from msg_pieces as p").arg(m_columns));
    if (chatId > 0)
        sql.appendSql(QStringLiteral(" inner join message as m on p.message_id=m.rowid and m.group_id=?"))
            .addInt64Param(chatId);
    sql.appendSql(QStringLiteral(" order by p.message_id, p.part_id, p.rowid"));
    Sqlite3Cursor c = db.queryThrow(sql);
    while (c.moveNext()) {
        Part part;
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

void IOS5MmsParts::apply(MsgDataSet::Data &d, _MsgMessage *m, const QList<Part> &parts)
{
    QString text;
    bool hasTextPart = false;
    bool lastWasText = false;
    QList<_MsgAttachment *> made;
    for (const Part &part : parts) {
        if (part.type == QLatin1String("text/plain")) {
            appendTextPart(text, part.text, lastWasText);
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

QString IOS5MmsParts::partFile(qint64 messageId, qint64 partId)
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
