#pragma once

#include "chartbufferpool.h"

#include <QBrush>
#include <QByteArray>
#include <QImage>
#include <QPen>
#include <QString>
#include <QVector>

#include <memory>
#include <vector>

class Axis;
class DrawArea;
class Layer;
class LineLayer;
class PlotArea;

// Everything one chart consists of, shared by every BaseChart reference to it: the plot area,
// axes, layers, the dynamic layer and the rendered image. The image of the chart itself is kept
// until something changes, so a cursor drawn on the dynamic layer costs only a copy and overlay.
class ChartCore
{
public:
    ChartCore(int width, int height, int bgColor, int edgeColor, int raisedEffect);
    ~ChartCore();
    ChartCore(const ChartCore&) = delete;
    ChartCore& operator=(const ChartCore&) = delete;

    int width() const { return m_width; }
    int height() const { return m_height; }

    int linearGradientColor(int startX, int startY, int endX, int endY, int startColor,
                            int endColor);
    int dashLineColor(int color, int pattern);
    QBrush brushFor(int color, const QColor& fallback = QColor(Qt::black)) const;
    QPen penFor(int color, qreal width, const QColor& fallback = QColor(Qt::black)) const;

    PlotArea* setPlotArea(int x, int y, int width, int height, int bgColor, int altBgColor,
                          int edgeColor, int hGridColor, int vGridColor);
    PlotArea* plotArea() const { return m_plotArea.get(); }
    void setClipping(int margin);
    Axis* xAxis() const { return m_xAxis.get(); }
    Axis* yAxis() const { return m_yAxis.get(); }
    LineLayer* addLineLayer(int dataCombineMethod, int depth);
    int layerCount() const { return int(m_layers.size()); }
    Layer* layerByZ(int i) const;

    // Coordinates need the axes scaled; these lay the chart out first when needed.
    double nearestXValue(double xCoor);
    int xCoor(double value);
    int yCoor(double value, Axis* yAxis);

    DrawArea* initDynamicLayer();
    void removeDynamicLayer();
    DrawArea* dynamicLayer() const { return m_dynamic.get(); }

    // Where the chart takes its image and encoding buffers from and gives them back to; a chart
    // without one given keeps its own.
    void setBufferPool(const ChartBufferPool& pool) { m_pool = pool; }
    ChartBufferPool& bufferPool() { return m_pool; }

    // Called by every part of the chart when it changes what the chart image shows.
    void invalidate();
    void layout();
    // The chart without its dynamic layer.
    const QImage& baseImage();
    // The chart with its dynamic layer on top.
    QImage image();
    // Encodes into out, reusing its storage where the format allows.
    void encode(int format, QByteArray& out);
    // Chart and plot area geometry for the view-port manager: "w,h,left,top,width,height".
    QString chartMetrics();

private:
    struct Gradient
    {
        QPointF start;
        QPointF end;
        QColor startColor;
        QColor endColor;
    };
    struct Dash
    {
        QColor color;
        QVector<qreal> pattern;
    };

    void render(QImage& image);
    void drawLayers(QPainter& p);
    void drawAxes(QPainter& p);
    bool collectRange(bool xRange, double* lo, double* hi) const;

    int m_width;
    int m_height;
    int m_bgColor;
    int m_edgeColor;
    int m_raisedEffect;
    int m_clipMargin = 0;
    std::vector<Gradient> m_gradients;
    std::vector<Dash> m_dashes;
    std::unique_ptr<PlotArea> m_plotArea;
    std::unique_ptr<Axis> m_xAxis;
    std::unique_ptr<Axis> m_yAxis;
    std::vector<std::unique_ptr<Layer>> m_layers;
    std::shared_ptr<DrawArea> m_dynamic;
    bool m_laidOut = false;
    bool m_rendered = false;
    ChartBufferPool m_pool;
    QImage m_base;
};
