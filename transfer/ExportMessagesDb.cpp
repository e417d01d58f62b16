#include "ExportMessagesDb.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include "FingerprintsAhead.h"
#include "MessageIdentity.h"
#include "WholeFileCopy.h"

namespace
{

// Copies from to to, which must not exist. The bytes go to a name beside the
// target that is renamed into place only when complete, so the target never
// holds part of a file. No file is synced on its own: a backup copies
// thousands of them, and end() syncs them all at once before the rows that
// name them are committed.
bool copyFile(const QString &from, const QString &to)
{
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const QString part = to + QStringLiteral(".larkspan-part");
    const QByteArray partName = QFile::encodeName(part);
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    int out = ::open(partName.constData(), flags, 0666);
    if (out < 0 && errno == EEXIST) {
        // Left by a run that stopped half way; no attachment has this name.
        if (::unlink(partName.constData()) == 0)
            out = ::open(partName.constData(), flags, 0666);
    }
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = copyBytes(in, out);
    ::close(in);
    // A write error can show only when the file is closed.
    ok = (::close(out) == 0) && ok;
    ok = ok && QFile::rename(part, to);
    if (!ok)
        ::unlink(partName.constData());
    return ok;
}

// The 128 bits that 32 lowercase hex digits spell, the form of every
// fingerprint; false for any other text.
bool fingerprintBits(QByteArrayView text, QPair<quint64, quint64> *bits)
{
    if (text.size() != 32)
        return false;
    quint64 half[2] = {0, 0};
    for (int i = 0; i < 32; ++i) {
        const char c = text[i];
        quint64 digit;
        if (c >= '0' && c <= '9')
            digit = quint64(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = quint64(c - 'a' + 10);
        else
            return false;
        half[i / 16] = (half[i / 16] << 4) | digit;
    }
    *bits = qMakePair(half[0], half[1]);
    return true;
}

} // namespace

ExportMessagesDb::ExportMessagesDb(const QDir &folder, const QString &country)
    : m_db(folder, country, true)
    , m_rows(m_db)
{
}

ExportMessagesDb::~ExportMessagesDb() = default;

void ExportMessagesDb::forgetRun()
{
    m_copiedFiles.clear();
    m_rows.clear();
    m_ahead.reset();
    m_folders.clear();
    m_storedRead = false;
    m_fingerprints = QHash<QPair<quint64, quint64>, qint64>();
    m_guidDigests = QSet<size_t>();
}

void ExportMessagesDb::expectMessages(const QList<_MsgMessage *> &messages)
{
    m_ahead.reset(messages);
}

void ExportMessagesDb::readStoredMessages()
{
    m_storedRead = true;
    const qint64 stored = m_db.messageRowCount();
    if (m_db.hasLogicHash())
        m_fingerprints.reserve(qsizetype(stored));
    m_guidDigests.reserve(qsizetype(stored));
    m_db.visitMessageLogicHashes([this](qint64 rowid, QByteArrayView logicHash) {
        // Only a text of the fingerprint's form can equal one; others are
        // left to the database.
        QPair<quint64, quint64> bits;
        if (fingerprintBits(logicHash, &bits))
            keepFingerprint(bits, rowid);
    });
    m_db.visitMessageGuids([this](qint64, QByteArrayView guid) { m_guidDigests.insert(guidDigest(guid)); });
}

void ExportMessagesDb::keepFingerprint(const QPair<quint64, quint64> &bits, qint64 rowid)
{
    // The lowest rowid of a fingerprint is the one the database finds.
    const auto it = m_fingerprints.find(bits);
    if (it == m_fingerprints.end())
        m_fingerprints.insert(bits, rowid);
    else if (rowid < it.value())
        it.value() = rowid;
}

qint64 ExportMessagesDb::storedByFingerprint(const QPair<quint64, quint64> &bits)
{
    if (!m_storedRead)
        readStoredMessages();
    return m_fingerprints.value(bits);
}

qint64 ExportMessagesDb::storedByGuid(const QString &guid, size_t digest)
{
    if (!m_storedRead)
        readStoredMessages();
    if (!m_guidDigests.contains(digest))
        return 0;
    return m_db.messageRowid(guid);
}

void ExportMessagesDb::rememberMessage(const QPair<quint64, quint64> &bits, size_t guidKey, qint64 rowid)
{
    // The new rowid is above every other: a fingerprint found already keeps
    // its lower one.
    if (m_db.hasLogicHash())
        keepFingerprint(bits, rowid);
    m_guidDigests.insert(guidKey);
}

void ExportMessagesDb::begin()
{
    forgetRun();
    m_db.beginTransaction();
}

void ExportMessagesDb::end()
{
    m_rows.writeChatUpdates();
    // The copied files reach the disk before the rows that name them.
    if (!m_copiedFiles.isEmpty())
        syncFolder(m_db.srcDir().absolutePath(), FolderSync::FileSystem);
    m_db.endTransaction(true);
    m_db.close();
    forgetRun();
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
    forgetRun();
}

QString ExportMessagesDb::attachmentRelativePath(const QString &filename)
{
    // The readers find the copy under the same name.
    return IOS6MessageDb::attachmentRelativePath(filename);
}

void ExportMessagesDb::copyAttachmentFile(const _MsgAttachment *attachment)
{
    if (attachment->_local_path.isEmpty())
        return;
    const QString target = m_db.attachmentLocalPath(attachment->filename);
    if (target.isEmpty()) {
        if (QFileInfo(attachment->_local_path).isFile())
            qWarning("ExportMessagesDb skip attachment file with unsafe name %s", qUtf8Printable(attachment->filename));
        return;
    }
    // A copy in place is kept as it is; a second backup looks no further.
    if (QFileInfo::exists(target) || !QFileInfo(attachment->_local_path).isFile())
        return;
    const QString folder = QFileInfo(target).absolutePath();
    if (!m_folders.contains(folder)) {
        QDir().mkpath(folder);
        m_folders.insert(folder);
    }
    if (copyFile(attachment->_local_path, target))
        m_copiedFiles.append(target);
    else
        qWarning("ExportMessagesDb can not copy %s to %s", qUtf8Printable(attachment->_local_path),
                 qUtf8Printable(target));
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

    const qint64 chatId = m_rows.chatId(chat);
    const qint64 handleId = m_rows.chatHandleId(chatId, message->sender);

    // The fingerprint is what insertMessage would store for an empty logic
    // hash; computed once for the look-up and the insert, and spelled out
    // only for the insert.
    const FingerprintsAhead::Coming *ahead = m_ahead.take(message);
    const FingerprintDigest digest = ahead ? ahead->fingerprint : messageFingerprintDigest(*message);
    const QPair<quint64, quint64> bits(qFromBigEndian<quint64>(digest.data()),
                                       qFromBigEndian<quint64>(digest.data() + 8));
    qint64 messageId = storedByFingerprint(bits);
    const bool sameFingerprint = messageId != 0;
    const size_t guidKey = messageId == 0 ? (ahead ? ahead->guid : guidDigest(message->guid)) : 0;
    if (messageId == 0)
        messageId = storedByGuid(message->guid, guidKey);
    if (messageId == 0) {
        const qint64 otherId = m_rows.chatHandleId(chatId, message->other);
        messageId = m_db.insertMessage(message, handleId, otherId, fingerprintText(digest));
        rememberMessage(bits, guidKey, messageId);
        m_db.addChatMessage(chatId, messageId);
        m_rows.messageAdded(chatId, message->date);
    }

    if (chat->isGroup() && message->sender)
        m_rows.addressed(chatId, message->sender->id);

    for (const _MsgAttachment *attachment : message->attachmentIds()) {
        qint64 attachmentId = m_db.attachmentRowid(attachment);
        // The fingerprint counts the names of the attachments: a message
        // stored with it has one of this name already, under the guid another
        // source gave it. A second one would show the same file twice.
        if (attachmentId == 0 && sameFingerprint && !attachment->filename.isEmpty())
            continue;
        copyAttachmentFile(attachment);
        if (attachmentId == 0)
            attachmentId = m_db.insertAttachment(attachment);
        m_db.addMessageAttachment(messageId, attachmentId);
    }
}
