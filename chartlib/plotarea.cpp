#include "plotarea.h"

#include "chartcore.h"
#include "chartdefs.h"

PlotArea::PlotArea(ChartCore *core)
    : m_core(core)
    , m_bgColor(Chart::Transparent)
    , m_altBgColor(Chart::DefaultColor)
    , m_edgeColor(Chart::Transparent)
    , m_hGridColor(Chart::Transparent)
    , m_vGridColor(Chart::Transparent)
{
}

void PlotArea::set(int x, int y, int width, int height, int bgColor, int altBgColor, int edgeColor,
                   int hGridColor, int vGridColor)
{
    m_x = x;
    m_y = y;
    m_width = qMax(0, width);
    m_height = qMax(0, height);
    m_bgColor = bgColor;
    m_altBgColor = altBgColor;
    m_edgeColor = edgeColor;
    m_hGridColor = hGridColor;
    m_vGridColor = vGridColor;
    m_core->invalidate();
}

void PlotArea::setGridColor(int hGridColor, int vGridColor)
{
    m_hGridColor = hGridColor;
    m_vGridColor = vGridColor;
    m_core->invalidate();
}

void PlotArea::setBackground(int bgColor, int altBgColor, int edgeColor)
{
    m_bgColor = bgColor;
    m_altBgColor = altBgColor;
    m_edgeColor = edgeColor;
    m_core->invalidate();
}
