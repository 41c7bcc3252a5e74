#include "xychart.h"

#include "chartcore.h"

XYChart::XYChart(int width, int height, int bgColor, int edgeColor, int raisedEffect)
    : BaseChart(std::make_shared<ChartCore>(width, height, bgColor, edgeColor, raisedEffect))
{
}

PlotArea *XYChart::setPlotArea(int x, int y, int width, int height, int bgColor, int altBgColor,
                               int edgeColor, int hGridColor, int vGridColor)
{
    return m_core->setPlotArea(x, y, width, height, bgColor, altBgColor, edgeColor, hGridColor,
                               vGridColor);
}

PlotArea *XYChart::getPlotArea() const
{
    return m_core->plotArea();
}

void XYChart::setClipping(int margin)
{
    m_core->setClipping(margin);
}

Axis *XYChart::xAxis() const
{
    return m_core->xAxis();
}

Axis *XYChart::yAxis() const
{
    return m_core->yAxis();
}

LineLayer *XYChart::addLineLayer2(int dataCombineMethod, int depth)
{
    return m_core->addLineLayer(dataCombineMethod, depth);
}

double XYChart::getNearestXValue(double xCoor) const
{
    return m_core->nearestXValue(xCoor);
}

int XYChart::getXCoor(double value) const
{
    return m_core->xCoor(value);
}

int XYChart::getYCoor(double value, Axis *yAxis) const
{
    return m_core->yCoor(value, yAxis);
}

int XYChart::getLayerCount() const
{
    return m_core->layerCount();
}

Layer *XYChart::getLayerByZ(int i) const
{
    return m_core->layerByZ(i);
}
