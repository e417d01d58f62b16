#include "IOSDevice.h"

#include "AppFolders.h"
#include "Lockdown.h"
#include "MessageBoxes.h"
#include "SafePath.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <stdexcept>

QDir IOSDevice::cacheDir() const
{
    // The identifier comes from the device (or from a folder name), so it
    // must name exactly one entry of ios_cache and nothing above or below it.
    if (!isSafePathComponent(uniqueDeviceId)) {
        const QString message = QCoreApplication::translate("IOSDevice", "The device identifier \"%1\" cannot name a cache folder.")
                                    .arg(uniqueDeviceId.toHtmlEscaped());
        throw std::runtime_error(message.toUtf8().toStdString());
    }
    const QDir dir(appDataDir().filePath(QStringLiteral("ios_cache/") + uniqueDeviceId));
    QDir().mkpath(dir.path());
    return dir;
}

QList<int> IOSDevice::versionNumbers() const
{
    static const QRegularExpression number(QStringLiteral("\\.?(\\d+)"));
    QList<int> numbers;
    QRegularExpressionMatchIterator it = number.globalMatch(productVersion);
    while (it.hasNext())
        numbers.append(it.next().captured(1).toInt());
    return numbers;
}

void IOSDevice::checkBackupReadable() const
{
    const QList<int> numbers = versionNumbers();
    if (numbers.isEmpty() || numbers.first() < 10)
        return;
    const QString message =
        QCoreApplication::translate("IOSDevice", "This iPhone runs iOS %1. The messages of iOS 10 and later cannot be read: "
                                                 "their backups list the phone's files in Manifest.db, which this program "
                                                 "does not read (it reads the Manifest.mbdb of iOS 5 to 9).")
            .arg(productVersion.toHtmlEscaped());
    throw std::runtime_error(message.toUtf8().toStdString());
}

bool IOSDevice::checkBackupSettings(bool checkCloud, bool checkEncrypt) const
{
    CFType settings;
    try {
        const QList<CFType> values = mobiledevice_copy_values(handle, {QString()}, QStringLiteral("com.apple.mobile.backup"));
        if (!values.isEmpty())
            settings = values.first();
    } catch (const std::exception &) {
        return true;
    }
    if (!settings.ref())
        return true;

    const auto warn = [](const QString &text, const char *picture) {
        showWarning(QStringLiteral("%1<br/><br/><img src=\"%2\"/>").arg(text, QLatin1String(picture)));
    };
    if (checkCloud && settings.value(QStringLiteral("CloudBackupEnabled")).toBool(false)) {
        warn(QCoreApplication::translate("IOSDevice", "Failed to transfer data to device. Please turn off iCloud backup on "
                                                      "your iPhone to try again."),
             ":res/close_icloudbk.jpg");
        return false;
    }
    if (checkEncrypt && settings.value(QStringLiteral("WillEncrypt")).toBool(false)) {
        warn(QCoreApplication::translate("IOSDevice", "Failed to transfer data to device. Your iTunes backup is encrypted. "
                                                      "Please run iTunes on computer and then uncheck \"Encrypt iPhone "
                                                      "backup\" option to try again."),
             ":res/close_itunesbkenc.jpg");
        return false;
    }
    return true;
}
