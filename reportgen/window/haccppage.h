#pragma once

#include "reportpage.h"
#include "reporttables.h"

#include <QList>
#include <QString>

// The parts of the page that only the HACCP report has: the critical limits, the daily figures
// with the time out of limits, the excursions, the data gaps and the signature block. Kept
// apart from the window so they can be checked without a web view.
namespace HaccpPage {

// "H:MM:SS", the hours not wrapped at a day.
QString duration(qint64 seconds);

// Section "Critical Limits": per channel its limits, time out of limits, excursions and gaps.
QString limitsSection(const QList<ReportChannel>& channels, const ReportTables& tables);

// One row per day: per channel "min/max/avg" and the time out of limits.
QString dayTable(const QMap<qint64, PeriodRow>& rows, const QList<ReportChannel>& channels);

// Gaps shorter than this are counted per channel, not listed one by one.
constexpr qint64 ListedGapSeconds = ReportListedGapSeconds;

// Section "Alarm Events": the recorder's events of the period with their acknowledgement and
// comment, and under each acknowledged one its corrective action and the signature of the
// acknowledgement or "unsigned"; nothing for a file that keeps no event log.
QString alarmEventsSection(const QList<ReportChannel>& channels, const ReportTables& tables);

// Sections "Excursions", "Data Gaps" (with how gaps are counted at the project's interval, in
// milliseconds), "Alarm Events" and the signature block.
QString listsSection(const QList<ReportChannel>& channels, const ReportTables& tables,
                     int dataInterval);

} // namespace HaccpPage
