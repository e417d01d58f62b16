#pragma once

#include <QString>

#include <exception>

// What a call threw, as text; "(no error)" when it returned.
template <class F>
QString thrownText(F &&call)
{
    try {
        call();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return QStringLiteral("(no error)");
}
