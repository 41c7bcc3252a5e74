#include "alarmrules.h"

bool ChannelAlarmRule::operator==(const ChannelAlarmRule& other) const
{
    return delayMinutes == other.delayMinutes && deadband == other.deadband &&
           activationEnergy == other.activationEnergy && mktLimit == other.mktLimit;
}

bool NodeAlarmRules::isDefault() const
{
    return *this == NodeAlarmRules();
}

bool NodeAlarmRules::operator==(const NodeAlarmRules& other) const
{
    return channel[0] == other.channel[0] && channel[1] == other.channel[1] &&
           noDataMinutes == other.noDataMinutes && batteryLow == other.batteryLow &&
           outOfServiceDaily == other.outOfServiceDaily;
}

const QList<int>& NodeAlarmRules::offeredDelays()
{
    static const QList<int> delays{0, 1, 2, 5, 10, 15, 30, 60};
    return delays;
}

bool NodeAlarmRules::isOfferedDelay(int minutes)
{
    return offeredDelays().contains(minutes);
}
