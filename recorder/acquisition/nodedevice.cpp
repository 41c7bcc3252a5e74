#include "nodedevice.h"

#include "acquisitionlog.h"
#include "configureddevice.h"
#include "datainterval.h"
#include "gatewaymodel.h"
#include "samplesink.h"
#include "nodelistitemview.h"
#include "nodesampleobserver.h"
#include "nodetileview.h"
#include "novalue.h"
#include "rangerule.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

bool alarmed(double value, float min, float max)
{
    return RangeRule(min, max).isOutside(value);
}

} // namespace

NodeDevice::NodeDevice(const QString& number, QObject* parent)
    : QObject(parent), gateway(qobject_cast<ConfiguredDevice*>(parent))
{
    m_config.deviceNumber = number;
    std::fill(std::begin(timeHistory), std::end(timeHistory), NoValue);
    std::fill(std::begin(ch1History), std::end(ch1History), NoValue);
    std::fill(std::begin(ch2History), std::end(ch2History), NoValue);
}

NodeDevice::~NodeDevice()
{
    qCDebug(lcAcquisition).noquote().nospace() << m_config.deviceNumber << " deleted.";
}

NodeDevice* NodeDevice::fromConfig(const NodeConfig& config, QObject* parent)
{
    auto* node = new NodeDevice(config.deviceNumber, parent);
    node->configure(config);
    return node;
}

void NodeDevice::configure(const NodeConfig& config)
{
    setNames(config.deviceName, config.ch1Name, config.ch2Name);
    setStartAddress(config.startAddress);
    setChannelUnits(config.ch1Unit, config.ch2Unit);
    setAlarmRanges(config.ch1Min, config.ch1Max, config.ch2Min, config.ch2Max);
    setCustomUnits(config.ch1Custom, config.ch2Custom);
    setAlarmRules(config.alarmRules);
}

void NodeDevice::setNames(const QString& name, const QString& channel1Name,
                          const QString& channel2Name)
{
    m_config.deviceName = name;
    m_config.ch1Name = channel1Name;
    m_config.ch2Name = channel2Name;
}

void NodeDevice::setChannelUnits(int unit1, int unit2)
{
    m_config.ch1Unit = channelUnitFromInt(unit1);
    m_config.ch2Unit = channelUnitFromInt(unit2);
}

void NodeDevice::setAlarmRanges(float min1, float max1, float min2, float max2)
{
    m_config.ch1Min = min1;
    m_config.ch1Max = max1;
    m_config.ch2Min = min2;
    m_config.ch2Max = max2;
}

QList<float> NodeDevice::alarmRanges() const
{
    return {m_config.ch1Min, m_config.ch1Max, m_config.ch2Min, m_config.ch2Max};
}

void NodeDevice::setCustomUnits(const QString& custom1, const QString& custom2)
{
    m_config.ch1Custom = custom1;
    m_config.ch2Custom = custom2;
}

void NodeDevice::setAlarmRules(const NodeAlarmRules& rules)
{
    m_config.alarmRules = rules;
}

void NodeDevice::setStartAddress(int address)
{
    m_config.startAddress = address;
}

void NodeDevice::setRecordEnabled(bool enabled)
{
    m_recordEnabled = enabled;
}

void NodeDevice::setSampleWriter(SampleSink* sampleWriter)
{
    writer = sampleWriter;
}

void NodeDevice::history(double* times, double* ch1Values, double* ch2Values) const
{
    std::memcpy(times, timeHistory, sizeof timeHistory);
    std::memcpy(ch1Values, ch1History, sizeof ch1History);
    std::memcpy(ch2Values, ch2History, sizeof ch2History);
}

void NodeDevice::setListItem(NodeListItemView* item)
{
    listItem = item;
    if (listItem)
        listItem->setConnected(false);
}

void NodeDevice::setChartView(NodeChartView* view)
{
    chart = view;
}

void NodeDevice::setDashboardTiles(NodeTileView* first, NodeTileView* second)
{
    tile1 = first;
    tile2 = second;
}

void NodeDevice::clearListItem()
{
    listItem = nullptr;
}

void NodeDevice::clearChartView()
{
    chart = nullptr;
}

void NodeDevice::clearDashboardTiles()
{
    tile1 = nullptr;
    tile2 = nullptr;
}

double NodeDevice::channelValue(const QString& text)
{
    if (text.isEmpty())
        return NoValue;
    // A value that cannot be shown as a number (NaN, infinity) is no value at all: it must not
    // alarm, be drawn or be stored.
    const double value = text.toDouble();
    return std::isfinite(value) ? value : NoValue;
}

void NodeDevice::setData(const QString& ch1, const QString& ch2, const QString& lqi,
                         const QString& battery, const QDateTime& sampleTime, bool refresh)
{
    NodeSample sample;
    sample.time = sampleTime;
    sample.refresh = refresh;
    const double value1 = channelValue(ch1);
    const double value2 = channelValue(ch2);
    if (value1 != NoValue)
        sample.channel1 = value1;
    if (value2 != NoValue)
        sample.channel2 = value2;
    if (gateway && GatewayModel::reportsLinkInfo(gateway->deviceModel())) {
        sample.linkQuality = NodeSample::levelNumber(lqi);
        sample.battery = NodeSample::levelNumber(battery);
    }
    take(sample, ch1, ch2, lqi, battery);
}

void NodeDevice::setData(const NodeSample& sample)
{
    take(sample, NodeSample::channelText(sample.channel1), NodeSample::channelText(sample.channel2),
         NodeSample::levelText(sample.linkQuality), NodeSample::levelText(sample.battery));
}

void NodeDevice::take(const NodeSample& sample, const QString& ch1, const QString& ch2,
                      const QString& lqi, const QString& battery)
{
    latest = sample;
    m_ch1Text = ch1;
    m_ch2Text = ch2;
    m_lqiText = lqi;
    m_batteryText = battery;
    qCDebug(lcAcquisition).noquote().nospace() << "NodeDevice::setData : " << m_config.deviceName
                                 << " startAddress : " << m_config.startAddress << " ch1 : " << m_ch1Text
                                 << " ch2 : " << m_ch2Text << " lqi : " << m_lqiText << " bat : "
                                 << m_batteryText;
    const QDateTime& sampleTime = sample.time;
    const bool refresh = sample.refresh;
    const double value1 = sample.channel1.value_or(NoValue);
    const double value2 = sample.channel2.value_or(NoValue);
    // Seconds since 1970 (UTC) with the milliseconds; the chart makes its own time of them.
    const double t = double(sampleTime.toSecsSinceEpoch()) + sampleTime.time().msec() / 1000.0;

    setCheckAlarmSet1(value1);
    setCheckAlarmSet2(value2);

    const int newest = HistorySize - 1;
    if (t != timeHistory[newest]) {
        std::memmove(timeHistory, timeHistory + 1, sizeof(double) * newest);
        std::memmove(ch1History, ch1History + 1, sizeof(double) * newest);
        std::memmove(ch2History, ch2History + 1, sizeof(double) * newest);
        timeHistory[newest] = t;
    }
    ch1History[newest] = value1;
    ch2History[newest] = value2;

    if (chart) {
        chart->setData(timeHistory, ch1History, ch2History, m_ch1Text, m_ch2Text);
        if (chart && gateway && GatewayModel::reportsLinkInfo(gateway->deviceModel()))
            chart->setLqiBattery(m_lqiText, m_batteryText);
    }
    if (tile1)
        tile1->setValue(m_ch1Text);
    if (tile2)
        tile2->setValue(m_ch2Text);

    if (m_recordEnabled && !refresh)
        queue(value1, value2, sampleTime);
    if (sampleObserver)
        sampleObserver->nodeSampled(configuration(), sample);
}

void NodeDevice::queue(double value1, double value2, const QDateTime& time) const
{
    SampleRecord record;
    record.deviceNumber = m_config.deviceNumber;
    record.channel1 = value1;
    record.channel2 = value2;
    record.pointDate = quint32(time.toSecsSinceEpoch());
    if (writer)
        writer->queueSample(record);
}

void NodeDevice::deviceConnected()
{
    if (listItem)
        listItem->setConnected(true);
    if (chart)
        chart->onDeviceConnected(m_config.deviceNumber);
    if (tile1)
        tile1->onDeviceConnected(m_config.deviceNumber);
    if (tile2)
        tile2->onDeviceConnected(m_config.deviceNumber);
}

void NodeDevice::deviceDisconnected()
{
    qCDebug(lcAcquisition).noquote().nospace() << "- NodeDevice::deviceDisconnected() : " << m_config.deviceNumber;
    if (listItem)
        listItem->setConnected(false);
    if (chart)
        chart->onDeviceDisconnected(m_config.deviceNumber);
    if (tile1)
        tile1->onDeviceDisconnected(m_config.deviceNumber);
    if (tile2)
        tile2->onDeviceDisconnected(m_config.deviceNumber);
    m_ch1Text.clear();
    m_ch2Text.clear();
    latest.channel1.reset();
    latest.channel2.reset();
    checkAlarms();
    if (sampleObserver)
        sampleObserver->nodeDisconnected(m_config.deviceNumber);
}

void NodeDevice::insertNoValue()
{
    qCDebug(lcAcquisition).noquote().nospace() << "- ConfiguredDevice::insertNoValue() : " << m_config.deviceNumber;
    const QDateTime last = gateway ? gateway->lastPollTime : QDateTime::currentDateTimeUtc();
    if (m_recordEnabled)
        queue(NoValue, NoValue, last.addMSecs(gateway ? gateway->interval() : DefaultDataInterval));
}

void NodeDevice::checkAlarms()
{
    setCheckAlarmSet1(latest.channel1.value_or(NoValue));
    setCheckAlarmSet2(latest.channel2.value_or(NoValue));
}

void NodeDevice::setCheckAlarmSet1(double value)
{
    m_ch1Alarm = alarmed(value, m_config.ch1Min, m_config.ch1Max);
    if (m_ch1Alarm)
        qCDebug(lcAcquisition).noquote().nospace() << "- ConfiguredDevice::setCheckAlarmSet1() : "
                                     << m_config.deviceNumber;
}

void NodeDevice::setCheckAlarmSet2(double value)
{
    m_ch2Alarm = alarmed(value, m_config.ch2Min, m_config.ch2Max);
    if (m_ch2Alarm)
        qCDebug(lcAcquisition).noquote().nospace() << "- ConfiguredDevice::setCheckAlarmSet2() : "
                                     << m_config.deviceNumber;
}
