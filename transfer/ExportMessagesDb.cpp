#include "ExportMessagesDb.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "MessageIdentity.h"

ExportMessagesDb::ExportMessagesDb(const QDir &folder, const QString &country)
    : m_db(folder, country, true)
{
}

ExportMessagesDb::~ExportMessagesDb() = default;

void ExportMessagesDb::begin()
{
    m_copiedFiles.clear();
    m_db.beginTransaction();
}

void ExportMessagesDb::end()
{
    m_db.endTransaction(true);
    m_db.close();
    m_copiedFiles.clear();
}

void ExportMessagesDb::abort()
{
    try {
        m_db.endTransaction(false);
    } catch (const std::exception &e) {
        // Closing discards the transaction all the same.
        qWarning("ExportMessagesDb rollback failed. %s", e.what());
    }
    m_db.close();
    for (const QString &path : std::as_const(m_copiedFiles))
        QFile::remove(path);
    m_copiedFiles.clear();
}

QString ExportMessagesDb::attachmentRelativePath(const QString &filename)
{
    static const QRegularExpression unsafe(QStringLiteral("[\\\\:*?\"<>|]"));
    QString rel = filename;
    if (rel.startsWith(QLatin1Char('/')))
        rel.remove(0, 1);
    if (rel.startsWith(QLatin1String("~/")))
        rel.replace(0, 2, QStringLiteral("var/mobile/"));
    rel.remove(unsafe);
    // The name comes from a database file: it must not reach outside the
    // folder it is put under.
    if (rel.isEmpty() || rel.startsWith(QLatin1Char('/')) || rel.endsWith(QLatin1Char('/')))
        return QString();
    const QStringList parts = rel.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part == QLatin1String(".."))
            return QString();
    }
    return rel;
}

void ExportMessagesDb::copyAttachmentFile(const _MsgAttachment *attachment)
{
    if (attachment->_local_path.isEmpty() || !QFileInfo(attachment->_local_path).isFile())
        return;
    const QString rel = attachmentRelativePath(attachment->filename);
    if (rel.isEmpty()) {
        qWarning("ExportMessagesDb skip attachment file with unsafe name %s", qUtf8Printable(attachment->filename));
        return;
    }
    const QString target = m_db.srcDir().absoluteFilePath(rel);
    if (QFileInfo::exists(target))
        return;
    QDir().mkpath(QFileInfo(target).absolutePath());
    if (QFile::copy(attachment->_local_path, target))
        m_copiedFiles.append(target);
    else
        qWarning("ExportMessagesDb can not copy %s to %s", qUtf8Printable(attachment->_local_path),
                 qUtf8Printable(target));
}

qint64 ExportMessagesDb::chatHandleId(qint64 chatId, const _MsgHandle *handle)
{
    if (!handle)
        return 0;
    qint64 id = m_db.handleRowid(handle);
    if (id == 0) {
        id = m_db.insertHandle(handle);
        m_db.addChatHandle(chatId, id);
    } else if (!m_db.hasChatHandle(chatId, id)) {
        m_db.addChatHandle(chatId, id);
    }
    return id;
}

void ExportMessagesDb::write(const _MsgMessage *message)
{
    if (message->item_type != 0 && !m_db.hasItemType())
        return;
    const _MsgChat *chat = message->chat;
    if (!chat) {
        qDebug("IOS6RestoreMessagesThread skip message with empty chat.");
        return;
    }
    if (chat->rowid < -2047483646) {
        qDebug("IOS6RestoreMessagesThread skip message with unknown chat.");
        return;
    }

    qint64 chatId = m_db.chatRowid(chat->guid);
    if (chatId == 0)
        chatId = m_db.insertChat(chat);

    const qint64 handleId = chatHandleId(chatId, message->sender);

    // The fingerprint is what insertMessage would store for an empty logic
    // hash; computed once for the look-up and the insert.
    const QString logicHash = messageFingerprint(message);
    qint64 messageId = m_db.messageRowidByLogicHash(logicHash);
    if (messageId == 0)
        messageId = m_db.messageRowid(message->guid);
    if (messageId == 0) {
        const qint64 otherId = chatHandleId(chatId, message->other);
        messageId = m_db.insertMessage(message, handleId, otherId, logicHash);
        m_db.addChatMessage(chatId, messageId);
        m_db.updateChatLast(chatId, message->date);
    }

    if (chat->isGroup() && message->sender)
        m_db.setLastAddressedHandle(chatId, message->sender->id);

    for (const _MsgAttachment *attachment : message->attachmentIds()) {
        copyAttachmentFile(attachment);
        qint64 attachmentId = m_db.attachmentRowid(attachment);
        if (attachmentId == 0)
            attachmentId = m_db.insertAttachment(attachment);
        m_db.addMessageAttachment(messageId, attachmentId);
    }
}
