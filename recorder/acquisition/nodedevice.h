#pragma once

#include "channelunit.h"
#include "nodechartview.h"
#include "nodeconfig.h"
#include "nodesample.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

class ConfiguredDevice;
class SampleSink;
class NodeListItemView;
class NodeSampleObserver;
class NodeTileView;

// Run-time state of one sensor node: latest values as text, the last 240 samples for the charts,
// one alarm flag per channel. Each sample from the gateway is pushed into the views attached to
// the node and, while recording, queued for the database.
class NodeDevice : public QObject
{
    Q_OBJECT

public:
    static constexpr int HistorySize = NodeChartView::HistorySize;

    explicit NodeDevice(const QString& deviceNumber, QObject* parent = nullptr);
    ~NodeDevice() override;

    static NodeDevice* fromConfig(const NodeConfig& config, QObject* parent);
    const NodeConfig& configuration() const { return m_config; }
    // Takes every setting of `config` but its device number, which names the node for good.
    void configure(const NodeConfig& config);
    const QString& deviceNumber() const { return m_config.deviceNumber; }

    void setNames(const QString& name, const QString& channel1Name, const QString& channel2Name);
    void setChannelUnits(int unit1, int unit2);
    // The units' own texts where a unit is Custom.
    void setCustomUnits(const QString& custom1, const QString& custom2);
    void setAlarmRanges(float min1, float max1, float min2, float max2);
    // ch1Min, ch1Max, ch2Min, ch2Max
    QList<float> alarmRanges() const;
    void setAlarmRules(const NodeAlarmRules& rules);
    void setStartAddress(int address);
    // The node's registers in its gateway's block: from startAddress(), registerCount() words.
    int startAddress() const { return m_config.startAddress; }
    int registerCount() const { return m_registerCount; }
    void setRecordEnabled(bool enabled);
    bool recordEnabled() const { return m_recordEnabled; }
    // The open project's database writer, which keeps the recorded samples until they are
    // written; none (the default) stores nothing.
    void setSampleWriter(SampleSink* writer);

    // The last HistorySize samples, oldest first; times as NodeChartView has them.
    void history(double* times, double* ch1Values, double* ch2Values) const;
    const double* timeHistoryData() const { return timeHistory; }
    const double* ch1HistoryData() const { return ch1History; }
    const double* ch2HistoryData() const { return ch2History; }

    void setListItem(NodeListItemView* item);
    void setChartView(NodeChartView* view);
    void setDashboardTiles(NodeTileView* tile1, NodeTileView* tile2);
    void clearListItem();
    void clearChartView();
    void clearDashboardTiles();
    NodeChartView* chartView() const { return chart; }
    // Not owned; none by default. Told of every sample after the views, and of disconnection.
    void setSampleObserver(NodeSampleObserver* observer) { sampleObserver = observer; }

    // One decoded sample from the gateway: shown, judged against the ranges, queued for the
    // database (unless a refresh) and handed to the observer.
    void setData(const NodeSample& sample);
    // The same from the texts the decoding makes ("21.50", "-1" for no link quality): link
    // quality and battery count only where the gateway's model reports them.
    void setData(const QString& ch1, const QString& ch2, const QString& lqi, const QString& battery,
                 const QDateTime& sampleTime, bool refresh);
    // The last sample taken; its channels are none once the gateway is lost.
    const NodeSample& latestSample() const { return latest; }
    // The texts the node shows for its last sample: a channel (1 or 2) as the gateway's decoding
    // gave it (empty once the gateway is lost), link quality and battery ("-1" for none).
    const QString& shownChannel(int channel) const { return channel == 1 ? m_ch1Text : m_ch2Text; }
    const QString& shownLinkQuality() const { return m_lqiText; }
    const QString& shownBattery() const { return m_batteryText; }
    // Whether the channel's (1 or 2) last value lies outside its range.
    bool isAlarmed(int channel) const { return channel == 1 ? m_ch1Alarm : m_ch2Alarm; }
    void deviceConnected();
    void deviceDisconnected();
    void insertNoValue();
    void checkAlarms();
    void setCheckAlarmSet1(double value);
    void setCheckAlarmSet2(double value);

    // A channel text as a number; NoValue when there is none (empty, or not finite).
    static double channelValue(const QString& text);

private:
    NodeConfig m_config;
    bool m_recordEnabled = false;
    int m_registerCount = 4;
    bool m_ch1Alarm = false;
    bool m_ch2Alarm = false;
    QString m_ch1Text;
    QString m_ch2Text;
    QString m_lqiText;
    QString m_batteryText;

    void queue(double value1, double value2, const QDateTime& time) const;
    // Takes a sample with the texts it is shown by.
    void take(const NodeSample& sample, const QString& ch1, const QString& ch2, const QString& lqi,
              const QString& battery);

    NodeSample latest;
    double timeHistory[HistorySize];
    double ch1History[HistorySize];
    double ch2History[HistorySize];
    NodeListItemView* listItem = nullptr;
    NodeChartView* chart = nullptr;
    NodeTileView* tile1 = nullptr;
    NodeTileView* tile2 = nullptr;
    NodeSampleObserver* sampleObserver = nullptr;
    ConfiguredDevice* gateway = nullptr;
    QPointer<SampleSink> writer;
};
