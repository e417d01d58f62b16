#include "SimScenario.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <mutex>

namespace
{

constexpr qint64 kMaxScenarioSize = 16 * 1024 * 1024;

QString absoluteIn(const QDir &base, const QString &path)
{
    return path.isEmpty() ? QString() : QDir::cleanPath(base.absoluteFilePath(path));
}

QMap<QString, QString> folderMap(const QJsonObject &object, const QDir &base)
{
    QMap<QString, QString> folders;
    for (auto it = object.begin(); it != object.end(); ++it)
        folders.insert(it.key(), absoluteIn(base, it.value().toString()));
    return folders;
}

SimDevice readDevice(const QJsonObject &o, const QDir &base)
{
    SimDevice d;
    d.id = o.value(QLatin1String("id")).toString();
    d.paired = o.value(QLatin1String("paired")).toBool(true);
    d.values = o.value(QLatin1String("values")).toObject();
    const QJsonObject results = o.value(QLatin1String("results")).toObject();
    for (auto it = results.begin(); it != results.end(); ++it)
        d.results.insert(it.key(), it.value().toInt());
    const QJsonObject services = o.value(QLatin1String("services")).toObject();
    for (auto it = services.begin(); it != services.end(); ++it) {
        const QJsonObject s = it.value().toObject();
        SimService service;
        service.kind = s.value(QLatin1String("kind")).toString(QStringLiteral("file_relay"));
        service.sources = folderMap(s.value(QLatin1String("sources")).toObject(), base);
        service.answer = s.value(QLatin1String("answer")).toObject();
        service.archiveFile = absoluteIn(base, s.value(QLatin1String("archive_file")).toString());
        service.peerPath = absoluteIn(base, s.value(QLatin1String("path")).toString());
        d.services.insert(it.key(), service);
    }
    const QJsonObject b = o.value(QLatin1String("backup")).toObject();
    d.backup.domains = folderMap(b.value(QLatin1String("domains")).toObject(), base);
    d.backup.durationMs = b.value(QLatin1String("duration_ms")).toInt();
    d.backup.standardOutput = b.value(QLatin1String("stdout")).toString();
    d.backup.standardError = b.value(QLatin1String("stderr")).toString();
    d.backup.exitCode = b.value(QLatin1String("exit_code")).toInt();
    d.backup.restoreInto = absoluteIn(base, b.value(QLatin1String("restore_into")).toString());
    return d;
}

} // namespace

SimScenario SimScenario::load(const QString &path)
{
    SimScenario s;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        s.error = QStringLiteral("cannot open the scenario %1: %2").arg(path, file.errorString());
        return s;
    }
    if (file.size() > kMaxScenarioSize) {
        s.error = QStringLiteral("the scenario %1 is larger than %2 bytes").arg(path).arg(kMaxScenarioSize);
        return s;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!doc.isObject()) {
        s.error = QStringLiteral("the scenario %1 is no JSON object: %2").arg(path, parseError.errorString());
        return s;
    }
    const QDir base = QFileInfo(path).absoluteDir();
    const QJsonObject root = doc.object();
    for (const QJsonValue &v : root.value(QLatin1String("devices")).toArray())
        s.devices.append(readDevice(v.toObject(), base));
    if (root.contains(QLatin1String("events"))) {
        for (const QJsonValue &v : root.value(QLatin1String("events")).toArray()) {
            const QJsonObject e = v.toObject();
            SimEvent event;
            event.afterMs = qMax(0, e.value(QLatin1String("after_ms")).toInt());
            event.device = s.indexOf(e.value(QLatin1String("device")).toString());
            event.message = unsigned(qMax(0, e.value(QLatin1String("message")).toInt()));
            if (event.device < 0) {
                s.error = QStringLiteral("an event names the unknown device %1").arg(e.value(QLatin1String("device")).toString());
                continue;
            }
            s.events.append(event);
        }
    } else {
        for (int i = 0; i < s.devices.size(); ++i)
            s.events.append(SimEvent{0, i, 1});
    }
    return s;
}

SimScenario SimScenario::fromEnvironment()
{
    if (qEnvironmentVariableIsEmpty(kScenarioVariable)) {
        SimScenario s;
        s.error = QStringLiteral("%1 names no scenario").arg(QLatin1String(kScenarioVariable));
        return s;
    }
    return load(qEnvironmentVariable(kScenarioVariable));
}

int SimScenario::indexOf(const QString &id) const
{
    for (int i = 0; i < devices.size(); ++i) {
        if (devices.at(i).id == id)
            return i;
    }
    return -1;
}

plist_t simValueToPlist(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QJsonValue::Double: {
        const double d = value.toDouble();
        if (std::floor(d) == d && std::fabs(d) < 9.2e18)
            return plist_new_uint(uint64_t(int64_t(d)));
        return plist_new_real(d);
    }
    case QJsonValue::String:
        return plist_new_string(value.toString().toUtf8().constData());
    case QJsonValue::Array: {
        plist_t array = plist_new_array();
        for (const QJsonValue &item : value.toArray()) {
            if (plist_t node = simValueToPlist(item))
                plist_array_append_item(array, node);
        }
        return array;
    }
    case QJsonValue::Object: {
        const QJsonObject o = value.toObject();
        if (o.size() == 1 && o.contains(QLatin1String("$data"))) {
            const QByteArray bytes = QByteArray::fromBase64(o.value(QLatin1String("$data")).toString().toLatin1());
            return plist_new_data(bytes.constData(), uint64_t(bytes.size()));
        }
        if (o.size() == 1 && o.contains(QLatin1String("$date"))) {
            const QDateTime t = QDateTime::fromString(o.value(QLatin1String("$date")).toString(), Qt::ISODate);
            return plist_new_date(int32_t(t.toSecsSinceEpoch() - 978307200), 0);
        }
        if (o.size() == 1 && o.contains(QLatin1String("$real")))
            return plist_new_real(o.value(QLatin1String("$real")).toDouble());
        plist_t dict = plist_new_dict();
        for (auto it = o.begin(); it != o.end(); ++it) {
            if (plist_t node = simValueToPlist(it.value()))
                plist_dict_set_item(dict, it.key().toUtf8().constData(), node);
        }
        return dict;
    }
    default:
        return nullptr;
    }
}

void simJournal(const QString &line)
{
    static std::mutex mutex;
    if (qEnvironmentVariableIsEmpty(kJournalVariable))
        return;
    std::lock_guard<std::mutex> lock(mutex);
    QFile file(qEnvironmentVariable(kJournalVariable));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write((line + QLatin1Char('\n')).toUtf8());
}
