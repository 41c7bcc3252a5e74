#include "plotbounds.h"

#include "chartapi.h"

PlotBounds PlotBounds::of(XYChart* chart)
{
    PlotArea* plot = CXYChart_getPlotArea(chart);
    PlotBounds bounds;
    bounds.left = CPlotArea_getLeftX(plot);
    bounds.right = CPlotArea_getRightX(plot);
    bounds.top = CPlotArea_getTopY(plot);
    bounds.bottom = CPlotArea_getBottomY(plot);
    return bounds;
}
