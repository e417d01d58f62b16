#pragma once

// Reads every message of a set as the views and exporters do, and checks
// that the links between its records stay inside the set.

#include <QDir>

#include "CachedMessageDb.h"
#include "FuzzSupport.h"
#include "MessageIdentity.h"
#include "MessageText.h"
#include "MsgDataSet.h"
#include "_MsgAttachment.h"
#include "_MsgChat.h"
#include "_MsgHandle.h"
#include "_MsgMessage.h"

// A fresh source folder whose cached messages database holds the input, as
// a phone's or a backup's copy lies in its cache folder.
inline QDir fuzzSourceWithSmsDb(const uint8_t *data, size_t size)
{
    const QString folder = fuzzScratch() + QStringLiteral("/source");
    fuzzWriteFile(folder + QLatin1Char('/') + QLatin1String(kCachedSmsDbPath), fuzzBytes(data, size));
    return QDir(folder);
}

inline void fuzzReadMessageSet(const MsgDataSet &set)
{
    const MsgDataSet::Data *d = set.data();
    FUZZ_CHECK(d);
    auto isChat = [&](const _MsgChat *c) {
        for (const _MsgChat *held : d->chats)
            if (held == c)
                return true;
        return false;
    };
    auto isHandle = [&](const _MsgHandle *h) {
        for (const _MsgHandle *held : d->handles)
            if (held == h)
                return true;
        for (const _MsgChat *c : d->chats)
            for (const _MsgHandle *held : c->handles)
                if (held == h)
                    return true;
        return false;
    };
    for (const _MsgChat *chat : set.chatList())
        (void)chat->chat_identifier.size();
    for (const _MsgMessage *m : set.messageList()) {
        FUZZ_CHECK(!m->chat || isChat(m->chat), QStringLiteral("a message points outside its set"));
        FUZZ_CHECK(!m->sender || isHandle(m->sender), QStringLiteral("a sender outside the set"));
        (void)messageText(m);
        (void)messageFingerprint(m);
        for (const _MsgAttachment *a : m->attachments)
            FUZZ_CHECK(a && d->attachments.values().contains(const_cast<_MsgAttachment *>(a)),
                       QStringLiteral("an attachment outside the set"));
    }
}
