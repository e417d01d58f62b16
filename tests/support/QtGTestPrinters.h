#pragma once

#include <QByteArray>
#include <QString>

#include <ostream>

// Lets failing expectations show Qt texts as text (found by argument-dependent
// look-up: QString and QByteArray live in the global namespace).
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray &bytes, std::ostream *os)
{
    *os << "QByteArray(\"" << bytes.toStdString() << "\")";
}
