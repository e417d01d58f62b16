#include "Errors.h"

#include <stdexcept>

void throwError(const QString &text)
{
    throw std::runtime_error(text.toStdString());
}

void throwCannotCreate(const QString &target, const QString &reason)
{
    throwError(QStringLiteral("can not create %1. %2").arg(target, reason));
}
