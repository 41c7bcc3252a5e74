#include "layer.h"

#include "chartcore.h"
#include "chartdefs.h"
#include "dataset.h"

#include <cmath>

Layer::Layer(ChartCore* core) : m_core(core) {}

Layer::~Layer() = default;

void Layer::setXData(const double* data, int count)
{
    m_xData.clear();
    if (data && count > 0) {
        m_xData.resize(count);
        std::copy(data, data + count, m_xData.begin());
    }
    m_core->invalidate();
}

DataSet* Layer::addDataSet(const double* data, int count, int color, const QString& name)
{
    m_dataSets.push_back(std::make_unique<DataSet>(this, data, count, color, name));
    m_core->invalidate();
    return m_dataSets.back().get();
}

int Layer::getDataSetCount() const
{
    return int(m_dataSets.size());
}

DataSet* Layer::getDataSetByZ(int i) const
{
    return i >= 0 && i < int(m_dataSets.size()) ? m_dataSets[size_t(i)].get() : nullptr;
}

int Layer::getXIndexOf(double xValue, double tolerance) const
{
    if (!(std::fabs(xValue) < Chart::NoValue * 0.5))
        return -1;
    const int n = sampleCount();
    for (int i = 0; i < n; ++i) {
        const double x = xAt(i);
        if (std::fabs(x) < Chart::NoValue * 0.5 && std::fabs(x - xValue) <= tolerance)
            return i;
    }
    return -1;
}

void Layer::setLineWidth(int width)
{
    m_lineWidth = qMax(0, width);
    m_core->invalidate();
}

double Layer::xAt(int i) const
{
    if (m_xData.isEmpty())
        return double(i);
    return i >= 0 && i < m_xData.size() ? m_xData.at(i) : Chart::NoValue;
}

int Layer::sampleCount() const
{
    int n = 0;
    for (const auto& ds : m_dataSets)
        n = qMax(n, ds->size());
    if (!m_xData.isEmpty())
        n = qMin(n, m_xData.size());
    return n;
}
