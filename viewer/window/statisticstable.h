#pragma once

#include "trendchart.h"
#include "viewquery.h"

#include <QVector>

class QTableWidget;
class QTableWidgetItem;

// The statistics under the charts: one row a chosen channel, in its chart's colour, with the
// minimum and maximum and their times, the average, the sample count, the time out of range
// of the samples in the window and, for a temperature channel, their mean kinetic temperature
// (marked where it exceeds the channel's limit). Drives the window's table; the figures come
// from the view query.
class StatisticsTable
{
public:
    explicit StatisticsTable(QTableWidget* table);

    // One row for each chart, named and coloured as the chart; the figures empty until shown.
    void setChannels(const QVector<TrendChart::Look>& looks);
    void show(const ViewQuery::Result& result);

private:
    static void showMeanKinetic(QTableWidgetItem* item, const TrendChart::Look& look, double value);

    QTableWidget* m_table;
    QVector<TrendChart::Look> m_looks;
};
