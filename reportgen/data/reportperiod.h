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

    // The range a recording covers, from the project file's texts, in whole minutes: from the
    // start's first second to the stop's last. Without texts (a project that never recorded),
    // the two days up to now.
    static void recordedRange(const QString& startText, const QString& stopText, QDateTime* start,
                              QDateTime* stop);
    // A daily report's default period in a recorded range: the day before the stop's day, as
    // far as the range holds it; a range that does not reach back to that day's midnight is
    // kept whole.
    static void defaultDay(const QDateTime& start, const QDateTime& stop, QDateTime* periodStart,
                           QDateTime* periodEnd);

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
