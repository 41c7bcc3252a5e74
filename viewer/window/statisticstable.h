#pragma once

#include "trendchart.h"
#include "viewquery.h"

#include <QVector>

class QTableWidget;

// The statistics under the charts: one row a chosen channel, in its chart's colour, with the
// minimum and maximum and their times, the average, the sample count and the time out of range
// of the samples in the window. Drives the window's table; the figures come from the view query.
class StatisticsTable
{
public:
    explicit StatisticsTable(QTableWidget* table);

    // One row for each chart, named and coloured as the chart; the figures empty until shown.
    void setChannels(const QVector<TrendChart::Look>& looks);
    void show(const ViewQuery::Result& result);

private:
    QTableWidget* m_table;
    QVector<TrendChart::Look> m_looks;
};
