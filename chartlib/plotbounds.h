#pragma once

class XYChart;

// The pixel edges of a chart's plot area, against which cursors, spans and labels are drawn on
// the chart's dynamic layer.
class PlotBounds
{
public:
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;

    static PlotBounds of(XYChart* chart);
};
