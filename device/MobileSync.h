#pragma once

#include <QList>
#include <QString>

#include "CFType.h"
#include "mobiledevice_sync_anchors.h"

// A client of the device's record synchronisation service. Its messages are
// DeviceLink arrays whose names begin with "SD", the data class in element 1,
// all sent as XML. The functions keep no state between calls; the socket
// belongs to the caller, who closes it, also after a failure. Failures are
// std::runtime_error with UTF-8 text; failures of lockdown, the framing and
// DeviceLink pass through unchanged.

inline constexpr char kMobileSyncService[] = "com.apple.mobilesync";
inline constexpr char kTetheredSyncDomain[] = "com.apple.mobile.tethered_sync";

// Starts the service, runs the DeviceLink handshake and opens the session for
// the data class; with ping, tells the device that changes will be asked for.
// The socket is stored before the handshake.
void mobiledevice_sync_start(void *device, const mobiledevice_sync_anchors &anchors, int *socket, bool ping);

// Every records dictionary the device sends, as independent copies in the
// order received; each batch is acknowledged. A download that fails returns
// nothing.
QList<CFType> mobiledevice_sync_get_all_records(int socket, const QString &dataClass);

// Sends the computer's changes and returns an independent copy of the
// device's identifier remapping (empty when it sends none). Empty changes or
// actions are sent as the empty-parameter string, so that what follows keeps
// its position.
CFType mobiledevice_sync_process_changes(int socket, const CFType &changes, const QString &dataClass,
                                         const CFType &actions);

// Asks the device to clear every record of the class.
void mobiledevice_sync_clear_all_records(int socket, const QString &dataClass);

// Ends the session; waits up to an hour for the device's one answer, which is
// not examined.
void mobiledevice_sync_finish(int socket, const QString &dataClass);

// Switches the device's own tethered sync of a data class off (disable) or
// on through a lockdown value; returns the write's result code.
int mobiledevice_sync_set_tethered(void *device, const QString &key, bool disable);
