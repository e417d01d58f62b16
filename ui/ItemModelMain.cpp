#include "ItemModelMain.h"

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QSize>

#include "MessageOrder.h"
#include "ViewIcon.h"
#include "_ChatSessionItemNode.h"
#include "_IOSDeviceItemNode.h"
#include "_LocalDBItemNode.h"
#include "_RootDeviceItemNode.h"
#include "_RootLocalDBItemNode.h"

namespace
{

constexpr int kRowHeight = 25;
// No node of this type is made, but it keeps its picture.
constexpr int kOtherPhoneType = 4;

QImage iconOfType(int type)
{
    switch (type) {
    case _RootDeviceItemNode::Type:
        return viewIcon(QStringLiteral(":/res/devices.png"));
    case _RootLocalDBItemNode::Type:
        return viewIcon(QStringLiteral(":/res/databases.png"));
    case _IOSDeviceItemNode::Type:
        return viewIcon(QStringLiteral(":/res/iphone.png"));
    case kOtherPhoneType:
        return viewIcon(QStringLiteral(":/res/android.png"));
    case _LocalDBItemNode::Type:
        return viewIcon(QStringLiteral(":/res/database.png"));
    default:
        return QImage();
    }
}

QImage contactPhoto(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QImage();
    QImage photo;
    if (!photo.loadFromData(bytes, "JPEG") && !photo.loadFromData(bytes, "PNG"))
        return QImage();
    return photo.scaledToHeight(kViewIconWidth, Qt::FastTransformation);
}

// The contact's photo for a one-to-one conversation, the group picture for
// a group, else the contact picture.
QImage sessionPicture(const _ChatSessionItemNode *session)
{
    const _MsgChat *chat = session->chats.isEmpty() ? nullptr : session->chats.first();
    if (!chat)
        return QImage();
    if (chat->handles.size() > 1)
        return viewIcon(QStringLiteral(":/res/group.png"));
    QImage photo;
    const QList<_MsgHandle *> members = chat->handleList();
    if (members.size() == 1)
        photo = contactPhoto(members.first()->_photo);
    if (photo.isNull())
        photo = viewIcon(QStringLiteral(":/res/contact.png"));
    return photo;
}

} // namespace

ItemModelMain::ItemModelMain(QObject *parent)
    : AbsTreeItemModel(parent)
    , m_deviceRoot(new _RootDeviceItemNode(tr("IDS_ROOT_DEVICE")))
    , m_localDbRoot(new _RootLocalDBItemNode(tr("IDS_ROOT_LOCALDB")))
{
    appendNode(nullptr, m_deviceRoot);
    appendNode(nullptr, m_localDbRoot);
}

int ItemModelMain::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant ItemModelMain::headerData(int, Qt::Orientation, int) const
{
    return QVariant();
}

QVariant ItemModelMain::data(const QModelIndex &index, int role) const
{
    _ItemNode *node = nodeOf(index);
    if (!node || index.row() < 0 || index.column() < 0)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return node->name;
    case Qt::DecorationRole: {
        if (node->type != _ChatSessionItemNode::Type) {
            const QImage icon = iconOfType(node->type);
            return icon.isNull() ? QVariant() : QVariant(icon);
        }
        auto *session = static_cast<_ChatSessionItemNode *>(node);
        if (!session->decorationMade) {
            session->decoration = sessionPicture(session);
            session->decorationMade = true;
        }
        return session->decoration.isNull() ? QVariant() : QVariant(session->decoration);
    }
    case Qt::ForegroundRole:
        if (node->type == _ChatSessionItemNode::Type && static_cast<_ChatSessionItemNode *>(node)->recycled)
            return QBrush(QColor(255, 0, 0));
        return QVariant();
    case Qt::SizeHintRole:
        return QSize(0, kRowHeight);
    default:
        return QVariant();
    }
}

_IOSDeviceItemNode *ItemModelMain::addDevice(QSharedPointer<AbsMessageDb> db, QSharedPointer<const IOSDevice> device,
                                             const QString &name)
{
    auto *node = new _IOSDeviceItemNode(m_deviceRoot, name, std::move(device), std::move(db));
    appendNode(m_deviceRoot, node);
    return node;
}

_LocalDBItemNode *ItemModelMain::addLocalDb(QSharedPointer<AbsMessageDb> db, const QString &name)
{
    auto *node = new _LocalDBItemNode(m_localDbRoot, name, std::move(db));
    appendNode(m_localDbRoot, node);
    return node;
}

void ItemModelMain::loadChatSessions(_AbsDBItemNode *node)
{
    if (!node)
        return;
    removeChildren(node);
    QList<_MsgChatGroup> groups = groupChatsByIdentifier(node->dataSet);
    sortChatGroups(groups);
    QList<_ItemNode *> sessions;
    sessions.reserve(groups.size());
    for (const _MsgChatGroup &group : groups)
        sessions.append(new _ChatSessionItemNode(node, group));
    appendNodes(node, sessions);
}
