#pragma once

#include "alarmrules.h"
#include "channelunit.h"

#include <QString>

// One node as the report generator reads it: flat, with its gateway's address and port.
struct ReportDeviceRecord
{
    QString deviceName;
    QString ch1Name;
    QString ch2Name;
    QString deviceNumber;
    QString ipAddress;
    quint16 port = 23;
    int deviceType = 2; // 1 for a flat "SERIAL" device, 2 otherwise
    float ch1Min = 0;
    float ch1Max = 0;
    float ch2Min = 0;
    float ch2Max = 0;
    ChannelUnit ch1Unit = Undefined;
    ChannelUnit ch2Unit = Undefined;
    QString ch1Custom;
    QString ch2Custom;
    NodeAlarmRules alarmRules; // from the project's alarm rules, by deviceNumber
};
