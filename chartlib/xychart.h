#pragma once

#include "basechart.h"

class Axis;
class Layer;
class LineLayer;
class PlotArea;

// A chart with a plot area, an x and a y axis and line layers.
class XYChart : public BaseChart
{
public:
    // Colours are 0xAARRGGBB (alpha 0 opaque, Chart::Transparent invisible, -1 default).
    XYChart(int width, int height, int bgColor = 0xFFFFFF, int edgeColor = int(0xFF000000u),
            int raisedEffect = 0);

    PlotArea *setPlotArea(int x, int y, int width, int height, int bgColor = 0xFFFFFF,
                          int altBgColor = -1, int edgeColor = -1, int hGridColor = 0xC0C0C0,
                          int vGridColor = int(0xFF000000u));
    PlotArea *getPlotArea() const;
    // Lines may reach this many pixels past the plot area.
    void setClipping(int margin = 0);
    Axis *xAxis() const;
    Axis *yAxis() const;
    LineLayer *addLineLayer2(int dataCombineMethod = 0, int depth = 0);

    // Pixel x to the nearest x value that holds data; the no-value marker when there is none.
    double getNearestXValue(double xCoor) const;
    // Pixel position of a value; -1 for the no-value marker.
    int getXCoor(double value) const;
    int getYCoor(double value, Axis *yAxis = nullptr) const;
    int getLayerCount() const;
    Layer *getLayerByZ(int i) const;
};
