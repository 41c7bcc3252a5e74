#pragma once

#include <QMap>
#include <QString>

constexpr int ReportColumns = 4;

struct SampleRow
{
    QString timeText;             // local "yyyy-MM-dd hh:mm:ss"
    double values[ReportColumns]; // NoValue where a channel delivered nothing
};

struct PeriodRow
{
    QString label; // "yyyy-MM-dd hh:mm-hh:mm"
    double avg[ReportColumns];
    double min[ReportColumns];
    double max[ReportColumns];
};

// Result tables of one report. The report window owns them; its statistics worker fills them
// and the window reads them after the worker's done().
struct ReportTables
{
    QMap<qint64, SampleRow> sampleRows; // by sample time
    QMap<qint64, PeriodRow> periodRows; // by period start
    bool channelEmpty[ReportColumns] = {false, false, false, false};

    void clear();
};

SampleRow newSampleRow(const QString& timeText);
PeriodRow newPeriodRow(const QString& label);
