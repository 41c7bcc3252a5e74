#pragma once

#include <QList>
#include <QtGlobal>

// The clock changes of the local zone a test process runs in (its TZ), for test rows on both
// sides of them.
class ClockChanges
{
public:
    // Instants, in milliseconds since 1970 UTC, at which the local clock changes its offset
    // during the year, oldest first; none for a zone without summer time.
    static QList<qint64> inYear(int year);
    // False when TZ names a zone the process does not keep to, e.g. for want of its zone data:
    // a test of local texts would then pass in UTC without testing anything.
    static bool zoneInEffect();
};
