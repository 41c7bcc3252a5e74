#include "basechart.h"

#include "chartcore.h"
#include "valueformat.h"

BaseChart::BaseChart(std::shared_ptr<ChartCore> core) : m_core(std::move(core)) {}

BaseChart::~BaseChart()
{
    m_core->bufferPool().giveBytes(std::move(m_imageBytes));
}

BaseChart* BaseChart::share() const
{
    return new BaseChart(m_core);
}

int BaseChart::getWidth() const
{
    return m_core->width();
}

int BaseChart::getHeight() const
{
    return m_core->height();
}

int BaseChart::linearGradientColor(int startX, int startY, int endX, int endY, int startColor,
                                   int endColor)
{
    return m_core->linearGradientColor(startX, startY, endX, endY, startColor, endColor);
}

DrawArea* BaseChart::initDynamicLayer()
{
    return m_core->initDynamicLayer();
}

void BaseChart::removeDynamicLayer()
{
    m_core->removeDynamicLayer();
}

QByteArray BaseChart::makeChart2(int format)
{
    m_core->encode(format, m_imageBytes);
    return m_imageBytes;
}

bool BaseChart::makeChart3()
{
    m_core->layout();
    return true;
}

QImage BaseChart::makeImage()
{
    return m_core->image();
}

void BaseChart::setBufferPool(const ChartBufferPool& pool)
{
    m_core->setBufferPool(pool);
}

QString BaseChart::getChartMetrics() const
{
    return m_core->chartMetrics();
}

QString BaseChart::formatValue(double value, const QString& format) const
{
    return ValueFormat::formatTemplate(format, value);
}
