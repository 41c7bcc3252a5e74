#pragma once

#include "nodechartview.h"

#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class NodeDevice;
class QChartViewer;
class QChartViewerLabel;
class QFrame;
class QMouseEvent;
class XYChart;

namespace Ui {
class ChartView;
}

// The panel that shows one node: name, identifier, link state, radio power and battery, and per
// channel the current value on a tile coloured by alarm and link state, with a line chart of
// the last 240 samples and a track cursor that reads out the sample under the mouse. The node
// pushes its samples in while the panel shows it.
class ChartView : public QWidget, public NodeChartView
{
    Q_OBJECT

public:
    explicit ChartView(QWidget* parent = nullptr);
    ~ChartView() override;

    void clearView();
    void setNodeDevice(NodeDevice* node);
    void refreshDeviceInfo();
    NodeDevice* nodeDevice() const;

    // Called by the node shown.
    void setData(const double* times, const double* ch1Values, const double* ch2Values,
                 const QString& ch1Text, const QString& ch2Text) override;
    void setLqiBattery(const QString& lqiText, const QString& batteryText) override;
    void onDeviceConnected(const QString& deviceNumber) override;
    void onDeviceDisconnected(const QString& deviceNumber) override;

    // "°C", "°F", "%RH", the custom text for Custom, empty otherwise.
    static QString unitText(int unit, const QString& customText);

    static QString normalStyle();
    static QString alarmStyle();
    static QString noValueStyle();

    QChartViewer* viewer1() const { return m_viewer1; }
    QChartViewer* viewer2() const { return m_viewer2; }

signals:
    void popupSensingOption();
    void popupNetworkSetting();

public slots:
    void drawChart();
    void drawChart2();
    void onMouseMovePlotArea(QMouseEvent* event);
    void onMouseMovePlotArea2(QMouseEvent* event);
    void updateChart();
    void slotPopupSensingOption();
    void slotPopupNetwork();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void setConnectionState(bool connected);
    // The interval of the shown node's gateway; the default while no node is shown.
    int interval() const;
    void buildChart(QChartViewer* viewer, QChartViewerLabel* host, const double* values, int color,
                    const char* name);
    void showChannel(int channel, const QString& text, bool alarm);
    // Restyling a frame costs a polish of all its children; an unchanged style is skipped.
    static void setTileStyle(QFrame* tile, const QString& style);

    std::unique_ptr<Ui::ChartView> ui;
    QPixmap m_connectingPixmap;
    QPixmap m_disconnectedPixmap;
    QPixmap m_lanPixmap;
    int m_ch1Unit = 0;
    int m_ch2Unit = 0;
    QString m_ch1Custom;
    QString m_ch2Custom;
    // Guarded: a node deleted while shown must not be dereferenced by a late redraw.
    QPointer<NodeDevice> m_node;
    QChartViewer* m_viewer1 = nullptr;
    QChartViewer* m_viewer2 = nullptr;
    double m_times[HistorySize];
    double m_ch1Values[HistorySize];
    double m_ch2Values[HistorySize];
};
