#pragma once

#include <QString>
#include <QStringList>

#include <initializer_list>
#include <utility>

#include "CFType.h"

// Values for the device tests, built and shown in one line. The text form is
// canonical: dictionary keys in ascending order, reals with a fraction part
// ("2.0"), strings quoted, data as <hex>, so that a test compares a message
// with one string: ["DLMessageProcessMessage", {"MessageName": "Hello"}].

CFType cfStr(const QString &text);
CFType cfArray(std::initializer_list<CFType> items);
// An array of strings, as most DeviceLink messages are.
CFType cfNames(const QStringList &names);
CFType cfDict(std::initializer_list<std::pair<QString, CFType>> entries);

QString cfText(const CFType &value);
