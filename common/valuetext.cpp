#include "valuetext.h"

#include <cmath>

QString valueText(double value)
{
    if (std::isfinite(value) && std::fabs(value) >= ValueTextExponentFrom)
        return QString::number(value, 'e', 2);
    return QString::number(value, 'f', 2);
}

QString durationText(qint64 seconds)
{
    const qint64 s = qMax<qint64>(0, seconds);
    return QString::number(s / 3600) + QLatin1Char(':') +
           QStringLiteral("%1:%2")
               .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
               .arg(s % 60, 2, 10, QLatin1Char('0'));
}
