#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

#include "FakeUsbmuxd.h"

// The shipped device support (devicestack/) in the build tree.
QString deviceStackDir();

// Points both install folders at the shipped device support and loads it
// through the program's loader; true when both libraries loaded.
bool loadDeviceStack(QString *error = nullptr);

// A fake phone daemon playing a scenario written into a folder of its own.
class FakePhoneSetup
{
public:
    FakePhoneSetup();

    QString path(const QString &relative = QString()) const;
    // Writes bytes to a file in the folder, creating its parent folders.
    void writeFile(const QString &relative, const QByteArray &bytes) const;

    // Writes the scenario and starts the daemon on it; false with the reason.
    bool start(const QJsonObject &scenario, QString *error = nullptr);
    FakeUsbmuxd &daemon() { return *m_daemon; }
    QStringList journal() const { return m_daemon ? m_daemon->journal() : QStringList(); }
    // The journal lines of one phone's lockdown, without the prefix and the
    // identifier: "GetValue - ProductVersion", "StartSession", ...
    QStringList lockdownOf(const QString &udid) const;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<FakeUsbmuxd> m_daemon;
};
