#pragma once

#include <QDate>
#include <QDateTime>
#include <QMetaType>
#include <QString>

#include <optional>

// The entries of the audit trail a list or a report shows: all that match every condition given.
struct AuditTrailFilter
{
    // Entries with fromMs <= time < toMs (milliseconds since 1970 UTC); none: unbounded.
    std::optional<qint64> fromMs;
    std::optional<qint64> toMs;
    QString user;   // empty: every user; else this one exactly
    QString action; // empty: every action; else this one exactly
    // Empty: any; else found, letter case aside, in the object, a value or the reason. Taken as
    // plain text: "%" and "_" are no wildcards.
    QString text;

    // Whole local days, first to last: from the first's midnight to the midnight after the last,
    // so that a day of a summer-time change is its 23 or 25 hours.
    void setDays(const QDate& first, const QDate& last)
    {
        fromMs = QDateTime(first, QTime(0, 0)).toMSecsSinceEpoch();
        toMs = QDateTime(last.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
    }
};

// In which order a page of entries runs.
enum class AuditTrailOrder
{
    NewestFirst, // the screen
    OldestFirst  // the report
};

Q_DECLARE_METATYPE(AuditTrailFilter)
