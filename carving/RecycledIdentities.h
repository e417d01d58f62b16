#pragma once

#include <QHash>
#include <QSet>
#include <QString>

class MessageRecycleDb;
struct _MsgMessage;

// The messages a scan must not store again, held in memory: those the
// recycle database has already and those stored since, told apart as the
// recycle database tells them (the same guid, or the same date, direction
// and text). One query at the start replaces one per candidate.
class RecycledIdentities
{
public:
    // Reads what the recycle database holds (SQL errors throw).
    void load(MessageRecycleDb &recycle);
    bool contains(const _MsgMessage &m) const;
    void add(const _MsgMessage &m);

private:
    QSet<QString> m_guids;
    // date and direction -> texts
    QMultiHash<qint64, QString> m_texts;
};

// The date, direction and text of messages (the live ones of a table), for
// telling whether a found message is one of them.
class MessageTriples
{
public:
    void add(qint64 date, int isFromMe, const QString &text) { m_texts.insert(key(date, isFromMe), text); }
    bool contains(qint64 date, int isFromMe, const QString &text) const
    {
        for (auto it = m_texts.constFind(key(date, isFromMe)); it != m_texts.constEnd() && it.key() == key(date, isFromMe);
             ++it) {
            if (it.value() == text)
                return true;
        }
        return false;
    }
    void reserve(qsizetype n) { m_texts.reserve(n); }

private:
    static qint64 key(qint64 date, int isFromMe) { return date * 2 + (isFromMe ? 1 : 0); }
    QMultiHash<qint64, QString> m_texts;
};
