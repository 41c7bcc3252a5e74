#pragma once

#include "channelunit.h"

#include <QObject>
#include <QString>

struct ReportDeviceRecord;

// The report generator's record of one sensor node, with its gateway's address and port.
class ConfiguredDevice : public QObject
{
    Q_OBJECT

public:
    explicit ConfiguredDevice(QObject* parent = nullptr);
    ConfiguredDevice(const ReportDeviceRecord& record, QObject* parent = nullptr);

    QString deviceName;
    QString ch1Name;
    QString ch2Name;
    QString deviceNumber;
    QString ipAddress;
    quint16 port = 23;
    int deviceType = 2;
    float ch1Min = 0;
    float ch1Max = 0;
    float ch2Min = 0;
    float ch2Max = 0;
    ChannelUnit ch1Unit = Undefined;
    ChannelUnit ch2Unit = Undefined;
    QString ch1Custom;
    QString ch2Custom;
};
