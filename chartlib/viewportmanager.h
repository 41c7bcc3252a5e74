#pragma once

class ViewPort;

// Base of widgets that scroll and zoom a chart: owns the view-port state made by
// CViewPortManager_create and offers its view-port fractions.
class ViewPortManager
{
public:
    ViewPortManager();
    virtual ~ViewPortManager();
    ViewPortManager(const ViewPortManager &) = delete;
    ViewPortManager &operator=(const ViewPortManager &) = delete;

    double getViewPortLeft() const;
    double getViewPortTop() const;
    double getViewPortWidth() const;
    double getViewPortHeight() const;
    void setViewPortLeft(double left);
    void setViewPortTop(double top);
    void setViewPortWidth(double width);
    void setViewPortHeight(double height);
    void setZoomInWidthLimit(double limit);
    void setZoomOutWidthLimit(double limit);
    void setZoomInHeightLimit(double limit);
    void setZoomOutHeightLimit(double limit);

    ViewPort *getInternalPtr() const { return m_vpm; }

protected:
    ViewPort *m_vpm;
};
