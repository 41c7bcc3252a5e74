#pragma once

#include "viewquery.h"

#include <QPixmap>
#include <QWidget>

// A strip over the whole recorded period with the visible window marked on an overview of the
// first chosen channel. Dragging the window moves it, dragging one of its edges resizes it, a
// press outside it centres it there.
class NavigatorStrip : public QWidget
{
    Q_OBJECT

public:
    static constexpr int EdgeGrip = 5;

    explicit NavigatorStrip(QWidget* parent = nullptr);

    void setPeriod(double first, double last);
    void setWindow(double from, double to);
    void setOverview(const ViewQuery::Result& result);
    // The window as the strip draws it, in widget pixels.
    QRect windowRect() const;

signals:
    void windowRequested(double from, double to);
    // The strip's size changed: the overview must be drawn again.
    void overviewWanted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    enum Drag
    {
        None,
        Move,
        LeftEdge,
        RightEdge
    };

    double timeAt(int x) const;
    int xAt(double time) const;

    QPixmap m_overview;
    double m_first = 0;
    double m_last = 1;
    double m_from = 0;
    double m_to = 1;
    Drag m_drag = None;
    int m_pressX = 0;
    double m_pressFrom = 0;
    double m_pressTo = 0;
};
