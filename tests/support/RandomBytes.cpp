#include "RandomBytes.h"

#include <QRandomGenerator>

QByteArray randomBytes(qsizetype n, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray out(n, '\0');
    for (char &c : out)
        c = char(rng.bounded(256));
    return out;
}
