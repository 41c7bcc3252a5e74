#include "dataset.h"

#include "chartcore.h"
#include "chartdefs.h"
#include "layer.h"

DataSet::DataSet(Layer* layer, const double* data, int count, int color, const QString& name)
    : m_layer(layer), m_color(color), m_name(name)
{
    if (data && count > 0) {
        m_values.resize(count);
        std::copy(data, data + count, m_values.begin());
    }
}

QString DataSet::getLegendIcon() const
{
    return QStringLiteral("<*swatch=%1*>")
        .arg(QString::number(unsigned(m_color), 16).rightJustified(6, QLatin1Char('0')));
}

double DataSet::getValue(int i) const
{
    return i >= 0 && i < m_values.size() ? m_values.at(i) : Chart::NoValue;
}

double DataSet::getPosition(int i) const
{
    return getValue(i);
}

void DataSet::setUseYAxis(Axis* axis)
{
    m_yAxis = axis;
    m_layer->core()->invalidate();
}
