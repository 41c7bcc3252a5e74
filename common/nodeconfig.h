#pragma once

#include "alarmrules.h"
#include "channelunit.h"

#include <QString>

// Configuration of one sensor node as the project file stores it.
struct NodeConfig
{
    QString deviceNumber;
    QString deviceName;
    QString ch1Name;
    QString ch2Name;
    int startAddress = 0;
    ChannelUnit ch1Unit = Undefined;
    ChannelUnit ch2Unit = Undefined;
    float ch1Min = 0;
    float ch1Max = 0;
    float ch2Min = 0;
    float ch2Max = 0;
    QString ch1Custom;
    QString ch2Custom;
    // Stored apart from the device list, under a key of its own.
    NodeAlarmRules alarmRules;
};
