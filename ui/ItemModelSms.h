#pragma once

#include <QAbstractItemModel>
#include <QList>

#include "_MsgMessage.h"

// The message list: one row per message, in the order handed over, with
// date, direction, contact and text. The messages are not owned; they belong
// to the record set of a source of the tree, and clear() or setMessages()
// must drop them from here before that set goes.
class ItemModelSms : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit ItemModelSms(QObject *parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void setMessages(const QList<_MsgMessage *> &messages);
    const QList<_MsgMessage *> &messages() const { return m_messages; }
    void clear();

    // The column-0 index of a row, which carries the row's message; invalid
    // out of range.
    QModelIndex rowIndex(int row) const;
    // The message a column-0 index carries; null for any other index.
    _MsgMessage *messageOf(const QModelIndex &index) const;

private:
    QList<_MsgMessage *> m_messages;
};
