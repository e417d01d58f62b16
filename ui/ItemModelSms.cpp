#include "ItemModelSms.h"

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QLocale>
#include <QSize>

#include "MessageIdentity.h"
#include "MessageText.h"
#include "ViewIcon.h"

namespace
{

constexpr int kColumns = 4;
constexpr int kRowHeight = 23;

QImage serviceIcon(const _MsgMessage *m)
{
    const bool sent = m->is_from_me != 0;
    if (m->service.compare(QLatin1String("iMessage"), Qt::CaseInsensitive) == 0)
        return viewIcon(sent ? QStringLiteral(":/res/imsg-send.png") : QStringLiteral(":/res/imsg-rec.png"));
    return viewIcon(sent ? QStringLiteral(":/res/icon_sms-sent.png") : QStringLiteral(":/res/icon_sms-receive.png"));
}

} // namespace

ItemModelSms::ItemModelSms(QObject *parent)
    : QAbstractItemModel(parent)
{
}

QModelIndex ItemModelSms::index(int row, int column, const QModelIndex &parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    if (column == 0)
        return createIndex(row, 0, m_messages.at(row));
    return createIndex(row, column);
}

QModelIndex ItemModelSms::parent(const QModelIndex &) const
{
    return QModelIndex();
}

int ItemModelSms::rowCount(const QModelIndex &parent) const
{
    // A flat list: no cell has children, whichever column it is in.
    return parent.isValid() ? 0 : int(m_messages.size());
}

int ItemModelSms::columnCount(const QModelIndex &) const
{
    return kColumns;
}

QVariant ItemModelSms::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() >= m_messages.size())
        return QVariant();
    const _MsgMessage *m = m_messages.at(index.row());
    if (!m)
        return QVariant();
    const bool sent = m->is_from_me != 0;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case 0:
            return QLocale().toString(appleTimeToDateTime(m->date), QLocale::ShortFormat);
        case 1:
            if (m->item_type != 0)
                return QString();
            return sent ? tr("To") : tr("From");
        case 2:
            if (m->item_type != 0)
                return m->chat ? m->chat->displayName(false) : QString();
            return m->senderName();
        case 3:
            return messageText(m);
        default:
            return QVariant();
        }
    case Qt::DecorationRole:
        if (index.column() != 0)
            return QVariant();
        return serviceIcon(m);
    case Qt::BackgroundRole:
        return sent ? QBrush(QColor(245, 255, 226)) : QBrush(QColor(255, 255, 255));
    case Qt::ForegroundRole:
        if (m->_deleted)
            return QBrush(QColor(255, 0, 0));
        return QVariant();
    case Qt::SizeHintRole:
        return QSize(0, kRowHeight);
    default:
        return QVariant();
    }
}

QVariant ItemModelSms::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case 0:
        return tr("Date");
    case 1:
        return tr("Flag");
    case 2:
        return tr("Contact");
    case 3:
        return tr("Content");
    default:
        return QVariant();
    }
}

void ItemModelSms::setMessages(const QList<_MsgMessage *> &messages)
{
    beginResetModel();
    m_messages = messages;
    endResetModel();
}

void ItemModelSms::clear()
{
    setMessages(QList<_MsgMessage *>());
}

QModelIndex ItemModelSms::rowIndex(int row) const
{
    return index(row, 0);
}

_MsgMessage *ItemModelSms::messageOf(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this || index.column() != 0)
        return nullptr;
    return static_cast<_MsgMessage *>(index.internalPointer());
}
