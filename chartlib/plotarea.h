#pragma once

class ChartCore;

// The rectangle in which layers are drawn, with its background and grid colours. Its pixel edges
// are inclusive: the right edge is left + width, the bottom edge top + height.
class PlotArea
{
public:
    explicit PlotArea(ChartCore *core);

    void set(int x, int y, int width, int height, int bgColor, int altBgColor, int edgeColor,
             int hGridColor, int vGridColor);
    void setGridColor(int hGridColor, int vGridColor);
    void setBackground(int bgColor, int altBgColor, int edgeColor);

    int getLeftX() const { return m_x; }
    int getTopY() const { return m_y; }
    int getRightX() const { return m_x + m_width; }
    int getBottomY() const { return m_y + m_height; }
    int getWidth() const { return m_width; }
    int getHeight() const { return m_height; }

    int bgColor() const { return m_bgColor; }
    int altBgColor() const { return m_altBgColor; }
    int edgeColor() const { return m_edgeColor; }
    int hGridColor() const { return m_hGridColor; }
    int vGridColor() const { return m_vGridColor; }

private:
    ChartCore *m_core;
    int m_x = 0;
    int m_y = 0;
    int m_width = 0;
    int m_height = 0;
    int m_bgColor;
    int m_altBgColor;
    int m_edgeColor;
    int m_hGridColor;
    int m_vGridColor;
};
