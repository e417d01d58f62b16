#pragma once

#include <QByteArray>
#include <QtGlobal>

// n bytes that look random but are the same for the same seed on every run.
QByteArray randomBytes(qsizetype n, quint32 seed);
