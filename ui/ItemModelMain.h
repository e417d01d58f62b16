#pragma once

#include <QSharedPointer>

#include "AbsMessageDb.h"
#include "AbsTreeItemModel.h"

class IOSDevice;
class _AbsDBItemNode;
class _IOSDeviceItemNode;
class _LocalDBItemNode;
class _RootDeviceItemNode;
class _RootLocalDBItemNode;

// The source tree of the main window: a root of devices and a root of local
// databases, their sources, and each source's conversations.
class ItemModelMain : public AbsTreeItemModel
{
    Q_OBJECT

public:
    explicit ItemModelMain(QObject *parent = nullptr);

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    _RootDeviceItemNode *deviceRoot() const { return m_deviceRoot; }
    _RootLocalDBItemNode *localDbRoot() const { return m_localDbRoot; }

    // Appends a device under the device root. device is the node's own copy
    // of the device record and name the device's name (the record's
    // deviceName).
    _IOSDeviceItemNode *addDevice(QSharedPointer<AbsMessageDb> db, QSharedPointer<const IOSDevice> device,
                                  const QString &name);
    // Appends a local database under the local-databases root.
    _LocalDBItemNode *addLocalDb(QSharedPointer<AbsMessageDb> db, const QString &name);

    // Replaces the conversation nodes of a source with one node per group of
    // its record set's conversations that share a chat identifier, newest
    // group first.
    void loadChatSessions(_AbsDBItemNode *node);

private:
    _RootDeviceItemNode *m_deviceRoot;
    _RootLocalDBItemNode *m_localDbRoot;
};
