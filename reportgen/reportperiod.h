#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVector>

enum class ReportKind
{
    Daily,
    Weekly,
    Monthly,
    Haccp
};

// How long a HACCP report runs from its start day.
enum class HaccpSpan
{
    Day,
    Week,
    Month
};

// The local days a report covers. Days are local calendar days: a summer-time change gives a
// day of 23 or 25 hours, and every bound is the Unix second of a local midnight.
class ReportPeriod
{
public:
    // "daily", "weekly", "monthly", "haccp" (the command-line names).
    static bool kindFromName(const QString& name, ReportKind* kind);
    static QString kindName(ReportKind kind);
    // "day", "week", "month".
    static bool spanFromName(const QString& name, HaccpSpan* span);
    static QString spanName(HaccpSpan span);
    // The page's title: "Daily Report", "Weekly Report", "Monthly Report", "HACCP Report".
    static QString title(ReportKind kind);

    // Daily: the start day; weekly: 7 days from it; monthly: the calendar month that holds it;
    // HACCP: the start day, 7 days from it, or the calendar month that holds it.
    static ReportPeriod of(ReportKind kind, const QDate& start, HaccpSpan span = HaccpSpan::Day);
    // Whether that period is a calendar month.
    static bool coversMonth(ReportKind kind, HaccpSpan span);

    // Unix seconds of a local midnight (the first second of the day where midnight does not
    // exist).
    static qint64 dayStart(const QDate& date);

    const QDate& firstDay() const { return first; }
    const QDate& lastDay() const { return last; }
    QDateTime start() const;
    // The last second of the last day.
    QDateTime end() const;
    // The first second of each day and, last, the first second after the period.
    QVector<qint64> dayBounds() const;

private:
    QDate first;
    QDate last;
};
