#pragma once

#include "dailywindow.h"

#include <QList>

#include <optional>

// When a channel's excursion beyond its range becomes an alarm, and when it ends.
struct ChannelAlarmRule
{
    // Minutes a value must stay beyond the range before the alarm starts; 0 at once.
    int delayMinutes = 0;
    // How far back inside the range a value must come for the alarm to clear; 0 at the limit.
    double deadband = 0;
    // Mean kinetic temperature of a temperature channel: its activation energy in kJ/mol (0:
    // the default, 83.144), and a limit in the channel's unit that marks the channel in the
    // reports when its figure exceeds it (none: unmarked).
    double activationEnergy = 0;
    std::optional<double> mktLimit;

    bool operator==(const ChannelAlarmRule& other) const;
    bool operator!=(const ChannelAlarmRule& other) const { return !(*this == other); }
};

// The alarm rules of one node beside its ranges. The defaults (what every project file made
// before the rules existed reads as) raise an alarm as soon as a value leaves its range, and
// none for a silent node or its battery.
struct NodeAlarmRules
{
    static constexpr int DefaultNoDataMinutes = 5;
    static constexpr int DefaultBatteryLow = 20;
    static constexpr int MaxNoDataMinutes = 24 * 60;

    ChannelAlarmRule channel[2];
    // "no data" after this many minutes without a valid sample; 0 off.
    int noDataMinutes = 0;
    // "battery low" while the node reports a battery level below this; 0 off. Only nodes whose
    // gateway model reports the battery can raise it.
    int batteryLow = 0;
    // Out of service each day at this local time (maintenance): none of its alarms is raised.
    DailyWindow outOfServiceDaily;

    bool isDefault() const;
    bool operator==(const NodeAlarmRules& other) const;
    bool operator!=(const NodeAlarmRules& other) const { return !(*this == other); }

    // The delays the editor offers, in minutes: 0, 1, 2, 5, 10, 15, 30, 60.
    static const QList<int>& offeredDelays();
    static bool isOfferedDelay(int minutes);
};
