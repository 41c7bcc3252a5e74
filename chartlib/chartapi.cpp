#include "chartapi.h"

#include "axis.h"
#include "basechart.h"
#include "chartcore.h"
#include "dataset.h"
#include "drawarea.h"
#include "imagemaphandler.h"
#include "linelayer.h"
#include "plotarea.h"
#include "ttftext.h"
#include "viewport.h"
#include "xychart.h"

namespace {

QString text(const char* s)
{
    return s ? QString::fromUtf8(s) : QString();
}

// Keeps a returned text alive in the object's ring; a null string gives a null pointer.
const char* hold(TextRing& ring, const QString& value)
{
    return ring.hold(value);
}

} // namespace

XYChart* CXYChart_create(int width, int height, int bgColor, int edgeColor, int raisedEffect)
{
    return new XYChart(width, height, bgColor, edgeColor, raisedEffect);
}

BaseChart* CBaseChart_share(BaseChart* chart)
{
    return chart ? chart->share() : nullptr;
}

void CBaseChart_destroy(BaseChart* chart)
{
    delete chart;
}

int CBaseChart_getWidth(BaseChart* chart)
{
    return chart->getWidth();
}
int CBaseChart_getHeight(BaseChart* chart)
{
    return chart->getHeight();
}

int CBaseChart_linearGradientColor(BaseChart* chart, int startX, int startY, int endX, int endY,
                                   int startColor, int endColor)
{
    return chart->linearGradientColor(startX, startY, endX, endY, startColor, endColor);
}

DrawArea* CBaseChart_initDynamicLayer(BaseChart* chart)
{
    return chart->initDynamicLayer();
}
void CBaseChart_removeDynamicLayer(BaseChart* chart)
{
    chart->removeDynamicLayer();
}

bool CBaseChart_makeChart2(BaseChart* chart, int format, const char** data, int* length)
{
    const QByteArray& bytes = (chart->makeChart2(format), chart->lastImageBytes());
    if (data)
        *data = bytes.constData();
    if (length)
        *length = bytes.size();
    return !bytes.isEmpty();
}

bool CBaseChart_makeChart3(BaseChart* chart)
{
    return chart->makeChart3();
}

const char* CBaseChart_getChartMetrics(BaseChart* chart)
{
    return hold(chart->texts(), chart->getChartMetrics());
}

const char* CBaseChart_formatValue(BaseChart* chart, double value, const char* format)
{
    return hold(chart->texts(), chart->formatValue(value, text(format)));
}

void CBaseChart_setBufferPool(BaseChart* chart, const ChartBufferPool* pool)
{
    if (chart && pool)
        chart->setBufferPool(*pool);
}

PlotArea* CXYChart_setPlotArea(XYChart* chart, int x, int y, int width, int height, int bgColor,
                               int altBgColor, int edgeColor, int hGridColor, int vGridColor)
{
    return chart->setPlotArea(x, y, width, height, bgColor, altBgColor, edgeColor, hGridColor,
                              vGridColor);
}

PlotArea* CXYChart_getPlotArea(XYChart* chart)
{
    return chart->getPlotArea();
}
void CXYChart_setClipping(XYChart* chart, int margin)
{
    chart->setClipping(margin);
}
Axis* CXYChart_xAxis(XYChart* chart)
{
    return chart->xAxis();
}
Axis* CXYChart_yAxis(XYChart* chart)
{
    return chart->yAxis();
}

LineLayer* CXYChart_addLineLayer2(XYChart* chart, int dataCombineMethod, int depth)
{
    return chart->addLineLayer2(dataCombineMethod, depth);
}

double CXYChart_getNearestXValue(XYChart* chart, double xCoor)
{
    return chart->getNearestXValue(xCoor);
}
int CXYChart_getXCoor(XYChart* chart, double value)
{
    return chart->getXCoor(value);
}
int CXYChart_getYCoor(XYChart* chart, double value, Axis* yAxis)
{
    return chart->getYCoor(value, yAxis);
}
int CXYChart_getLayerCount(XYChart* chart)
{
    return chart->getLayerCount();
}
Layer* CXYChart_getLayerByZ(XYChart* chart, int i)
{
    return chart->getLayerByZ(i);
}

int CPlotArea_getLeftX(PlotArea* plotArea)
{
    return plotArea->getLeftX();
}
int CPlotArea_getRightX(PlotArea* plotArea)
{
    return plotArea->getRightX();
}
int CPlotArea_getTopY(PlotArea* plotArea)
{
    return plotArea->getTopY();
}
int CPlotArea_getBottomY(PlotArea* plotArea)
{
    return plotArea->getBottomY();
}
int CPlotArea_getWidth(PlotArea* plotArea)
{
    return plotArea->getWidth();
}
int CPlotArea_getHeight(PlotArea* plotArea)
{
    return plotArea->getHeight();
}

void CAxis_setTickDensity(Axis* axis, int majorTickSpacing, int minorTickSpacing)
{
    axis->setTickDensity(majorTickSpacing, minorTickSpacing);
}

void CAxis_setWidth(Axis* axis, int width)
{
    axis->setWidth(width);
}

void CAxis_setColors(Axis* axis, int axisColor, int labelColor, int titleColor, int tickColor)
{
    axis->setColors(axisColor, labelColor, titleColor, tickColor);
}

void CAxis_setDateScale(Axis* axis, double lowerLimit, double upperLimit, double majorTickInc,
                        double minorTickInc)
{
    axis->setDateScale(lowerLimit, upperLimit, majorTickInc, minorTickInc);
}

void CAxis_setLinearScale(Axis* axis, double lowerLimit, double upperLimit, double majorTickInc,
                          double minorTickInc)
{
    axis->setLinearScale(lowerLimit, upperLimit, majorTickInc, minorTickInc);
}

void CAxis_setLabelFormat(Axis* axis, const char* format)
{
    axis->setLabelFormat(text(format));
}

const char* CAxis_getFormattedLabel(Axis* axis, double value, const char* format)
{
    return hold(axis->texts(), axis->getFormattedLabel(value, text(format)));
}

void CLayer_setXData(Layer* layer, const double* data, int length)
{
    layer->setXData(data, length);
}

DataSet* CLayer_addDataSet(Layer* layer, const double* data, int length, int color,
                           const char* name)
{
    return layer->addDataSet(data, length, color, text(name));
}

int CLayer_getXIndexOf(Layer* layer, double xValue, double tolerance)
{
    return layer->getXIndexOf(xValue, tolerance);
}

int CLayer_getDataSetCount(Layer* layer)
{
    return layer->getDataSetCount();
}
DataSet* CLayer_getDataSetByZ(Layer* layer, int i)
{
    return layer->getDataSetByZ(i);
}
void CLineLayer_setLineWidth(LineLayer* layer, int width)
{
    layer->setLineWidth(width);
}

const char* CDataSet_getDataName(DataSet* dataSet)
{
    return hold(dataSet->texts(), dataSet->getDataName().isNull() ? QString(QLatin1String(""))
                                                                  : dataSet->getDataName());
}

int CDataSet_getDataColor(DataSet* dataSet)
{
    return dataSet->getDataColor();
}

const char* CDataSet_getLegendIcon(DataSet* dataSet)
{
    return hold(dataSet->texts(), dataSet->getLegendIcon());
}

double CDataSet_getValue(DataSet* dataSet, int i)
{
    return dataSet->getValue(i);
}
double CDataSet_getPosition(DataSet* dataSet, int i)
{
    return dataSet->getPosition(i);
}

Axis* CDataSet_getUseYAxis(DataSet* dataSet)
{
    return dataSet->getUseYAxis() ? dataSet->getUseYAxis() : dataSet->layer()->core()->yAxis();
}

int CDrawArea_dashLineColor(DrawArea* area, int color, int pattern)
{
    return area->dashLineColor(color, pattern);
}

void CDrawArea_vline(DrawArea* area, int y1, int y2, int x, int color)
{
    area->vline(y1, y2, x, color);
}
void CDrawArea_hline(DrawArea* area, int x1, int x2, int y, int color)
{
    area->hline(x1, x2, y, color);
}

void CDrawArea_rect(DrawArea* area, int x1, int y1, int x2, int y2, int edgeColor, int fillColor)
{
    area->rect(x1, y1, x2, y2, edgeColor, fillColor);
}

void CDrawArea_circle(DrawArea* area, int cx, int cy, int rx, int ry, int edgeColor, int fillColor)
{
    area->circle(cx, cy, rx, ry, edgeColor, fillColor);
}

TTFText* CDrawArea_text3(DrawArea* area, const char* text, const char* font, double fontSize)
{
    return area->text3(QString::fromUtf8(text ? text : ""), QString::fromUtf8(font ? font : ""),
                       fontSize);
}

int CTTFText_getWidth(TTFText* text)
{
    return text->getWidth();
}
int CTTFText_getHeight(TTFText* text)
{
    return text->getHeight();
}

void CTTFText_draw(TTFText* text, int x, int y, int color, int alignment)
{
    text->draw(x, y, color, alignment);
}

void CTTFText_destroy(TTFText* text)
{
    delete text;
}

ViewPort* CViewPortManager_create()
{
    return new ViewPort;
}
void CViewPortManager_destroy(ViewPort* vpm)
{
    delete vpm;
}

void CViewPortManager_setChartMetrics(ViewPort* vpm, const char* metrics)
{
    vpm->setChartMetrics(text(metrics));
}

void CViewPortManager_commitPendingSyncAxis(ViewPort* vpm, BaseChart* chart)
{
    // The axes follow the view port through the chart's own scale; what the manager needs of a
    // newly assigned chart is its plot area, so coordinate checks are right before it is shown.
    if (chart)
        vpm->setChartMetrics(chart->getChartMetrics());
}

int CViewPortManager_getPlotAreaLeft(ViewPort* vpm)
{
    return vpm->getPlotAreaLeft();
}
int CViewPortManager_getPlotAreaTop(ViewPort* vpm)
{
    return vpm->getPlotAreaTop();
}
int CViewPortManager_getPlotAreaWidth(ViewPort* vpm)
{
    return vpm->getPlotAreaWidth();
}
int CViewPortManager_getPlotAreaHeight(ViewPort* vpm)
{
    return vpm->getPlotAreaHeight();
}
bool CViewPortManager_inPlotArea(ViewPort* vpm, int x, int y)
{
    return vpm->inPlotArea(x, y);
}
bool CViewPortManager_inExtendedPlotArea(ViewPort* vpm, int x, int y)
{
    return vpm->inExtendedPlotArea(x, y);
}
void CViewPortManager_validateViewPort(ViewPort* vpm)
{
    vpm->validateViewPort();
}
bool CViewPortManager_canZoomIn(ViewPort* vpm, int zoomDirection)
{
    return vpm->canZoomIn(zoomDirection);
}
bool CViewPortManager_canZoomOut(ViewPort* vpm, int zoomDirection)
{
    return vpm->canZoomOut(zoomDirection);
}
void CViewPortManager_startDrag(ViewPort* vpm)
{
    vpm->startDrag();
}

bool CViewPortManager_dragTo(ViewPort* vpm, int scrollDirection, int deltaX, int deltaY)
{
    return vpm->dragTo(scrollDirection, deltaX, deltaY);
}

bool CViewPortManager_zoomAt(ViewPort* vpm, int zoomDirection, int x, int y, double zoomRatio)
{
    return vpm->zoomAt(zoomDirection, x, y, zoomRatio);
}

bool CViewPortManager_zoomTo(ViewPort* vpm, int zoomDirection, int x1, int y1, int x2, int y2)
{
    return vpm->zoomTo(zoomDirection, x1, y1, x2, y2);
}

ImageMapHandler* CImageMapHandler_create(const char* imageMap)
{
    return new ImageMapHandler(text(imageMap));
}

void CImageMapHandler_destroy(ImageMapHandler* handler)
{
    delete handler;
}

int CImageMapHandler_getHotSpot(ImageMapHandler* handler, int x, int y)
{
    return handler->getHotSpot(x, y);
}

const char* CImageMapHandler_getValue(ImageMapHandler* handler, const char* key)
{
    return hold(handler->texts(), handler->getValue(text(key)));
}
