#pragma once

#include <QMap>
#include <QString>

// Result tables of one report, shared by the statistics worker, which fills them, and the report
// window, which reads them after the worker's done(). One process makes one report, so they are
// filled once and never emptied by the program.
constexpr int ReportColumns = 4;

struct SampleRow
{
    QString timeText;              // local "yyyy-MM-dd hh:mm:ss"
    double values[ReportColumns];  // NoValue where a channel delivered nothing
};

struct PeriodRow
{
    QString label; // "yyyy-MM-dd hh:mm-hh:mm"
    double avg[ReportColumns];
    double min[ReportColumns];
    double max[ReportColumns];
};

extern QMap<qint64, SampleRow> sampleRows;
extern QMap<qint64, PeriodRow> periodRows;
extern bool channelEmpty[ReportColumns];

SampleRow newSampleRow(const QString& timeText);
PeriodRow newPeriodRow(const QString& label);

// For tests, which make several reports in one process.
void clearReportTables();
