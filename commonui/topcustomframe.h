#pragma once

#include <QFrame>

// Top bar of both main windows: turns mouse input on the bar into signals, which the recorder
// uses for full-screen switching and the report generator for dragging its frameless window.
class TopCustomFrame : public QFrame
{
    Q_OBJECT

public:
    explicit TopCustomFrame(QWidget* parent = nullptr);

signals:
    void customClick(QPoint);
    void customMove(QPoint);
    void customDoubleClick();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
