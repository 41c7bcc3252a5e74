#pragma once

#include <QString>

// The state behind a view-port manager: which part of the full data range the chart shows
// (left, top, width, height as fractions of it), the plot area of the image on screen, and the
// drag and zoom arithmetic the chart viewer calls.
class ViewPort
{
public:
    // Pixels around the plot area that still count as being on it, so a cursor can reach the
    // edges without the pointer having to hit the exact pixel.
    static constexpr int ExtendedMargin = 8;

    // Metrics text from BaseChart::getChartMetrics; empty forgets the chart.
    void setChartMetrics(const QString &metrics);
    bool hasChart() const { return m_hasChart; }
    int getPlotAreaLeft() const { return m_plotLeft; }
    int getPlotAreaTop() const { return m_plotTop; }
    int getPlotAreaWidth() const { return m_plotWidth; }
    int getPlotAreaHeight() const { return m_plotHeight; }
    bool inPlotArea(int x, int y) const;
    bool inExtendedPlotArea(int x, int y) const;

    double getViewPortLeft() const { return m_left; }
    double getViewPortTop() const { return m_top; }
    double getViewPortWidth() const { return m_width; }
    double getViewPortHeight() const { return m_height; }
    void setViewPortLeft(double left) { m_left = left; }
    void setViewPortTop(double top) { m_top = top; }
    void setViewPortWidth(double width) { m_width = width; }
    void setViewPortHeight(double height) { m_height = height; }
    void setZoomInWidthLimit(double limit) { m_zoomInWidthLimit = limit; }
    void setZoomOutWidthLimit(double limit) { m_zoomOutWidthLimit = limit; }
    void setZoomInHeightLimit(double limit) { m_zoomInHeightLimit = limit; }
    void setZoomOutHeightLimit(double limit) { m_zoomOutHeightLimit = limit; }

    // Keeps sizes within the zoom limits and the view port inside the full range.
    void validateViewPort();
    bool canZoomIn(int axes) const;
    bool canZoomOut(int axes) const;
    void startDrag();
    // Pointer travel since startDrag, in pixels; true when the view port moved.
    bool dragTo(int axes, int dx, int dy);
    // Zooms by factor (above 1 in, below 1 out) keeping the data under (x, y) in place.
    bool zoomAt(int axes, int x, int y, double factor);
    // Zooms so that the pixel rectangle spanned by the two corners fills the plot area.
    bool zoomTo(int axes, int x1, int y1, int x2, int y2);

private:
    bool horizontalIn(int axes) const { return axes != 1; }
    bool verticalIn(int axes) const { return axes != 0; }

    bool m_hasChart = false;
    int m_plotLeft = 0;
    int m_plotTop = 0;
    int m_plotWidth = 0;
    int m_plotHeight = 0;
    double m_left = 0;
    double m_top = 0;
    double m_width = 1;
    double m_height = 1;
    double m_zoomInWidthLimit = 0.01;
    double m_zoomOutWidthLimit = 1;
    double m_zoomInHeightLimit = 0.01;
    double m_zoomOutHeightLimit = 1;
    double m_dragLeft = 0;
    double m_dragTop = 0;
};
