#pragma once

// The chart library's flat entry points, one per operation, on handles that are the library's
// own objects. Texts are UTF-8; a returned text stays valid for the next seven text-returning
// calls on the same object, the image bytes until the next makeChart2 on that chart reference
// (or until the object goes).

#include "chartbufferpool.h"
#include "chartdefs.h"
#include "charttime.h"
#include "linelayer.h"
#include "xychart.h"

class Axis;
class DataSet;
class DrawArea;
class ImageMapHandler;
class PlotArea;
class TTFText;
class ViewPort;

// Charts. The chart owns every object taken from it; CBaseChart_destroy drops one reference.
XYChart* CXYChart_create(int width, int height, int bgColor, int edgeColor, int raisedEffect);
BaseChart* CBaseChart_share(BaseChart* chart);
void CBaseChart_destroy(BaseChart* chart);
int CBaseChart_getWidth(BaseChart* chart);
int CBaseChart_getHeight(BaseChart* chart);
int CBaseChart_linearGradientColor(BaseChart* chart, int startX, int startY, int endX, int endY,
                                   int startColor, int endColor);
DrawArea* CBaseChart_initDynamicLayer(BaseChart* chart);
void CBaseChart_removeDynamicLayer(BaseChart* chart);
bool CBaseChart_makeChart2(BaseChart* chart, int format, const char** data, int* length);
bool CBaseChart_makeChart3(BaseChart* chart);
const char* CBaseChart_getChartMetrics(BaseChart* chart);
const char* CBaseChart_formatValue(BaseChart* chart, double value, const char* format);
// The chart and every reference to it take their buffers from the pool and give them back to
// it; the chart shares the pool's spares, the caller keeps its pool object.
void CBaseChart_setBufferPool(BaseChart* chart, const ChartBufferPool* pool);

PlotArea* CXYChart_setPlotArea(XYChart* chart, int x, int y, int width, int height, int bgColor,
                               int altBgColor, int edgeColor, int hGridColor, int vGridColor);
PlotArea* CXYChart_getPlotArea(XYChart* chart);
void CXYChart_setClipping(XYChart* chart, int margin);
Axis* CXYChart_xAxis(XYChart* chart);
Axis* CXYChart_yAxis(XYChart* chart);
LineLayer* CXYChart_addLineLayer2(XYChart* chart, int dataCombineMethod, int depth);
double CXYChart_getNearestXValue(XYChart* chart, double xCoor);
int CXYChart_getXCoor(XYChart* chart, double value);
int CXYChart_getYCoor(XYChart* chart, double value, Axis* yAxis);
int CXYChart_getLayerCount(XYChart* chart);
Layer* CXYChart_getLayerByZ(XYChart* chart, int i);

int CPlotArea_getLeftX(PlotArea* plotArea);
int CPlotArea_getRightX(PlotArea* plotArea);
int CPlotArea_getTopY(PlotArea* plotArea);
int CPlotArea_getBottomY(PlotArea* plotArea);
int CPlotArea_getWidth(PlotArea* plotArea);
int CPlotArea_getHeight(PlotArea* plotArea);

void CAxis_setTickDensity(Axis* axis, int majorTickSpacing, int minorTickSpacing);
void CAxis_setWidth(Axis* axis, int width);
void CAxis_setColors(Axis* axis, int axisColor, int labelColor, int titleColor, int tickColor);
void CAxis_setDateScale(Axis* axis, double lowerLimit, double upperLimit, double majorTickInc,
                        double minorTickInc);
void CAxis_setLinearScale(Axis* axis, double lowerLimit, double upperLimit, double majorTickInc,
                          double minorTickInc);
void CAxis_setLabelFormat(Axis* axis, const char* format);
const char* CAxis_getFormattedLabel(Axis* axis, double value, const char* format);

void CLayer_setXData(Layer* layer, const double* data, int length);
DataSet* CLayer_addDataSet(Layer* layer, const double* data, int length, int color,
                           const char* name);
int CLayer_getXIndexOf(Layer* layer, double xValue, double tolerance);
int CLayer_getDataSetCount(Layer* layer);
DataSet* CLayer_getDataSetByZ(Layer* layer, int i);
void CLineLayer_setLineWidth(LineLayer* layer, int width);

const char* CDataSet_getDataName(DataSet* dataSet);
int CDataSet_getDataColor(DataSet* dataSet);
const char* CDataSet_getLegendIcon(DataSet* dataSet);
double CDataSet_getValue(DataSet* dataSet, int i);
double CDataSet_getPosition(DataSet* dataSet, int i);
Axis* CDataSet_getUseYAxis(DataSet* dataSet);

int CDrawArea_dashLineColor(DrawArea* area, int color, int pattern);
void CDrawArea_vline(DrawArea* area, int y1, int y2, int x, int color);
void CDrawArea_hline(DrawArea* area, int x1, int x2, int y, int color);
void CDrawArea_rect(DrawArea* area, int x1, int y1, int x2, int y2, int edgeColor, int fillColor);
void CDrawArea_circle(DrawArea* area, int cx, int cy, int rx, int ry, int edgeColor, int fillColor);
TTFText* CDrawArea_text3(DrawArea* area, const char* text, const char* font, double fontSize);
int CTTFText_getWidth(TTFText* text);
int CTTFText_getHeight(TTFText* text);
void CTTFText_draw(TTFText* text, int x, int y, int color, int alignment);
void CTTFText_destroy(TTFText* text);

// View-port manager: metrics come from CBaseChart_getChartMetrics; null forgets the chart.
ViewPort* CViewPortManager_create();
void CViewPortManager_destroy(ViewPort* vpm);
void CViewPortManager_setChartMetrics(ViewPort* vpm, const char* metrics);
void CViewPortManager_commitPendingSyncAxis(ViewPort* vpm, BaseChart* chart);
int CViewPortManager_getPlotAreaLeft(ViewPort* vpm);
int CViewPortManager_getPlotAreaTop(ViewPort* vpm);
int CViewPortManager_getPlotAreaWidth(ViewPort* vpm);
int CViewPortManager_getPlotAreaHeight(ViewPort* vpm);
bool CViewPortManager_inPlotArea(ViewPort* vpm, int x, int y);
bool CViewPortManager_inExtendedPlotArea(ViewPort* vpm, int x, int y);
void CViewPortManager_validateViewPort(ViewPort* vpm);
bool CViewPortManager_canZoomIn(ViewPort* vpm, int zoomDirection);
bool CViewPortManager_canZoomOut(ViewPort* vpm, int zoomDirection);
void CViewPortManager_startDrag(ViewPort* vpm);
bool CViewPortManager_dragTo(ViewPort* vpm, int scrollDirection, int deltaX, int deltaY);
bool CViewPortManager_zoomAt(ViewPort* vpm, int zoomDirection, int x, int y, double zoomRatio);
bool CViewPortManager_zoomTo(ViewPort* vpm, int zoomDirection, int x1, int y1, int x2, int y2);

// Image maps: hot spots from HTML <area> elements.
ImageMapHandler* CImageMapHandler_create(const char* imageMap);
void CImageMapHandler_destroy(ImageMapHandler* handler);
int CImageMapHandler_getHotSpot(ImageMapHandler* handler, int x, int y);
const char* CImageMapHandler_getValue(ImageMapHandler* handler, const char* key);
