#pragma once

#include <QDir>
#include <QHash>
#include <QList>
#include <QString>

#include "MsgDataSet.h"

class Sqlite3DB;

// The parts of the MMS of an iOS 5 sms.db (its msg_pieces table), turned
// into what the iOS 6 layout carries: the text parts make a message's text,
// each other part an attachment (name and type as the MMS gave them, the
// file where the source folder holds it under Library/SMS/Parts).
class IOS5MmsParts
{
public:
    // One part of an MMS message (a row of msg_pieces): a text part's text,
    // or the name the MMS gave any other part.
    struct Part
    {
        qint64 rowid = 0;
        qint64 partId = 0;
        QString type; // media type, lower case, without parameters
        QString text;
        QString location;
    };
    using ByMessage = QHash<qint64, QList<Part>>;

    // root: the device's file system in the source folder.
    explicit IOS5MmsParts(const QDir &root);

    // Finds the select list of the parts query in the file's msg_pieces
    // (hasTable: whether it has one); none when the table is of no use.
    void readColumns(Sqlite3DB &db, bool hasTable);
    void clearColumns() { m_columns.clear(); }

    // The parts of the messages of an SMS conversation (chatId > 0) or of
    // all (0), by message rowid and in their order; the layout parts left
    // out. One pass over msg_pieces.
    ByMessage read(Sqlite3DB &db, qint64 chatId) const;
    // Text parts make the message's text, every other part an attachment
    // with a U+FFFC where it stands. Runs once the message is complete: the
    // attachments' guids follow from it.
    void apply(MsgDataSet::Data &d, _MsgMessage *m, const QList<Part> &parts);

    // The text the text parts of a message make (parts in their order), as
    // apply joins them, without the places of the other parts; empty when
    // none is a text part.
    static QString textOf(const QList<Part> &parts);
    // The media type of a part's content type, without its parameters, in
    // lower case.
    static QString mediaType(const QString &contentType);

private:
    // The copy of a part's file under the source folder's Library/SMS/Parts;
    // empty when it holds none.
    QString partFile(qint64 messageId, qint64 partId);

    QDir m_root;
    // The select list of the parts query; empty when the file has no usable
    // msg_pieces table.
    QString m_columns;
    // Part files of the source folder by "<message>-<part>", found once.
    QHash<QString, QString> m_partFiles;
    bool m_partFilesRead = false;
};
