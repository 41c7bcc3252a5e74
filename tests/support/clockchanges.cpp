#include "clockchanges.h"

#include <QDateTime>
#include <QTimeZone>

QList<qint64> ClockChanges::inYear(int year)
{
    const QDateTime from(QDate(year, 1, 1), QTime(0, 0), Qt::UTC);
    QList<qint64> changes;
    for (const QTimeZone::OffsetData& change :
         QTimeZone::systemTimeZone().transitions(from, from.addYears(1)))
        changes << change.atUtc.toMSecsSinceEpoch();
    return changes;
}

bool ClockChanges::zoneInEffect()
{
    const QByteArray name = qgetenv("TZ");
    if (name.isEmpty())
        return true;
    const QTimeZone zone(name);
    if (!zone.isValid())
        return false;
    // Winter and summer of either hemisphere.
    for (const qint64 seconds : {qint64(1767225600), qint64(1782864000)}) {
        const QDateTime instant = QDateTime::fromSecsSinceEpoch(seconds);
        if (instant.offsetFromUtc() != zone.offsetFromUtc(instant))
            return false;
    }
    return true;
}
