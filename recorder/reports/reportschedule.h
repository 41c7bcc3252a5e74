#pragma once

#include "reportschedulesettings.h"
#include "scheduledperiod.h"

#include <QDate>
#include <QDateTime>
#include <QVector>

struct ReportRunRecord;

// Which reports are due, from the schedule, the runs recorded in the database and the time now
// (the caller's clock). Calendar in local time: a daily report covers the day before its due
// day, a weekly one the Monday-to-Sunday week before the week of its due day, a monthly one the
// month before. A due time the clock skips (02:30 on the day summer time begins) is the first
// minute after the gap (03:00); one it passes twice (the day it ends) is the first of the two.
// Every period is due once: the runs are recorded by period, whatever the clock does after.
//
// Periods that fell due while the recorder was off are due at its next start, each once and
// marked late, counted from the last period recorded of that kind (or, before the first, from
// the recorder's start), at most MaxCatchUp of a kind. A failed run is due again until it
// succeeds.
class ReportSchedule
{
public:
    using Kind = ReportScheduleSettings::Kind;
    // The most periods of a kind made at once after the recorder was off.
    static int maxCatchUp(Kind kind);

    explicit ReportSchedule(const ReportScheduleSettings& settings);

    // The period of `kind` just before the one holding `day` (the day before, the week before,
    // the month before).
    static ScheduledPeriod periodBefore(Kind kind, const QDate& day);
    // The period before `period` of the same kind.
    static ScheduledPeriod previous(const ScheduledPeriod& period);
    // When the report of the period starting `first` is due under these settings.
    QDateTime dueTime(Kind kind, const QDate& first) const;
    // The instant the local clock shows `time` on `date`: the first of two, or the end of the
    // gap when the clock skips it.
    static QDateTime localInstant(const QDate& date, const QTime& time);

    // The reports due at `now`, oldest due time first. `runningSince`: when the recorder
    // started (due times before it were missed and are late).
    QVector<ScheduledPeriod> due(const QVector<ReportRunRecord>& runs,
                                 const QDateTime& runningSince, const QDateTime& now) const;

private:
    ReportScheduleSettings m_settings;
};
