#include "scheduledperiod.h"

QString ScheduledPeriod::key() const
{
    return ReportScheduleSettings::kindName(kind) + QLatin1Char('.') + first.toString(Qt::ISODate);
}

QString ScheduledPeriod::periodText() const
{
    if (first == last)
        return first.toString(Qt::ISODate);
    return first.toString(Qt::ISODate) + QStringLiteral(" to ") + last.toString(Qt::ISODate);
}

QString ScheduledPeriod::fileName() const
{
    return ReportScheduleSettings::kindName(kind) + QLatin1Char('-') + first.toString(Qt::ISODate) +
           QStringLiteral(".pdf");
}
