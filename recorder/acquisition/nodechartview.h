#pragma once

#include <QString>

// What a node pushes into the chart panel while the panel shows it. Times are seconds since 1970
// (UTC) with their milliseconds, NoValue for a slot without a sample; the panel makes its
// chart's time of them.
class NodeChartView
{
public:
    static constexpr int HistorySize = 240;

    virtual ~NodeChartView() = default;
    virtual void setData(const double* times, const double* ch1Values, const double* ch2Values,
                         const QString& ch1Text, const QString& ch2Text) = 0;
    virtual void setLqiBattery(const QString& lqiText, const QString& batteryText) = 0;
    virtual void onDeviceConnected(const QString& deviceNumber) = 0;
    virtual void onDeviceDisconnected(const QString& deviceNumber) = 0;
};
