#include "channelcatalog.h"

void ChannelCatalog::setProject(const QList<ReportDeviceRecord>& devices)
{
    m_channels.clear();
    for (const ReportDeviceRecord& d : devices) {
        const QByteArray serial = d.deviceNumber.toUtf8();
        if (find(d.deviceNumber + QStringLiteral("_channel1")) >= 0)
            continue; // the same node twice: its samples are the same rows
        for (int c = 1; c <= 2; ++c) {
            Channel channel;
            channel.key = d.deviceNumber + QStringLiteral("_channel") + QString::number(c);
            channel.serial = serial;
            channel.channel = c;
            channel.nodeName = d.deviceName.isEmpty() ? d.deviceNumber : d.deviceName;
            channel.channelName = c == 1 ? d.ch1Name : d.ch2Name;
            if (channel.channelName.isEmpty())
                channel.channelName = QStringLiteral("Channel %1").arg(c);
            channel.unit = c == 1 ? channelUnitText(d.ch1Unit, d.ch1Custom)
                                  : channelUnitText(d.ch2Unit, d.ch2Custom);
            channel.alarmMin = c == 1 ? d.ch1Min : d.ch2Min;
            channel.alarmMax = c == 1 ? d.ch1Max : d.ch2Max;
            channel.scale = MeanKineticTemperature::scaleOf(c == 1 ? d.ch1Unit : d.ch2Unit);
            m_channels << channel;
        }
    }
}

bool ChannelCatalog::addSerials(const QList<QByteArray>& serials)
{
    bool added = false;
    for (const QByteArray& serial : serials) {
        const QString number = QString::fromUtf8(serial);
        if (find(number + QStringLiteral("_channel1")) >= 0)
            continue;
        for (int c = 1; c <= 2; ++c) {
            Channel channel;
            channel.key = number + QStringLiteral("_channel") + QString::number(c);
            channel.serial = serial;
            channel.channel = c;
            channel.nodeName = number;
            channel.channelName = QStringLiteral("Channel %1").arg(c);
            channel.inProject = false;
            m_channels << channel;
        }
        added = true;
    }
    return added;
}

void ChannelCatalog::setAlarmRules(const QList<GatewayConfig>& gateways)
{
    for (const GatewayConfig& gateway : gateways) {
        for (const NodeConfig& node : gateway.nodes) {
            for (int c = 1; c <= 2; ++c) {
                const int i =
                    find(node.deviceNumber + QStringLiteral("_channel") + QString::number(c));
                if (i < 0 || !m_channels[i].inProject)
                    continue;
                const ChannelAlarmRule& rule = node.alarmRules.channel[c - 1];
                m_channels[i].activationEnergy = rule.activationEnergy;
                m_channels[i].mktLimit = rule.mktLimit;
            }
        }
    }
}

int ChannelCatalog::find(const QString& key) const
{
    for (int i = 0; i < m_channels.size(); ++i)
        if (m_channels[i].key == key)
            return i;
    return -1;
}

QString ChannelCatalog::label(const Channel& channel)
{
    QString text = channel.nodeName + QStringLiteral(" - ") + channel.channelName;
    if (!channel.unit.isEmpty())
        text += QStringLiteral(" [") + channel.unit + QLatin1Char(']');
    return text;
}

SampleSummary ChannelCatalog::summarySettings(int intervalSeconds) const
{
    SampleSummary settings(intervalSeconds);
    for (const Channel& c : m_channels) {
        settings.setAlarmRange(c.serial, c.channel, c.alarmMin, c.alarmMax);
        if (c.scale)
            settings.setTemperature(c.serial, c.channel, *c.scale, c.activationEnergy);
    }
    return settings;
}

QVector<int> ChannelCatalog::filter(const QString& text) const
{
    QVector<int> matches;
    const QString needle = text.trimmed();
    for (int i = 0; i < m_channels.size(); ++i) {
        const Channel& c = m_channels[i];
        if (needle.isEmpty() || label(c).contains(needle, Qt::CaseInsensitive) ||
            QString::fromUtf8(c.serial).contains(needle, Qt::CaseInsensitive))
            matches << i;
    }
    return matches;
}
