#pragma once

#include "reportchannel.h"
#include "reporttables.h"

#include <QList>
#include <QString>
#include <QStringList>

// Builds the texts that a report run writes into the page. Kept apart from the page so
// they can be checked without a web view.
namespace ReportPage {

// Smallest chart period for a sampling interval: "1mm", "5mm", "10mm" or empty.
QString minPeriodCode(int dataInterval);
// Smallest chart period of a report of several days: one day.
QString dayPeriodCode();

// Header text of a channel: "name [device], unit", escaped for the page.
QString channelInfo(const ReportChannel& channel);

// The chart data set: at most one point per step (600 s, 300 s or 60 s by interval), and a
// point without members where the lines break.
QString chartData(const QMap<qint64, SampleRow>& rows, const QList<ReportChannel>& channels,
                  const bool empty[ReportColumns], int dataInterval,
                  const QList<ChartBreak>& breaks = {});
// The chart data set with a point for every row (rows already condensed to chart steps).
QString chartPoints(const QMap<qint64, SampleRow>& rows, const QList<ReportChannel>& channels,
                    const bool empty[ReportColumns], const QList<ChartBreak>& breaks = {});

// The graph list: one smoothed line per channel that returned rows, with its critical limits
// when it has them.
QString graphList(const QList<ReportChannel>& channels, const bool empty[ReportColumns]);

// A table's header row: the first title (the row number) without a left border.
QString headerRow(const QStringList& titles);
// The opening of a table of period rows (number, date, four channels): the columns' widths and
// the header row.
QString periodTableStart(const QStringList& titles);

// The hourly table: 24 body rows, 25 for the hours of the fall-back day (never more).
QString reportTable(const QMap<qint64, PeriodRow>& rows);
// The same table with one row per day of the period.
QString dayTable(const QMap<qint64, PeriodRow>& rows);

// Text for the page's inner markup: "<", "&" and quotes show as typed.
QString escapeMarkup(const QString& text);
// Text inside a JSON string.
QString escapeJson(const QString& text);

} // namespace ReportPage
