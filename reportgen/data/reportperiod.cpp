#include "reportperiod.h"

namespace {

struct KindName
{
    ReportKind value;
    const char* name;
    const char* title;
};

const KindName kKinds[] = {
    {ReportKind::Daily, "daily", "Daily Report"},
    {ReportKind::Weekly, "weekly", "Weekly Report"},
    {ReportKind::Monthly, "monthly", "Monthly Report"},
    {ReportKind::Haccp, "haccp", "HACCP Report"},
};

struct SpanName
{
    HaccpSpan value;
    const char* name;
};

const SpanName kSpans[] = {
    {HaccpSpan::Day, "day"}, {HaccpSpan::Week, "week"}, {HaccpSpan::Month, "month"}};

template <class Entry, size_t N, class Value>
bool valueOf(const Entry (&table)[N], const QString& name, Value* value)
{
    for (const Entry& entry : table) {
        if (name == QLatin1String(entry.name)) {
            *value = entry.value;
            return true;
        }
    }
    return false;
}

template <class Entry, size_t N, class Value> QString nameOf(const Entry (&table)[N], Value value)
{
    for (const Entry& entry : table) {
        if (entry.value == value)
            return QLatin1String(entry.name);
    }
    return QString();
}

} // namespace

bool ReportPeriod::kindFromName(const QString& name, ReportKind* kind)
{
    return valueOf(kKinds, name, kind);
}

QString ReportPeriod::kindName(ReportKind kind)
{
    return nameOf(kKinds, kind);
}

bool ReportPeriod::spanFromName(const QString& name, HaccpSpan* span)
{
    return valueOf(kSpans, name, span);
}

QString ReportPeriod::spanName(HaccpSpan span)
{
    return nameOf(kSpans, span);
}

QString ReportPeriod::title(ReportKind kind)
{
    for (const KindName& k : kKinds) {
        if (k.value == kind)
            return QLatin1String(k.title);
    }
    return QString();
}

ReportPeriod ReportPeriod::of(ReportKind kind, const QDate& start, HaccpSpan span)
{
    ReportPeriod period;
    const bool week =
        kind == ReportKind::Weekly || (kind == ReportKind::Haccp && span == HaccpSpan::Week);
    if (coversMonth(kind, span)) {
        period.first = QDate(start.year(), start.month(), 1);
        period.last = period.first.addMonths(1).addDays(-1);
    } else {
        period.first = start;
        period.last = week ? start.addDays(6) : start;
    }
    return period;
}

bool ReportPeriod::coversMonth(ReportKind kind, HaccpSpan span)
{
    return kind == ReportKind::Monthly || (kind == ReportKind::Haccp && span == HaccpSpan::Month);
}

void ReportPeriod::recordedRange(const QString& startText, const QString& stopText,
                                 QDateTime* start, QDateTime* stop)
{
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    *start = QDateTime::fromString(startText, format);
    *stop = QDateTime::fromString(stopText, format);
    // Yesterday, which is offered then, finds no data.
    if (!stop->isValid())
        *stop = QDateTime::currentDateTime();
    if (!start->isValid())
        *start = stop->addDays(-2);
    start->setTime(QTime(start->time().hour(), start->time().minute(), 0));
    stop->setTime(QTime(stop->time().hour(), stop->time().minute(), 59));
}

void ReportPeriod::defaultDay(const QDateTime& start, const QDateTime& stop, QDateTime* periodStart,
                              QDateTime* periodEnd)
{
    const QDate previousDay = stop.date().addDays(-1);
    const QDateTime dayStart(previousDay, QTime(0, 0, 0));
    const QDateTime dayEnd(previousDay, QTime(23, 59, 59));
    *periodStart = start;
    *periodEnd = stop;
    if (!(dayStart < start)) {
        *periodStart = dayStart;
        if (!(stop < dayEnd))
            *periodEnd = dayEnd;
    }
}

qint64 ReportPeriod::dayStart(const QDate& date)
{
    QDateTime midnight(date, QTime(0, 0), Qt::LocalTime);
    // A zone that changes its clocks at midnight skips it on that day: the day then begins at
    // the first hour that exists.
    for (int hour = 1; !midnight.isValid() && hour < 3; ++hour)
        midnight = QDateTime(date, QTime(hour, 0), Qt::LocalTime);
    return midnight.toSecsSinceEpoch();
}

QDateTime ReportPeriod::start() const
{
    return QDateTime::fromSecsSinceEpoch(dayStart(first), Qt::LocalTime);
}

QDateTime ReportPeriod::end() const
{
    return QDateTime::fromSecsSinceEpoch(dayStart(last.addDays(1)) - 1, Qt::LocalTime);
}

QVector<qint64> ReportPeriod::dayBounds() const
{
    QVector<qint64> bounds;
    for (QDate d = first; d <= last.addDays(1); d = d.addDays(1))
        bounds.append(dayStart(d));
    return bounds;
}
