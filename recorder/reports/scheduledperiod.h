#pragma once

#include "reportschedulesettings.h"

#include <QDate>
#include <QDateTime>
#include <QString>

// One report the schedule asks for: its kind and period (local days), when it was due, and
// whether it is made late (it fell due while the recorder was off).
struct ScheduledPeriod
{
    ReportScheduleSettings::Kind kind = ReportScheduleSettings::Daily;
    QDate first;
    QDate last;
    QDateTime due;
    bool late = false;
    // Attempts that failed before (recorded in the database).
    int attempts = 0;

    // "daily.2026-03-28": as ReportRunRecord::key().
    QString key() const;
    // "2026-03-28", or "2026-11-01 to 2026-11-30".
    QString periodText() const;
    // "daily-2026-03-28.pdf"
    QString fileName() const;
};
