#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <plist/plist.h>

// The simulated world that the stand-in device library and backup tool play:
// its devices, their lockdown values, results, services and backup contents,
// and the arrival and removal events. Read from the JSON file named by
// LARKSPAN_DEVICE_SCENARIO; README.md beside this folder gives the format.
inline constexpr char kScenarioVariable[] = "LARKSPAN_DEVICE_SCENARIO";
inline constexpr char kJournalVariable[] = "LARKSPAN_DEVICE_JOURNAL";

struct SimService
{
    QString kind;                   // "file_relay" or "peer"
    QMap<QString, QString> sources; // source name -> absolute folder
    QJsonObject answer;             // sent in place of the usual answer when not empty
    QString archiveFile;            // absolute; its bytes are sent in place of an archive
    QString peerPath;               // "peer": absolute path of the Unix socket the service connects to
};

struct SimBackup
{
    QMap<QString, QString> domains; // backup domain -> absolute folder
    int durationMs = 0;
    QString standardOutput;
    QString standardError;
    int exitCode = 0;
    QString restoreInto; // absolute; empty: a restore only checks the backup
};

struct SimDevice
{
    QString id;
    bool paired = true;
    QJsonObject values;          // domain ("" for the global one) -> {key: value}
    QMap<QString, int> results;  // function name -> result code
    QMap<QString, SimService> services; // service name -> peer
    SimBackup backup;
};

struct SimEvent
{
    int afterMs = 0; // after the previous event (or the subscription)
    int device = 0;  // index into devices
    unsigned int message = 0;
};

struct SimScenario
{
    QList<SimDevice> devices;
    QList<SimEvent> events;
    QString error; // why the file could not be used; empty when it could

    // The scenario of the file; an unreadable or malformed file gives no
    // devices and says why in error.
    static SimScenario load(const QString &path);
    // The file named by the environment, or no devices.
    static SimScenario fromEnvironment();

    int indexOf(const QString &id) const;
};

// A scenario value as a property-list node (the caller frees it); null for a
// JSON null. Objects of one member "$data" (base64), "$date" (ISO 8601) or
// "$real" (a number kept as real) make data, a date and a real number.
plist_t simValueToPlist(const QJsonValue &value);

// Appends one line to the journal named by LARKSPAN_DEVICE_JOURNAL, if any.
void simJournal(const QString &line);
