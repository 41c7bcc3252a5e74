#include "reportchannel.h"

#include "channelunit.h"
#include "configureddevice.h"
#include "reporttables.h"

QString ReportChannel::key() const
{
    return serial + QLatin1Char('_') + column;
}

QString ReportChannel::itemText() const
{
    return name + QStringLiteral("\t[") + device + QLatin1Char(']');
}

QString ReportChannel::toolTip() const
{
    return key() + QLatin1Char('|') + unit;
}

QString ReportChannel::unitText() const
{
    return unit;
}

QString ReportChannel::title() const
{
    QString text = itemText();
    text.remove(QLatin1Char('\t'));
    return text.section(QLatin1Char('['), 0, 0);
}

QString ReportChannel::deviceName() const
{
    const QString text = itemText();
    const int open = text.indexOf(QLatin1Char('['));
    if (open < 0)
        return QString();
    QString inside = text.mid(open + 1).trimmed();
    inside.remove(QLatin1Char('['));
    inside.remove(QLatin1Char(']'));
    return inside;
}

bool ReportChannel::splitKey(const QString& key, QString* serial, QString* column)
{
    const QString text = key.section(QLatin1Char('|'), 0, 0);
    const int cut = text.lastIndexOf(QLatin1Char('_'));
    if (cut < 0)
        return false;
    *serial = text.left(cut);
    *column = text.mid(cut + 1);
    return true;
}

ReportChannel ReportChannel::fromKey(const QString& key)
{
    ReportChannel channel;
    if (!splitKey(key, &channel.serial, &channel.column))
        channel.serial = key.section(QLatin1Char('|'), 0, 0);
    const int bar = key.indexOf(QLatin1Char('|'));
    if (bar >= 0)
        channel.unit = key.mid(bar + 1);
    return channel;
}

QList<ReportChannel> ReportChannel::ofDevices(const QList<ConfiguredDevice*>& devices, bool limits)
{
    QList<ReportChannel> channels;
    for (const ConfiguredDevice* device : devices) {
        for (int c = 1; c <= 2; ++c) {
            ReportChannel channel;
            channel.serial = device->deviceNumber;
            channel.column = c == 1 ? QStringLiteral("channel1") : QStringLiteral("channel2");
            channel.name = c == 1 ? device->ch1Name : device->ch2Name;
            channel.device = device->deviceName;
            channel.unit = c == 1 ? channelUnitName(device->ch1Unit, device->ch1Custom)
                                  : channelUnitName(device->ch2Unit, device->ch2Custom);
            channel.rangeLower = c == 1 ? device->ch1Min : device->ch2Min;
            channel.rangeUpper = c == 1 ? device->ch1Max : device->ch2Max;
            channel.ranged = channel.rangeLower != channel.rangeUpper;
            channel.scale =
                MeanKineticTemperature::scaleOf(c == 1 ? device->ch1Unit : device->ch2Unit);
            const ChannelAlarmRule& rule = device->alarmRules.channel[c - 1];
            if (MeanKineticTemperature::acceptsActivationEnergy(rule.activationEnergy))
                channel.activationEnergy = rule.activationEnergy;
            channel.mktLimit = rule.mktLimit;
            channels.append(channel);
        }
    }
    if (!limits)
        return channels;
    for (ReportChannel& channel : channels) {
        for (const ConfiguredDevice* device : devices) {
            if (device->deviceNumber != channel.serial)
                continue;
            const bool second = channel.column == QLatin1String("channel2");
            channel.lower = second ? device->ch2Min : device->ch1Min;
            channel.upper = second ? device->ch2Max : device->ch1Max;
            channel.limited = channel.lower != channel.upper;
            break;
        }
    }
    return channels;
}

bool ReportChannel::pick(const QList<ReportChannel>& channels, const QStringList& keys,
                         QList<int>* picked, QString* unknown)
{
    picked->clear();
    for (const QString& key : keys) {
        int found = -1;
        for (int i = 0; i < channels.size() && found < 0; ++i) {
            if (channels.at(i).key() == key)
                found = i;
        }
        if (found < 0 || picked->contains(found) || picked->size() >= ReportColumns) {
            *unknown = key;
            picked->clear();
            return false;
        }
        picked->append(found);
    }
    return true;
}
