#include "demochart.h"

#include "datainterval.h"

#include <chartapi.h>
#include <plotbounds.h>

#include <QByteArray>

#include <cmath>

namespace DemoChart {

XYChart* build(int hostWidth, int hostHeight, const double* times, const double* values, int color,
               const char* name, int intervalMs)
{
    XYChart* c = CXYChart_create(hostWidth - 10, hostHeight, 0x595959, Chart::Transparent, 0);
    const int bg = CBaseChart_linearGradientColor(c, 0, 25, 0, CBaseChart_getHeight(c) - 15,
                                                  0x595959, 0x303030);
    CXYChart_setPlotArea(c, 45, 25, hostWidth - 60, hostHeight - 55, bg, -1, Chart::Transparent,
                         int(0x80303030u), int(0x80303030u));
    CXYChart_setClipping(c, 0);
    Axis* x = CXYChart_xAxis(c);
    Axis* y = CXYChart_yAxis(c);
    CAxis_setTickDensity(x, 75, 15);
    CAxis_setWidth(x, 2);
    CAxis_setWidth(y, 2);
    CAxis_setColors(x, int(0x80C0C0C0u), int(0x80F4F4F4u), -1, -1);
    CAxis_setColors(y, int(0x80C0C0C0u), int(0x80F4F4F4u), -1, -1);
    const double newest = times[HistoryLength - 1];
    if (newest != Chart::NoValue) {
        const int span = int(qint64(intervalMs) * HistoryLength / 1000);
        CAxis_setDateScale(x, newest - span, newest, 0, 0);
        CAxis_setLabelFormat(x, "{value|hh:nn:ss}");
        Layer* layer = CXYChart_addLineLayer2(c, Chart::Overlay, 0);
        CLayer_setXData(layer, times, HistoryLength);
        CLayer_addDataSet(layer, values, HistoryLength, color, name);
    }
    return c;
}

void drawTrackCursor(XYChart* c, int plotX, int intervalMs)
{
    BaseChart* base = c;
    DrawArea* d = CBaseChart_initDynamicLayer(base);
    const auto [left, right, top, bottom] = PlotBounds::of(c);
    const double xValue = CXYChart_getNearestXValue(c, plotX);
    const int xCoor = CXYChart_getXCoor(c, xValue);

    CDrawArea_vline(d, top, bottom, xCoor,
                    CDrawArea_dashLineColor(d, int(0x80F4F4F4u), Chart::DashLine));

    Axis* xAxis = CXYChart_xAxis(c);
    const QByteArray clock = QByteArray(CAxis_getFormattedLabel(xAxis, xValue, "hh:nn:ss"));
    const QByteArray xLabel = "<*font,bgColor=373737,color=e6e6e6*> " + clock + " <*/font*>";
    TTFText* t = CDrawArea_text3(d, xLabel.constData(), "arialbd.ttf", 8);
    const int width = CTTFText_getWidth(t);
    const int xLeft = qMax(0, qMin(xCoor - width / 2, CBaseChart_getWidth(base) - width));
    CTTFText_draw(t, xLeft, bottom + 6, 0xFFFFFF, Chart::TopLeft);
    CTTFText_destroy(t);

    QByteArray legend;
    for (int i = 0; i < CXYChart_getLayerCount(c); ++i) {
        Layer* layer = CXYChart_getLayerByZ(c, i);
        const int index = CLayer_getXIndexOf(layer, xValue, 0);
        for (int j = 0; j < CLayer_getDataSetCount(layer); ++j) {
            DataSet* ds = CLayer_getDataSetByZ(layer, j);
            const QByteArray dsName = CDataSet_getDataName(ds);
            const int color = CDataSet_getDataColor(ds);
            if (dsName.isEmpty() || color == Chart::Transparent)
                continue;
            const double value = CDataSet_getValue(ds, index);
            const QByteArray valueText =
                value == Chart::NoValue
                    ? QByteArray("N/A")
                    : QByteArray(CBaseChart_formatValue(base, value, "{value|2.}"));
            const QByteArray hex = QByteArray::number(uint(color), 16).rightJustified(6, '0');
            legend = "<*block*>" + QByteArray(CDataSet_getLegendIcon(ds)) + " " + dsName +
                     ": <*font,bgColor=" + hex + "*> " + valueText + " <*font*><*/*>" + legend;
            const int yCoor =
                CXYChart_getYCoor(c, CDataSet_getPosition(ds, index), CDataSet_getUseYAxis(ds));
            if (index >= 0 && value != Chart::NoValue && yCoor >= top && yCoor <= bottom) {
                CDrawArea_circle(d, xCoor, yCoor, 4, 4, color, color);
                const QByteArray label = "<*font,bgColor=" + hex + "*> " + valueText + " <*font*>";
                TTFText* v = CDrawArea_text3(d, label.constData(), "arialbd.ttf", 8);
                if ((left + right) / 2 < xCoor)
                    CTTFText_draw(v, xCoor - 5, yCoor, 0xFFFFFF, Chart::Right);
                else
                    CTTFText_draw(v, xCoor + 5, yCoor, 0xFFFFFF, Chart::Left);
                CTTFText_destroy(v);
            }
        }
    }
    TTFText* l = CDrawArea_text3(d, QByteArray("<*block*>" + legend + "<*/*>").constData(),
                                 "arialbd.ttf", 8);
    CTTFText_draw(l, left + 5, top - 3, 0xFFFFFF, Chart::BottomLeft);
    CTTFText_destroy(l);

    const QByteArray date = CAxis_getFormattedLabel(xAxis, xValue, "yyyy-mm-dd hh:nn:ss");
    TTFText* dt = CDrawArea_text3(
        d, QByteArray("<*block*><*font=arialbd.ttf*>[ " + date + " ]<*/*><*/*>").constData(),
        "arialbd.ttf", 8);
    CTTFText_draw(dt, left + 100, top - 3, 0xFFFFFF, Chart::BottomLeft);
    CTTFText_destroy(dt);

    const QByteArray lengthLine =
        "<*block*><*block*><*font=arial.ttf*>View Length : 240 samples<*/*>"
        "<*block*><*font=arial.ttf*>   Interval : " +
        intervalName(intervalMs).toUtf8() + " <*/*><*/*>";
    TTFText* ln = CDrawArea_text3(d, lengthLine.constData(), "arial.ttf", 8);
    CTTFText_draw(ln, right - 240, top - 3, 0xFFFFFF, Chart::BottomLeft);
    CTTFText_destroy(ln);
}

void fillWave(double* times, double* values, int newestUnix, int intervalMs, double base,
              double amplitude, int gapFrom, int gapTo)
{
    for (int i = 0; i < HistoryLength; ++i) {
        const qint64 back = qint64(HistoryLength - 1 - i) * intervalMs / 1000;
        times[i] = CChart_chartTime2(int(newestUnix - back));
        values[i] = (i >= gapFrom && i < gapTo) ? Chart::NoValue
                                                : base + amplitude * std::sin(i / 18.0) +
                                                      amplitude * 0.25 * std::sin(i / 3.7);
    }
}

} // namespace DemoChart
