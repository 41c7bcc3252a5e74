#include "charttime.h"

#include <QDateTime>

#include <cmath>

double CChart_chartTime2(int unixSeconds)
{
    return ChartTimeUnixEpoch + double(unixSeconds);
}

int ChartTime::localOffset(double chartTime)
{
    // The local reading taken as if it were UTC, less the instant: offsetFromUtc() would turn the
    // reading back into an instant through mktime, several times slower.
    const auto ms = qint64(std::round((chartTime - ChartTimeUnixEpoch) * 1000.0));
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
    return int((QDateTime(local.date(), local.time(), Qt::UTC).toMSecsSinceEpoch() - ms) / 1000);
}
