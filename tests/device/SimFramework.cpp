#include "SimFramework.h"

#include <QFile>

#include "MobileDeviceFramework.h"

QString simFrameworkDir()
{
    return QStringLiteral(LARKSPAN_SIM_DIR);
}

bool loadSimFramework(QString *error)
{
    qputenv(kMobileDeviceDirVariable, QFile::encodeName(QStringLiteral(LARKSPAN_FAKE_FRAMEWORK_DIR "/mobiledevice")));
    qputenv(kApplicationSupportDirVariable, QFile::encodeName(simFrameworkDir()));
    QString message;
    const bool loaded = mobiledevice_load_frameworks(message);
    if (error)
        *error = message;
    return loaded;
}
