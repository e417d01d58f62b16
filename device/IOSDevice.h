#pragma once

#include <QDir>
#include <QList>
#include <QString>

// One connected device: what lockdown said about it when it arrived, the
// device library's handle for it and the folder that keeps the data copied
// from it. A plain value: copies are independent (the texts are shared until
// one side changes).
class IOSDevice
{
public:
    IOSDevice() = default;
    IOSDevice(const IOSDevice &) = default;
    IOSDevice(IOSDevice &&) = default;
    IOSDevice &operator=(const IOSDevice &) = default;
    IOSDevice &operator=(IOSDevice &&) = default;
    virtual ~IOSDevice() = default;

    // <application-data folder>/ios_cache/<uniqueDeviceId>, created with its
    // missing parents when absent. A folder that cannot be created is still
    // returned; the caller's file operations fail on it later. Throws
    // std::runtime_error when uniqueDeviceId cannot name a single folder inside
    // ios_cache (empty, ".", "..", or holding a path separator or NUL).
    QDir cacheDir() const;

    // The numbers of productVersion in order ("6.1.3" gives 6, 1, 3); empty
    // when there is none.
    QList<int> versionNumbers() const;

    // True when the device's backup settings let data move through a device
    // backup: iCloud backup off (when checkCloud) and backup encryption off
    // (when checkEncrypt). Otherwise shows a warning with a picture of the
    // setting to change and returns false; only the first setting found on is
    // named. A device whose backup settings cannot be read passes. GUI thread.
    bool checkBackupSettings(bool checkCloud, bool checkEncrypt) const;

    // Throws std::runtime_error naming the system version when the device's
    // backups cannot be read here: from iOS 10 on a backup lists its files in
    // Manifest.db, not Manifest.mbdb. Asked before any device backup is taken.
    void checkBackupReadable() const;

    QString deviceName;                  // lockdown "DeviceName"
    QString uniqueDeviceId;              // lockdown "UniqueDeviceID"
    QString mobileSubscriberCountryCode; // lockdown "MobileSubscriberCountryCode", may be empty
    QString productVersion;              // lockdown "ProductVersion", such as "6.1.3"
    QString productType;                 // lockdown "ProductType"
    void *handle = nullptr;              // the device library's handle; null when none
};
