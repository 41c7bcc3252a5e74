#pragma once

#include <QLabel>

// The host of a chart viewer: tells its owner on every resize so the chart is rebuilt to fit.
class QChartViewerLabel : public QLabel
{
    Q_OBJECT

public:
    explicit QChartViewerLabel(QWidget* parent = nullptr);

signals:
    void refreshChart();

protected:
    void resizeEvent(QResizeEvent* event) override;
};
