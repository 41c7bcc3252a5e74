#include "trendchart.h"

#include <chartapi.h>
#include <plotbounds.h>
#include <valueformat.h>

#include <QByteArray>

#include <algorithm>
#include <cmath>

namespace {

constexpr int ChartBackground = 0x595959;
constexpr int PlotTop = 0x595959;
constexpr int PlotBottom = 0x303030;
constexpr int GridColor = int(0x80303030u);
constexpr int AxisColor = int(0x80C0C0C0u);
constexpr int LabelColor = int(0x80F4F4F4u);
constexpr int BandColor = int(0xB040A060u);
constexpr int CursorColor = int(0x40F4F4F4u);
constexpr int TitleColor = 0xE6E6E6;
constexpr int Palette[] = {0x3DA5E0, 0xF0913A, 0x52C46A, 0xE8575A,
                           0xB085E8, 0x3CCFC4, 0xE6C84A, 0xE67DB8};

double chartTime(double seconds)
{
    const double whole = std::floor(seconds);
    return CChart_chartTime2(int(whole)) + (seconds - whole);
}

QByteArray hex(int color)
{
    return QByteArray::number(uint(color) & 0xFFFFFFu, 16).rightJustified(6, '0');
}

// The lowest and highest value the series shows.
bool valueRange(const ViewQuery::Series& series, double* low, double* high)
{
    bool any = false;
    auto take = [&](double a, double b) {
        *low = any ? std::min(*low, a) : a;
        *high = any ? std::max(*high, b) : b;
        any = true;
    };
    for (const SampleSummary::Column& c : series.columns)
        if (c.count > 0)
            take(c.min, c.max);
    for (double v : series.values)
        if (!std::isnan(v))
            take(v, v);
    return any;
}

void styleAxes(XYChart* chart, bool timeLabels, bool valueLabels)
{
    Axis* x = CXYChart_xAxis(chart);
    CAxis_setTickDensity(x, 75, 15);
    CAxis_setWidth(x, 2);
    CAxis_setColors(x, AxisColor, timeLabels ? LabelColor : Chart::Transparent, -1, -1);
    Axis* y = CXYChart_yAxis(chart);
    CAxis_setTickDensity(y, 24, 12);
    CAxis_setWidth(y, 2);
    CAxis_setColors(y, AxisColor, valueLabels ? LabelColor : Chart::Transparent, -1, -1);
}

// The data as line-layer points: the samples with breaks, or per column a vertical stroke from
// one extreme to the other, drawn in alternating direction so that neighbouring strokes join
// at their tops and at their bottoms.
void seriesPoints(const ViewQuery::Series& series, double from, double to, QVector<double>* xs,
                  QVector<double>* ys)
{
    auto gap = [&]() {
        if (!ys->isEmpty() && ys->last() != Chart::NoValue) {
            xs->append(Chart::NoValue);
            ys->append(Chart::NoValue);
        }
    };
    if (series.kind == ViewQuery::Series::Points) {
        for (int i = 0; i < series.times.size(); ++i) {
            if (std::isnan(series.values[i])) {
                gap();
                continue;
            }
            xs->append(chartTime(double(series.times[i])));
            ys->append(series.values[i]);
        }
        return;
    }
    const int n = series.columns.size();
    const double width = n > 0 ? (to - from) / n : 0;
    for (int i = 0; i < n; ++i) {
        const SampleSummary::Column& c = series.columns[i];
        if (c.count == 0) {
            gap();
            continue;
        }
        const double x = chartTime(from + (i + 0.5) * width);
        xs->append(x);
        ys->append(i % 2 == 0 ? c.min : c.max);
        if (c.min != c.max) {
            xs->append(x);
            ys->append(i % 2 == 0 ? c.max : c.min);
        }
    }
}

} // namespace

int TrendChart::colorAt(int index)
{
    return Palette[index % int(std::size(Palette))];
}

int TrendChart::plotWidth(int chartWidth)
{
    return std::max(1, chartWidth - LeftMargin - RightMargin);
}

XYChart* TrendChart::build(int width, int height, double from, double to,
                           const ViewQuery::Series& series, double dataFrom, double dataTo,
                           const Look& look)
{
    XYChart* chart = CXYChart_create(width, height, ChartBackground, Chart::Transparent, 0);
    const int bottom = look.timeLabels ? TimeLabelMargin : BottomMargin;
    const int plotHeight = std::max(1, height - TopMargin - bottom);
    const int fill = CBaseChart_linearGradientColor(chart, 0, TopMargin, 0, height - bottom,
                                                    PlotTop, PlotBottom);
    CXYChart_setPlotArea(chart, LeftMargin, TopMargin, plotWidth(width), plotHeight, fill, -1,
                         Chart::Transparent, GridColor, GridColor);
    CXYChart_setClipping(chart, 0);
    styleAxes(chart, look.timeLabels, true);
    CAxis_setDateScale(CXYChart_xAxis(chart), chartTime(from), chartTime(to), 0, 0);

    double low = 0;
    double high = 0;
    if (!valueRange(series, &low, &high))
        return chart;
    // The alarm range joins the scale when it lies near the data, so the band shows where the
    // values stand against it without squeezing them flat.
    const bool alarm = look.alarmMin < look.alarmMax;
    if (alarm) {
        const double withLow = std::min(low, double(look.alarmMin));
        const double withHigh = std::max(high, double(look.alarmMax));
        if (withHigh - withLow <= 4 * std::max(high - low, 1.0)) {
            low = withLow;
            high = withHigh;
        }
    }
    const double pad = high > low ? (high - low) * 0.06 : 1.0;
    low -= pad;
    high += pad;
    CAxis_setLinearScale(CXYChart_yAxis(chart), low, high, 0, 0);

    if (alarm) {
        const double bandLow = std::max(low, double(look.alarmMin));
        const double bandHigh = std::min(high, double(look.alarmMax));
        if (bandHigh > bandLow) {
            // A line as thick as the band is high, laid under the data.
            const double pixels = (bandHigh - bandLow) / (high - low) * plotHeight;
            LineLayer* band = CXYChart_addLineLayer2(chart, Chart::Overlay, 0);
            CLineLayer_setLineWidth(band, std::max(1, int(std::lround(pixels))));
            const double xs[] = {chartTime(from), chartTime(to)};
            const double ys[] = {(bandLow + bandHigh) / 2, (bandLow + bandHigh) / 2};
            CLayer_setXData(band, xs, 2);
            CLayer_addDataSet(band, ys, 2, BandColor, "");
        }
    }
    QVector<double> xs;
    QVector<double> ys;
    seriesPoints(series, dataFrom, dataTo, &xs, &ys);
    LineLayer* line = CXYChart_addLineLayer2(chart, Chart::Overlay, 0);
    CLineLayer_setLineWidth(line, series.kind == ViewQuery::Series::Points ? 2 : 1);
    CLayer_setXData(line, xs.constData(), xs.size());
    CLayer_addDataSet(line, ys.constData(), ys.size(), look.color, look.title.toUtf8().constData());
    return chart;
}

XYChart* TrendChart::buildOverview(int width, int height, double from, double to,
                                   const QVector<ViewQuery::Series>& series)
{
    XYChart* chart = CXYChart_create(width, height, PlotBottom, Chart::Transparent, 0);
    CXYChart_setPlotArea(chart, 0, 2, width, std::max(1, height - 4), PlotBottom, -1,
                         Chart::Transparent, Chart::Transparent, GridColor);
    styleAxes(chart, false, false);
    CAxis_setWidth(CXYChart_xAxis(chart), 0);
    CAxis_setWidth(CXYChart_yAxis(chart), 0);
    CAxis_setDateScale(CXYChart_xAxis(chart), chartTime(from), chartTime(to), 0, 0);
    if (series.isEmpty())
        return chart;
    double low = 0;
    double high = 0;
    if (valueRange(series.first(), &low, &high)) {
        const double pad = high > low ? (high - low) * 0.05 : 1.0;
        CAxis_setLinearScale(CXYChart_yAxis(chart), low - pad, high + pad, 0, 0);
    }
    QVector<double> xs;
    QVector<double> ys;
    seriesPoints(series.first(), from, to, &xs, &ys);
    LineLayer* line = CXYChart_addLineLayer2(chart, Chart::Overlay, 0);
    CLineLayer_setLineWidth(line, 1);
    CLayer_setXData(line, xs.constData(), xs.size());
    CLayer_addDataSet(line, ys.constData(), ys.size(), colorAt(0), "");
    return chart;
}

QString TrendChart::valueText(const ViewQuery::Series& series, double from, double to, double time,
                              int intervalSeconds)
{
    const QString none = QStringLiteral("N/A");
    if (series.kind == ViewQuery::Series::Points) {
        const auto it = std::lower_bound(series.times.begin(), series.times.end(), time,
                                         [](qint64 t, double v) { return double(t) < v; });
        int best = -1;
        for (int i : {int(it - series.times.begin()) - 1, int(it - series.times.begin())}) {
            if (i < 0 || i >= series.times.size())
                continue;
            if (best < 0 ||
                std::fabs(series.times[i] - time) < std::fabs(series.times[best] - time))
                best = i;
        }
        if (best < 0 || std::fabs(series.times[best] - time) > 2.0 * intervalSeconds ||
            std::isnan(series.values[best]))
            return none;
        return QString::number(series.values[best], 'f', 2);
    }
    if (series.kind != ViewQuery::Series::Columns || series.columns.isEmpty() || !(to > from))
        return none;
    const int i = int(std::floor((time - from) / (to - from) * series.columns.size()));
    if (i < 0 || i >= series.columns.size() || series.columns[i].count == 0)
        return none;
    const SampleSummary::Column& c = series.columns[i];
    if (c.min == c.max)
        return QString::number(c.min, 'f', 2);
    return QString::number(c.min, 'f', 2) + QStringLiteral(" .. ") + QString::number(c.max, 'f', 2);
}

QString TrendChart::timeText(double seconds)
{
    return ValueFormat::formatDate(chartTime(seconds), QStringLiteral("yyyy-mm-dd hh:nn:ss"));
}

QString TrendChart::drawOverlay(XYChart* chart, const Look& look, const ViewQuery::Series& series,
                                double from, double to, bool withCursor, double time,
                                bool withTimeLabel, const QVector<Span>& alarmSpans)
{
    DrawArea* d = CBaseChart_initDynamicLayer(chart);
    const auto [left, right, top, bottom] = PlotBounds::of(chart);
    for (const Span& span : alarmSpans) {
        if (span.second < from || span.first > to)
            continue;
        const int x1 =
            std::max(left, CXYChart_getXCoor(chart, chartTime(std::max(span.first, from))));
        // At least a pixel wide: a short alarm seen from afar still shows.
        const int x2 = std::max(
            x1 + 1,
            std::min(right, CXYChart_getXCoor(chart, chartTime(std::min(span.second, to)))));
        CDrawArea_rect(d, x1, top, x2, bottom, Chart::Transparent, AlarmSpanColor);
    }
    QString value;
    QByteArray title = "<*font=arialbd.ttf*>" + look.title.toUtf8() + "<*/font*>";
    if (withCursor) {
        value = valueText(series, from, to, time, look.intervalSeconds);
        title += "    <*font,bgColor=" + hex(look.color) + ",color=1e1e1e*> " + value.toUtf8() +
                 " <*/font*>";
        const int x = CXYChart_getXCoor(chart, chartTime(time));
        CDrawArea_vline(d, top, bottom, x,
                        CDrawArea_dashLineColor(d, CursorColor, Chart::DashLine));
        if (withTimeLabel) {
            const QByteArray label =
                "<*font,bgColor=373737,color=e6e6e6*> " + timeText(time).toUtf8() + " <*/font*>";
            TTFText* t = CDrawArea_text3(d, label.constData(), "arialbd.ttf", 8);
            const int w = CTTFText_getWidth(t);
            const int at = std::max(0, std::min(x - w / 2, CBaseChart_getWidth(chart) - w));
            CTTFText_draw(t, at, bottom + 4, TitleColor, Chart::TopLeft);
            CTTFText_destroy(t);
        }
    }
    TTFText* t = CDrawArea_text3(d, title.constData(), "arial.ttf", 8);
    CTTFText_draw(t, left + 2, top - 3, look.color, Chart::BottomLeft);
    CTTFText_destroy(t);
    return value;
}
