#include "reporttables.h"

#include "novalue.h"

void ReportTables::clear()
{
    sampleRows.clear();
    periodRows.clear();
    excursions.clear();
    gaps.clear();
    breaks.clear();
    alarmLog = false;
    alarmEvents.clear();
    suppressions.clear();
    suppressionsTo = 0;
    alarmSignatures.clear();
    periodSummaries.clear();
    calibrations.clear();
    alarmTests.clear();
    calibrationFirst = QDate();
    calibrationLast = QDate();
    auditHead = ReportAuditHead();
    for (bool& empty : channelEmpty)
        empty = false;
}

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
        row.outSeconds[c] = 0;
    }
    return row;
}
