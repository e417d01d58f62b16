#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>

#include <utility>
#include <vector>

#include "CursorAhead.h"
#include "IOS5MmsParts.h"
#include "MsgDataSet.h"
#include "TextPool.h"

class CountryCache;

// Makes the records of the rows of an iOS 5 message query and links them to
// their conversations and senders: SMS rows to the msg_group conversation
// they name, iMessage rows to the conversation of their room or handle.
// Records the set holds already are left alone. Each conversation's
// messages are gathered in row order and put into its hash by link(), the
// hash made as large as it will get.
class IOS5MessageRows
{
public:
    // The select text of the query over the message table (as m), reading
    // each column the file has (present: its column names, lower case) and
    // NULL for each it lacks.
    static QString selectSql(const QSet<QString> &present);
    // The cursor fields of the query's rows, by place from the first row.
    static std::vector<CursorAhead::Field> fields(const Sqlite3Cursor &first);

    // parts: the MMS parts of the rows to come, by message rowid.
    IOS5MessageRows(MsgDataSet &set, CountryCache &countries, const IOS5MmsParts::ByMessage &parts);

    // The record of the cursor's current row.
    void add(CursorAhead &c);
    // Puts the messages gathered into their conversations' hashes.
    void link();
    // The MMS among the records made, with their parts.
    const QList<QPair<_MsgMessage *, const QList<IOS5MmsParts::Part> *>> &mms() const { return m_mms; }

    // A number of the file as an int field of a record; values a file should
    // not hold saturate instead of wrapping into unrelated numbers.
    static int saturated(qint64 value);
    // An SMS row's date (seconds since 1970) as seconds since 2001.
    static int smsDate(qint64 unixSeconds);

private:
    _MsgChat *iMessageChat(const QString &identifier) const;
    // Fills the iMessage or SMS half of m; gives its conversation and the
    // key of its sender among the conversation's handles.
    _MsgChat *readIMessage(CursorAhead &c, _MsgMessage &m, QString &senderKey);
    _MsgChat *readSms(CursorAhead &c, _MsgMessage &m, QString &senderKey);

    MsgDataSet::Data &m_data;
    CountryCache &m_countries;
    const IOS5MmsParts::ByMessage &m_parts;
    // In ascending id order, so that of several conversations with one
    // identifier the same one wins every time. An iMessage looks for an
    // iMessage conversation first, so that it is not moved into an SMS
    // conversation with the same correspondent.
    QHash<QString, _MsgChat *> m_anyByIdentifier;
    QHash<QString, _MsgChat *> m_iMessageByIdentifier;
    // The texts that repeat from row to row (accounts, country codes,
    // service centres) are shared by the records.
    TextPool m_texts;
    QHash<_MsgChat *, std::vector<std::pair<qint64, _MsgMessage *>>> m_pending;
    QList<QPair<_MsgMessage *, const QList<IOS5MmsParts::Part> *>> m_mms;
};
