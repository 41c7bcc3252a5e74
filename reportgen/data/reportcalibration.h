#pragma once

#include "reportchannel.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

struct ReportTables;

// The calibration of the report's channels over its period: per channel the certificate in
// force at the period's end, its laboratory, dates and due date, and the days of the period on
// which no calibration was in force or the one in force was past its due date ("calibration
// overdue").
class ReportCalibration
{
public:
    // Reads the register's entries of the channels into `tables`, with the period's first and
    // last local day (none from a file without the register). False with a trace when the file
    // could not be read.
    static bool read(const QString& databasePath, const QDate& first, const QDate& last,
                     const QList<ReportChannel>& channels, ReportTables* tables);

    // The days of [first, last] on which the channel's calibration was overdue: one without an
    // entry in force counts only when the channel has any entry at all.
    static QVector<QPair<QDate, QDate>> overdueSpans(const ReportTables& tables,
                                                     const ReportChannel& channel);
    // The summary table's cell: "overdue from DATE", "due DATE" or "none recorded".
    static QString status(const ReportTables& tables, const ReportChannel& channel);

    static QStringList titles();
    // One row per channel with any entry: number, channel, certificate, laboratory, calibrated,
    // due, reference, as found, as left, uncertainty, and the overdue days of the period.
    static QVector<QStringList> rows(const ReportTables& tables,
                                     const QList<ReportChannel>& channels);
};
