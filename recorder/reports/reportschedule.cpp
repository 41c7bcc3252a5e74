#include "reportschedule.h"

#include "reportrunrecord.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

bool isBefore(const QDateTime& local, const QDate& date, const QTime& time)
{
    return local.date() < date || (local.date() == date && local.time() < time);
}

} // namespace

int ReportSchedule::maxCatchUp(Kind kind)
{
    switch (kind) {
    case ReportScheduleSettings::Daily:
        return 31;
    case ReportScheduleSettings::Weekly:
        return 8;
    case ReportScheduleSettings::Monthly:
        return 12;
    }
    return 0;
}

ReportSchedule::ReportSchedule(const ReportScheduleSettings& settings) : m_settings(settings) {}

ScheduledPeriod ReportSchedule::periodBefore(Kind kind, const QDate& day)
{
    ScheduledPeriod p;
    p.kind = kind;
    switch (kind) {
    case ReportScheduleSettings::Daily:
        p.first = day.addDays(-1);
        p.last = p.first;
        break;
    case ReportScheduleSettings::Weekly:
        p.first = day.addDays(-(day.dayOfWeek() - 1) - 7);
        p.last = p.first.addDays(6);
        break;
    case ReportScheduleSettings::Monthly:
        p.first = QDate(day.year(), day.month(), 1).addMonths(-1);
        p.last = p.first.addMonths(1).addDays(-1);
        break;
    }
    return p;
}

ScheduledPeriod ReportSchedule::previous(const ScheduledPeriod& period)
{
    return periodBefore(period.kind, period.first);
}

QDateTime ReportSchedule::dueTime(Kind kind, const QDate& first) const
{
    const ReportScheduleSettings::Entry& e = m_settings.entries[kind];
    QDate day;
    switch (kind) {
    case ReportScheduleSettings::Daily:
        day = first.addDays(1);
        break;
    case ReportScheduleSettings::Weekly:
        day = first.addDays(7 + qBound(1, e.day, 7) - 1);
        break;
    case ReportScheduleSettings::Monthly: {
        const QDate next = first.addMonths(1);
        const int d =
            e.day == ReportScheduleSettings::LastDay ? next.daysInMonth() : qBound(1, e.day, 28);
        day = QDate(next.year(), next.month(), d);
        break;
    }
    }
    return localInstant(day, e.time);
}

QDateTime ReportSchedule::localInstant(const QDate& date, const QTime& time)
{
    const qint64 asUtc = QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch();
    // The offsets the zone has around that day: before and after a change of its clock.
    int lowest = 0;
    int highest = 0;
    bool any = false;
    qint64 best = 0;
    bool found = false;
    for (int d = -1; d <= 1; ++d) {
        const int offset = QDateTime(date.addDays(d), QTime(12, 0), Qt::LocalTime).offsetFromUtc();
        lowest = any ? std::min(lowest, offset) : offset;
        highest = any ? std::max(highest, offset) : offset;
        any = true;
        const qint64 ms = asUtc - qint64(offset) * 1000;
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
        if (local.date() == date && local.time() == time && (!found || ms < best)) {
            best = ms;
            found = true;
        }
    }
    if (found)
        return QDateTime::fromMSecsSinceEpoch(best, Qt::LocalTime);
    // Skipped by the clock: the first second whose local time is past it.
    qint64 low = asUtc - qint64(highest) * 1000; // shows a time before
    qint64 high = asUtc - qint64(lowest) * 1000; // shows a time after
    while (high - low > 1000) {
        const qint64 mid = low + (high - low) / 2000 * 1000;
        if (isBefore(QDateTime::fromMSecsSinceEpoch(mid, Qt::LocalTime), date, time))
            low = mid;
        else
            high = mid;
    }
    return QDateTime::fromMSecsSinceEpoch(high, Qt::LocalTime);
}

QVector<ScheduledPeriod> ReportSchedule::due(const QVector<ReportRunRecord>& runs,
                                             const QDateTime& runningSince,
                                             const QDateTime& now) const
{
    QVector<ScheduledPeriod> out;
    QSet<QString> taken;
    for (int k = 0; k < ReportScheduleSettings::KindCount; ++k) {
        const Kind kind = Kind(k);
        if (!m_settings.entries[k].enabled)
            continue;
        const QString name = ReportScheduleSettings::kindName(kind);
        qint64 anchor = runningSince.toMSecsSinceEpoch();
        bool recorded = false;
        QSet<QString> done;
        for (const ReportRunRecord& r : runs) {
            if (r.kind != name)
                continue;
            anchor = recorded ? std::max(anchor, r.dueMs) : r.dueMs;
            recorded = true;
            if (r.state != ReportRunRecord::stateFailed()) {
                done.insert(r.key());
                continue;
            }
            // Failed: due again, as it was.
            ScheduledPeriod p;
            p.kind = kind;
            p.first = r.first;
            p.last = r.last;
            p.due = QDateTime::fromMSecsSinceEpoch(r.dueMs, Qt::LocalTime);
            p.late = r.late;
            p.attempts = r.attempts;
            if (p.due <= now && !taken.contains(p.key())) {
                taken.insert(p.key());
                out << p;
            }
        }
        ScheduledPeriod p = periodBefore(kind, now.date());
        p.due = dueTime(kind, p.first);
        if (p.due > now) {
            p = previous(p);
            p.due = dueTime(kind, p.first);
        }
        for (int n = 0; n < maxCatchUp(kind) && p.due.toMSecsSinceEpoch() > anchor; ++n) {
            if (!done.contains(p.key()) && !taken.contains(p.key())) {
                p.late = p.due < runningSince;
                taken.insert(p.key());
                out << p;
            }
            p = previous(p);
            p.due = dueTime(kind, p.first);
        }
    }
    std::stable_sort(
        out.begin(), out.end(),
        [](const ScheduledPeriod& a, const ScheduledPeriod& b) { return a.due < b.due; });
    return out;
}
