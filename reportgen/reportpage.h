#pragma once

#include "reporttables.h"

#include <QList>
#include <QString>
#include <QStringList>

// One chosen channel as the page sees it: the texts of its list item, in column order.
struct ReportChannel
{
    QString itemText;     // channel name, a tab, "[", device name, "]"
    QString toolTip;      // deviceNumber "_" column name "|" unit text
    bool limited = false; // critical limits, drawn on the chart (HACCP)
    double lower = 0;
    double upper = 0;

    QString key() const;      // tooltip before "|"
    QString unitText() const; // tooltip after "|"
    QString title() const;    // item text before "[", tabs removed
    QString deviceName() const;

    // The serial number and the column name ("channel1", ...) of a key, or of a tooltip: serial
    // numbers may hold "_", column names do not. False for one without "_".
    static bool splitKey(const QString& key, QString* serial, QString* column);
};

// Builds the texts that the report window writes into the page. Kept apart from the window so
// they can be checked without a web view.
namespace ReportPage {

// Smallest chart period for a sampling interval: "1mm", "5mm", "10mm" or empty.
QString minPeriodCode(int dataInterval);
// Smallest chart period of a report of several days: one day.
QString dayPeriodCode();

// Header text of a channel: "name [device], unit", escaped for the page.
QString channelInfo(const ReportChannel& channel);

// The chart data set: at most one point per step (600 s, 300 s or 60 s by interval).
QString chartData(const QMap<qint64, SampleRow>& rows, const QList<ReportChannel>& channels,
                  const bool empty[ReportColumns], int dataInterval);
// The chart data set with a point for every row (rows already condensed to chart steps).
QString chartPoints(const QMap<qint64, SampleRow>& rows, const QList<ReportChannel>& channels,
                    const bool empty[ReportColumns]);

// The graph list: one smoothed line per channel that returned rows, with its critical limits
// when it has them.
QString graphList(const QList<ReportChannel>& channels, const bool empty[ReportColumns]);

// A table's header row: the first title (the row number) without a left border.
QString headerRow(const QStringList& titles);
// The opening of a table of period rows (number, date, four channels): the columns' widths and
// the header row.
QString periodTableStart(const QStringList& titles);

// The hourly table with exactly 24 body rows.
QString reportTable(const QMap<qint64, PeriodRow>& rows);
// The same table with one row per day of the period.
QString dayTable(const QMap<qint64, PeriodRow>& rows);

// Text for the page's inner markup: "<", "&" and quotes show as typed.
QString escapeMarkup(const QString& text);
// Text inside a JSON string.
QString escapeJson(const QString& text);

} // namespace ReportPage
