#include "reporttables.h"

#include "novalue.h"

QMap<qint64, SampleRow> sampleRows;
QMap<qint64, PeriodRow> periodRows;
bool channelEmpty[ReportColumns] = {false, false, false, false};

SampleRow newSampleRow(const QString& timeText)
{
    SampleRow row;
    row.timeText = timeText;
    for (double& v : row.values)
        v = NoValue;
    return row;
}

PeriodRow newPeriodRow(const QString& label)
{
    PeriodRow row;
    row.label = label;
    for (int c = 0; c < ReportColumns; ++c) {
        row.avg[c] = 0.0;
        row.min[c] = NoValue;
        row.max[c] = NoValue;
    }
    return row;
}

void clearReportTables()
{
    sampleRows.clear();
    periodRows.clear();
    for (bool& empty : channelEmpty)
        empty = false;
}
