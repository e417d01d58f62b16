#pragma once

#include <QByteArray>
#include <QString>

// One correspondent: a phone number or an e-mail address, with the contact
// name and picture found for it in the address book.
struct _MsgHandle
{
    qint64 rowid = 0;
    QString id;
    QString country;
    QString service = QStringLiteral("SMS");
    QString uncanonicalized_id;
    QString _ct_name;
    QByteArray _photo;

    _MsgHandle() = default;
    _MsgHandle(const _MsgHandle &) = delete;
    _MsgHandle &operator=(const _MsgHandle &) = delete;

    // The contact name, "name (id)" when withId is true; the bare id when no
    // contact name is known.
    QString displayName(bool withId) const;
};
