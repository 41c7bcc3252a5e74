#pragma once

#include "nodechartview.h"
#include "nodelistitemview.h"
#include "nodetileview.h"

#include <QStringList>

// Views that write down what a node pushed into them, so tests can check the calls and their
// order without any widget.
class RecordingChartView : public NodeChartView
{
public:
    void setData(const double* times, const double* ch1Values, const double* ch2Values,
                 const QString& ch1Text, const QString& ch2Text) override
    {
        calls << QStringLiteral("setData %1 %2").arg(ch1Text, ch2Text);
        lastTime = times[HistorySize - 1];
        sampleTimes << lastTime;
        lastCh1 = ch1Values[HistorySize - 1];
        lastCh2 = ch2Values[HistorySize - 1];
    }
    void setLqiBattery(const QString& lqi, const QString& battery) override
    {
        calls << QStringLiteral("setLqiBattery %1 %2").arg(lqi, battery);
    }
    void onDeviceConnected(const QString& number) override
    {
        calls << QStringLiteral("connected ") + number;
    }
    void onDeviceDisconnected(const QString& number) override
    {
        calls << QStringLiteral("disconnected ") + number;
    }

    QStringList calls;
    QList<double> sampleTimes;
    double lastTime = 0;
    double lastCh1 = 0;
    double lastCh2 = 0;
};

class RecordingTileView : public NodeTileView
{
public:
    void setValue(const QString& text) override { calls << QStringLiteral("value ") + text; }
    void onDeviceConnected(const QString& number) override
    {
        calls << QStringLiteral("connected ") + number;
    }
    void onDeviceDisconnected(const QString& number) override
    {
        calls << QStringLiteral("disconnected ") + number;
    }

    QStringList calls;
};

class RecordingListItem : public NodeListItemView
{
public:
    void setConnected(bool connected) override { icons << connected; }

    QList<bool> icons;
};
