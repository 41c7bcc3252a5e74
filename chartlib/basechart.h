#pragma once

#include "textring.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <memory>

class ChartBufferPool;
class ChartCore;
class DrawArea;

// A reference to a chart. Several references may share one chart (see share()); the chart
// lives as long as any of them, so a viewer can keep rendering a chart its owner has deleted.
class BaseChart
{
public:
    virtual ~BaseChart();
    BaseChart(const BaseChart&) = delete;
    BaseChart& operator=(const BaseChart&) = delete;

    // A new reference to the same chart; the caller owns it.
    BaseChart* share() const;

    int getWidth() const;
    int getHeight() const;
    // A colour id that fills with a linear gradient between two points.
    int linearGradientColor(int startX, int startY, int endX, int endY, int startColor,
                            int endColor);

    // The draw area over the finished chart, cleared on each call.
    DrawArea* initDynamicLayer();
    void removeDynamicLayer();

    // Encoded image bytes (Chart::BMP gives the fast uncompressed form). The bytes stay valid
    // until the next call on this reference.
    QByteArray makeChart2(int format);
    const QByteArray& lastImageBytes() const { return m_imageBytes; }
    // Lays the chart out so that coordinate queries are valid before it is rendered.
    bool makeChart3();
    QImage makeImage();
    QString getChartMetrics() const;
    // The chart, with every reference to it, recycles its buffers through this pool.
    void setBufferPool(const ChartBufferPool& pool);
    QString formatValue(double value, const QString& format) const;

    ChartCore* core() const { return m_core.get(); }
    // Storage for texts handed out through the C entry points.
    TextRing& texts() const { return m_texts; }

protected:
    explicit BaseChart(std::shared_ptr<ChartCore> core);

    std::shared_ptr<ChartCore> m_core;

private:
    QByteArray m_imageBytes;
    mutable TextRing m_texts;
};
