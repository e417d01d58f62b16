#pragma once

#include <QString>

// What opens a record synchronisation session: the data class, sent with
// every message of the session, and the two anchors of the last sync.
struct mobiledevice_sync_anchors
{
    mobiledevice_sync_anchors(const QString &dataClass, const QString &deviceAnchor, const QString &computerAnchor)
        : dataClass(dataClass)
        , deviceAnchor(deviceAnchor)
        , computerAnchor(computerAnchor)
    {
    }

    QString dataClass;
    QString deviceAnchor;
    QString computerAnchor;
};
