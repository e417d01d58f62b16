#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <vector>

#include "MessageIdentity.h"
#include "_MsgMessage.h"

// A guid's digest over its UTF-8 bytes, as the database compares them.
// Seeded per process, as a file may hold any texts.
size_t guidDigest(QByteArrayView utf8);
// The same of a guid as a text, without making its UTF-8 when it is short
// and ASCII, as guids are: the threads taking them ahead then allocate
// nothing, which a backup of duplicates counts.
size_t guidDigest(const QString &guid);

// The fingerprints of the messages a run will write, and their guids'
// digests, taken ahead of their use a block at a time, on several threads
// for a large block: taken in one pass apart from the database work, they
// cost a backup of duplicates about a fifth less. The run asks for them in
// the list's order; a message asked for out of that order gets no answer,
// and the caller takes them itself.
class FingerprintsAhead
{
public:
    struct Coming
    {
        FingerprintDigest fingerprint{};
        size_t guid = 0;
    };

    // Forgets the list before; messages must stay as they are until the
    // next reset.
    void reset(const QList<_MsgMessage *> &messages = {});

    // The digests of message when it is the next one of the list, which it
    // then passes; null otherwise. Valid until the next call.
    const Coming *take(const _MsgMessage *message);

private:
    void computeBlock(qsizetype from);

    QList<_MsgMessage *> m_messages;
    qsizetype m_next = 0;
    qsizetype m_blockFrom = 0;
    std::vector<Coming> m_block;
};
