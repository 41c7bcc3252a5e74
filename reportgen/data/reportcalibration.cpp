#include "reportcalibration.h"

#include "calibrationtable.h"
#include "reporttables.h"
#include "valuetext.h"

#include <QDebug>

#include <algorithm>

namespace {

const CalibrationRecord* inForce(const ReportTables& tables, const ReportChannel& channel,
                                 const QDate& day)
{
    return CalibrationTable::inForce(tables.calibrations, channel.serial, channel.column, day);
}

bool hasAny(const ReportTables& tables, const ReportChannel& channel)
{
    return std::any_of(tables.calibrations.cbegin(), tables.calibrations.cend(),
                       [&channel](const CalibrationRecord& r) {
                           return r.serial == channel.serial && r.column == channel.column;
                       });
}

QString spanText(const QPair<QDate, QDate>& span)
{
    const QString first = CalibrationRecord::dateText(span.first);
    if (span.first == span.second)
        return first;
    return first + QStringLiteral(" to ") + CalibrationRecord::dateText(span.second);
}

QString optionalNumber(const std::optional<double>& value)
{
    return value ? valueText(*value) : QStringLiteral("-");
}

} // namespace

bool ReportCalibration::read(const QString& databasePath, const QDate& first, const QDate& last,
                             const QList<ReportChannel>& channels, ReportTables* tables)
{
    tables->calibrations.clear();
    tables->calibrationFirst = first;
    tables->calibrationLast = last;
    QVector<CalibrationRecord> all;
    QString error;
    if (!CalibrationTable::read(databasePath, &all, &error)) {
        qDebug().noquote() << QStringLiteral("ReportCalibration::read : ") + error;
        return false;
    }
    for (const CalibrationRecord& r : qAsConst(all)) {
        if (std::any_of(channels.cbegin(), channels.cend(), [&r](const ReportChannel& c) {
                return c.serial == r.serial && c.column == r.column;
            }))
            tables->calibrations.append(r);
    }
    return true;
}

QVector<QPair<QDate, QDate>> ReportCalibration::overdueSpans(const ReportTables& tables,
                                                             const ReportChannel& channel)
{
    QVector<QPair<QDate, QDate>> spans;
    if (!hasAny(tables, channel) || !tables.calibrationFirst.isValid())
        return spans;
    for (QDate day = tables.calibrationFirst; day <= tables.calibrationLast; day = day.addDays(1)) {
        const CalibrationRecord* entry = inForce(tables, channel, day);
        if (entry && !entry->isOverdueOn(day))
            continue;
        if (!spans.isEmpty() && spans.last().second.addDays(1) == day)
            spans.last().second = day;
        else
            spans.append({day, day});
    }
    return spans;
}

QString ReportCalibration::status(const ReportTables& tables, const ReportChannel& channel)
{
    if (!hasAny(tables, channel))
        return QStringLiteral("none recorded");
    const QVector<QPair<QDate, QDate>> overdue = overdueSpans(tables, channel);
    if (!overdue.isEmpty())
        return QStringLiteral("calibration overdue from ") +
               CalibrationRecord::dateText(overdue.first().first);
    const CalibrationRecord* entry = inForce(tables, channel, tables.calibrationLast);
    return entry ? QStringLiteral("due ") + CalibrationRecord::dateText(entry->due)
                 : QStringLiteral("none recorded");
}

QStringList ReportCalibration::titles()
{
    return {QStringLiteral("No."),
            QStringLiteral("Channel"),
            QStringLiteral("Certificate"),
            QStringLiteral("Laboratory"),
            QStringLiteral("Calibrated"),
            QStringLiteral("Due"),
            QStringLiteral("Reference"),
            QStringLiteral("As Found"),
            QStringLiteral("As Left"),
            QStringLiteral("Uncertainty"),
            QStringLiteral("Overdue in the Period")};
}

QVector<QStringList> ReportCalibration::rows(const ReportTables& tables,
                                             const QList<ReportChannel>& channels)
{
    QVector<QStringList> rows;
    for (int c = 0; c < channels.size() && c < ReportColumns; ++c) {
        const ReportChannel& channel = channels.at(c);
        if (!hasAny(tables, channel))
            continue;
        const QString name =
            channel.title() + QStringLiteral(" [") + channel.deviceName() + QLatin1Char(']');
        QStringList overdue;
        for (const QPair<QDate, QDate>& span : overdueSpans(tables, channel))
            overdue << QStringLiteral("calibration overdue ") + spanText(span);
        const QString overdueText =
            overdue.isEmpty() ? QStringLiteral("-") : overdue.join(QStringLiteral("; "));
        const CalibrationRecord* entry = inForce(tables, channel, tables.calibrationLast);
        if (!entry) {
            rows.append({QString::number(c + 1), name, QStringLiteral("-"), QStringLiteral("-"),
                         QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"),
                         QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"),
                         overdueText});
            continue;
        }
        rows.append({QString::number(c + 1), name, entry->certificate, entry->laboratory,
                     CalibrationRecord::dateText(entry->calibrated),
                     CalibrationRecord::dateText(entry->due), entry->reference,
                     optionalNumber(entry->asFound), optionalNumber(entry->asLeft),
                     valueText(entry->uncertainty), overdueText});
    }
    return rows;
}
