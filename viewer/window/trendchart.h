#pragma once

#include "viewquery.h"

#include <QPair>
#include <QString>
#include <QVector>

#include <optional>

class XYChart;

// One channel's chart, drawn with the chart library in the recorder's colours: the samples as a
// line, or per pixel column a stroke from the lowest to the highest sample under it; breaks
// where samples are missing; the alarm range as a band behind. Every chart of a stack has the
// same plot margins, so their time axes line up.
class TrendChart
{
public:
    static constexpr int LeftMargin = 64;
    static constexpr int RightMargin = 16;
    static constexpr int TopMargin = 20;
    static constexpr int TimeLabelMargin = 22;
    static constexpr int BottomMargin = 6;

    struct Look
    {
        int color = 0x2E9BD6;
        QString title; // "node - channel [unit]"
        float alarmMin = 0;
        float alarmMax = 0;
        bool timeLabels = true;
        int intervalSeconds = 1;
        QByteArray serial; // the node and channel (1 or 2) the chart shows
        int channel = 0;
        // A temperature channel's mean kinetic temperature is shown, marked above this limit.
        bool temperature = false;
        std::optional<double> mktLimit;
    };
    // A stretch of time, in Unix seconds.
    using Span = QPair<double, double>;

    // The colour of the i-th chosen channel.
    static int colorAt(int index);
    // Plot width for a chart of this width: the pixel columns the data is asked for.
    static int plotWidth(int chartWidth);

    // A new chart (the caller owns it) with a time axis over [from, to] (Unix seconds) showing
    // a series that was asked for [dataFrom, dataTo]: while new data is on its way, the old
    // stays in place as the axis moves.
    static XYChart* build(int width, int height, double from, double to,
                          const ViewQuery::Series& series, double dataFrom, double dataTo,
                          const Look& look);
    // The overview of the navigator: the series thin, without labels, filling the image.
    static XYChart* buildOverview(int width, int height, double from, double to,
                                  const QVector<ViewQuery::Series>& series);

    // The title, and with a time the cursor line and the value under it, on the chart's
    // dynamic layer. Returns the value text shown ("N/A" where there is none).
    // The alarm spans, shaded over the plot's whole height, go under the title and the cursor.
    static QString drawOverlay(XYChart* chart, const Look& look, const ViewQuery::Series& series,
                               double from, double to, bool withCursor, double time,
                               bool withTimeLabel, const QVector<Span>& alarmSpans = {});
    // The colour the alarm spans are shaded in: the tiles' alarm red, see-through.
    static constexpr int AlarmSpanColor = int(0xA0C02848u);

    // The value under a time: the sample nearest to it within two intervals, or the lowest and
    // highest sample of the pixel column it falls in.
    static QString valueText(const ViewQuery::Series& series, double from, double to, double time,
                             int intervalSeconds);

    // Unix seconds as the chart library writes a chart time: "yyyy-mm-dd hh:nn:ss", local time.
    static QString timeText(double seconds);
};
