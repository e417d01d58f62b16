#include "DeviceAppDataDir.h"

// Stand-in until the application-data folder helpers are part of core: the
// default location of that folder, without its redirect file. Once they are,
// this becomes a call of appDataDir().
QDir deviceAppDataDir()
{
    const QDir home = QDir::home();
    const QString roaming = home.exists(QStringLiteral("AppData/Roaming")) ? home.filePath(QStringLiteral("AppData/Roaming"))
                                                                           : home.filePath(QStringLiteral("Application Data"));
    const QString folder = roaming + QStringLiteral("/Quenmarvile/7A31C09E55D24fb8B1E6D0934C2AF7B1");
    QDir().mkpath(folder);
    return QDir(folder);
}
