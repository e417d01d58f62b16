#include "ExportMessagesDb.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

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
{
}

ExportMessagesDb::~ExportMessagesDb() = default;

void ExportMessagesDb::forgetRun()
{
    m_copiedFiles.clear();
    m_chatIds.clear();
    m_chatOfRecord.clear();
    m_handleIds.clear();
    m_handleOfRecord.clear();
    m_chatHandles.clear();
    m_lastChat = nullptr;
    m_lastChatId = 0;
    m_lastJoinChatId = 0;
    m_lastJoinHandle = nullptr;
    m_lastJoinHandleId = 0;
    m_chatLast.clear();
    m_lastAddressed.clear();
    m_folders.clear();
    m_storedRead = false;
    m_fingerprintSlots = std::vector<FingerprintSlot>();
    m_fingerprintUsed = std::vector<bool>();
    m_fingerprintCount = 0;
    m_guidSlots = std::vector<size_t>();
    m_guidCount = 0;
    m_ahead.reset();
}

void ExportMessagesDb::expectMessages(const QList<_MsgMessage *> &messages)
{
    m_ahead.reset(messages);
}

namespace
{

// The size of an open-addressed table (a power of two, at least 1024) that
// stays at most two thirds full with count entries.
size_t tableSizeFor(qsizetype count)
{
    size_t size = 1024;
    while (size < (size_t(1) << 40) && 2 * size < 3 * (size_t(count) + 1))
        size *= 2;
    return size;
}

} // namespace

void ExportMessagesDb::readStoredMessages()
{
    m_storedRead = true;
    // Each table is made as large as the rows will make it: growing on the
    // way moves every entry again, each to a slot nowhere near the last.
    const qint64 stored = m_db.messageRowCount();
    if (m_db.hasLogicHash())
        reserveFingerprints(qsizetype(stored));
    reserveGuidDigests(qsizetype(stored));
    // The table is far larger than the caches and every entry goes to a
    // slot of its own: each slot is asked for a few entries before it is
    // written, in the order the entries come, which the table ends up the
    // same for.
    struct Pending
    {
        quint64 high;
        quint64 low;
        qint64 rowid;
    };
    constexpr int kAhead = 16;
    Pending pending[kAhead];
    qsizetype seen = 0;
    m_db.visitMessageLogicHashes([this, &pending, &seen](qint64 rowid, QByteArrayView logicHash) {
        // Only a text of the fingerprint's form can equal one; others are
        // left to the database.
        QPair<quint64, quint64> bits;
        if (!fingerprintBits(logicHash, &bits))
            return;
        Pending &p = pending[seen % kAhead];
        if (seen >= kAhead)
            keepFingerprint(p.high, p.low, p.rowid);
        p = Pending{bits.first, bits.second, rowid};
        prefetchFingerprint(p.high, p.low);
        ++seen;
    });
    for (qsizetype i = std::max<qsizetype>(0, seen - kAhead); i < seen; ++i) {
        const Pending &p = pending[i % kAhead];
        keepFingerprint(p.high, p.low, p.rowid);
    }
    // The guids' digests the same way.
    size_t digests[kAhead];
    seen = 0;
    m_db.visitMessageGuids([this, &digests, &seen](qint64, QByteArrayView guid) {
        size_t &d = digests[seen % kAhead];
        if (seen >= kAhead)
            keepGuidDigest(d);
        d = guidDigest(guid);
        prefetchGuidDigest(d);
        ++seen;
    });
    for (qsizetype i = std::max<qsizetype>(0, seen - kAhead); i < seen; ++i)
        keepGuidDigest(digests[i % kAhead]);
}

qint64 ExportMessagesDb::storedByFingerprint(quint64 high, quint64 low)
{
    if (!m_storedRead)
        readStoredMessages();
    if (m_fingerprintSlots.empty())
        return 0;
    const size_t i = fingerprintSlot(high, low);
    return m_fingerprintUsed[i] ? m_fingerprintSlots[i].rowid : 0;
}

size_t ExportMessagesDb::fingerprintHome(quint64 high, quint64 low) const
{
    // The bits of an MD5 digest are spread already; mixed all the same, as
    // the file may hold any text of the form.
    return size_t(qHashMulti(qGlobalQHashSeed(), high, low)) & (m_fingerprintSlots.size() - 1);
}

void ExportMessagesDb::prefetchFingerprint(quint64 high, quint64 low) const
{
    if (!m_fingerprintSlots.empty())
        __builtin_prefetch(&m_fingerprintSlots[fingerprintHome(high, low)]);
}

void ExportMessagesDb::prefetchGuidDigest(size_t digest) const
{
    if (!m_guidSlots.empty())
        __builtin_prefetch(&m_guidSlots[digest & (m_guidSlots.size() - 1)]);
}

void ExportMessagesDb::prefetchComing() const
{
    // The records lie far apart in memory: what write reads of the messages
    // to come and of their conversations is asked for a message or two
    // ahead. Only hints; nothing is changed.
    if (const _MsgMessage *after = m_ahead.upcoming(1)) {
        __builtin_prefetch(&after->item_type);
        __builtin_prefetch(&after->chat);
        __builtin_prefetch(&after->attachments);
    }
    if (const _MsgMessage *next = m_ahead.upcoming(0)) {
        if (const _MsgChat *chat = next->chat) {
            __builtin_prefetch(&chat->rowid);
            __builtin_prefetch(&chat->handles);
        }
    }
}

size_t ExportMessagesDb::fingerprintSlot(quint64 high, quint64 low) const
{
    const size_t mask = m_fingerprintSlots.size() - 1;
    size_t i = fingerprintHome(high, low);
    while (m_fingerprintUsed[i]) {
        const FingerprintSlot &slot = m_fingerprintSlots[i];
        if (slot.high == high && slot.low == low)
            break;
        i = (i + 1) & mask;
    }
    return i;
}

void ExportMessagesDb::keepFingerprint(quint64 high, quint64 low, qint64 rowid)
{
    // At most two thirds full, so that a probe ends soon and a free slot is
    // always found.
    if (3 * (m_fingerprintCount + 1) > 2 * qsizetype(m_fingerprintSlots.size()))
        reserveFingerprints(m_fingerprintCount + 1);
    const size_t i = fingerprintSlot(high, low);
    FingerprintSlot &slot = m_fingerprintSlots[i];
    if (!m_fingerprintUsed[i]) {
        slot = FingerprintSlot{high, low, rowid};
        m_fingerprintUsed[i] = true;
        ++m_fingerprintCount;
    } else if (rowid < slot.rowid) {
        slot.rowid = rowid;
    }
}

void ExportMessagesDb::reserveFingerprints(qsizetype count)
{
    const size_t size = tableSizeFor(count);
    if (size <= m_fingerprintSlots.size())
        return;
    std::vector<FingerprintSlot> old;
    std::vector<bool> oldUsed;
    old.swap(m_fingerprintSlots);
    oldUsed.swap(m_fingerprintUsed);
    m_fingerprintSlots.resize(size);
    m_fingerprintUsed.resize(size);
    for (size_t i = 0; i < old.size(); ++i) {
        if (!oldUsed[i])
            continue;
        const size_t to = fingerprintSlot(old[i].high, old[i].low);
        m_fingerprintSlots[to] = old[i];
        m_fingerprintUsed[to] = true;
    }
}

void ExportMessagesDb::reserveGuidDigests(qsizetype count)
{
    const size_t size = tableSizeFor(count);
    if (size <= m_guidSlots.size())
        return;
    std::vector<size_t> old;
    old.swap(m_guidSlots);
    m_guidSlots.resize(size);
    m_guidCount = 0;
    for (size_t d : old) {
        if (d != 0)
            keepGuidDigest(d);
    }
}

qint64 ExportMessagesDb::storedByGuid(const QString &guid, size_t digest)
{
    if (!m_storedRead)
        readStoredMessages();
    if (!hasGuidDigest(digest))
        return 0;
    return m_db.messageRowid(guid);
}

void ExportMessagesDb::rememberMessage(quint64 high, quint64 low, size_t guidKey, qint64 rowid)
{
    // The new rowid is above every other: a fingerprint found already keeps
    // its lower one.
    if (m_db.hasLogicHash())
        keepFingerprint(high, low, rowid);
    keepGuidDigest(guidKey);
}

bool ExportMessagesDb::hasGuidDigest(size_t digest) const
{
    if (m_guidSlots.empty())
        return false;
    const size_t mask = m_guidSlots.size() - 1;
    for (size_t i = digest & mask;; i = (i + 1) & mask) {
        if (m_guidSlots[i] == digest)
            return true;
        if (m_guidSlots[i] == 0)
            return false;
    }
}

void ExportMessagesDb::keepGuidDigest(size_t digest)
{
    if (3 * (m_guidCount + 1) > 2 * qsizetype(m_guidSlots.size()))
        reserveGuidDigests(m_guidCount + 1);
    const size_t mask = m_guidSlots.size() - 1;
    size_t i = digest & mask;
    while (m_guidSlots[i] != 0 && m_guidSlots[i] != digest)
        i = (i + 1) & mask;
    if (m_guidSlots[i] == 0) {
        m_guidSlots[i] = digest;
        ++m_guidCount;
    }
}

void ExportMessagesDb::begin()
{
    forgetRun();
    m_db.beginTransaction();
}

void ExportMessagesDb::writeChatUpdates()
{
    // In chat id order, so that the file comes out the same on every run.
    QList<qint64> ids = m_chatLast.keys();
    std::sort(ids.begin(), ids.end());
    for (qint64 id : std::as_const(ids))
        m_db.updateChatLast(id, m_chatLast.value(id));
    ids = m_lastAddressed.keys();
    std::sort(ids.begin(), ids.end());
    for (qint64 id : std::as_const(ids))
        m_db.setLastAddressedHandle(id, m_lastAddressed.value(id));
}

void ExportMessagesDb::end()
{
    // Nothing reads the chat rows before the commit, so their last date and
    // last addressed handle are written once each instead of per message.
    writeChatUpdates();
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

qint64 ExportMessagesDb::chatHandleId(qint64 chatId, const _MsgHandle *handle)
{
    if (!handle)
        return 0;
    if (handle == m_lastJoinHandle && chatId == m_lastJoinChatId)
        return m_lastJoinHandleId;
    // The records do not change during a run: a record seen before has the
    // rowid its id and service were given.
    qint64 id = m_handleOfRecord.value(handle);
    if (id == 0) {
        const QPair<QString, QString> key(handle->id, handle->service);
        id = m_handleIds.value(key);
        if (id == 0) {
            id = m_db.handleRowid(handle);
            if (id == 0) {
                id = m_db.insertHandle(handle);
                m_db.addChatHandle(chatId, id);
                m_chatHandles.insert(qMakePair(chatId, id));
            }
            m_handleIds.insert(key, id);
        }
        m_handleOfRecord.insert(handle, id);
    }
    const QPair<qint64, qint64> join(chatId, id);
    if (!m_chatHandles.contains(join)) {
        if (!m_db.hasChatHandle(chatId, id))
            m_db.addChatHandle(chatId, id);
        m_chatHandles.insert(join);
    }
    m_lastJoinChatId = chatId;
    m_lastJoinHandle = handle;
    m_lastJoinHandleId = id;
    return id;
}

void ExportMessagesDb::write(const _MsgMessage *message)
{
    // Passes the message in the list of those expected, whatever follows.
    const FingerprintsAhead::Coming *next = nullptr;
    const FingerprintsAhead::Coming *ahead = m_ahead.take(message, &next);
    if (ahead)
        prefetchComing();
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

    // Messages come in date order, seldom two of one conversation in a row:
    // a conversation's record seen before answers without hashing its guid.
    qint64 chatId = chat == m_lastChat ? m_lastChatId : m_chatOfRecord.value(chat);
    if (chatId == 0) {
        chatId = m_chatIds.value(chat->guid);
        if (chatId == 0) {
            chatId = m_db.chatRowid(chat->guid);
            if (chatId == 0)
                chatId = m_db.insertChat(chat);
            m_chatIds.insert(chat->guid, chatId);
        }
        m_chatOfRecord.insert(chat, chatId);
    }
    m_lastChat = chat;
    m_lastChatId = chatId;

    const qint64 handleId = chatHandleId(chatId, message->sender);

    // The fingerprint is what insertMessage would store for an empty logic
    // hash; computed once for the look-up and the insert, and spelled out
    // only for the insert.
    const FingerprintDigest digest = ahead ? ahead->fingerprint : messageFingerprintDigest(*message);
    const quint64 high = qFromBigEndian<quint64>(digest.data());
    const quint64 low = qFromBigEndian<quint64>(digest.data() + 8);
    qint64 messageId = storedByFingerprint(high, low);
    if (next) {
        prefetchFingerprint(qFromBigEndian<quint64>(next->fingerprint.data()),
                            qFromBigEndian<quint64>(next->fingerprint.data() + 8));
        // A new message is looked up by its guid too, and the next one most
        // likely as well.
        if (messageId == 0)
            prefetchGuidDigest(next->guid);
    }
    const bool sameFingerprint = messageId != 0;
    const size_t guidKey = messageId == 0 ? (ahead ? ahead->guid : guidDigest(message->guid)) : 0;
    if (messageId == 0)
        messageId = storedByGuid(message->guid, guidKey);
    if (messageId == 0) {
        const qint64 otherId = chatHandleId(chatId, message->other);
        messageId = m_db.insertMessage(message, handleId, otherId, fingerprintText(digest));
        rememberMessage(high, low, guidKey, messageId);
        m_db.addChatMessage(chatId, messageId);
        // The chat's last date only ever rises.
        auto last = m_chatLast.find(chatId);
        if (last == m_chatLast.end())
            m_chatLast.insert(chatId, message->date);
        else if (message->date > last.value())
            last.value() = message->date;
    }

    if (chat->isGroup() && message->sender)
        m_lastAddressed.insert(chatId, message->sender->id);

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
