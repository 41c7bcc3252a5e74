#include "demogateway.h"

#include "channelunit.h"

GatewayConfig DemoGateway::config(int index, quint16 port, int nodes, int firstNumber)
{
    const bool cold = index % 2 != 0;
    GatewayConfig config;
    config.ipAddress = QStringLiteral("127.0.0.1");
    config.port = port;
    config.deviceModel = cold ? QStringLiteral("TQ700") : QStringLiteral("TQ100");
    for (int i = 0; i < nodes; ++i) {
        NodeConfig node;
        node.deviceNumber = QStringLiteral("DEMO%1").arg(firstNumber + i, 2, 10, QLatin1Char('0'));
        node.deviceName = cold ? QStringLiteral("Cold store %1").arg(i + 1)
                               : QStringLiteral("Room %1").arg(i + 1);
        node.ch1Name = QStringLiteral("Temperature");
        node.ch2Name = QStringLiteral("Humidity");
        node.startAddress = 4 * i;
        node.ch1Unit = TemperatureC;
        node.ch2Unit = Humidity;
        // Room 3 swings from 16 to 32 degrees once a minute and so passes 30.
        node.ch1Min = cold ? -25 : 15;
        node.ch1Max = 30;
        node.ch2Min = 10;
        node.ch2Max = 95;
        // Cold store 1 rises from 4 to 10.5 degrees for 4 minutes every 15 minutes: it alarms
        // after a minute beyond 8, unlike a door opened for less.
        if (cold && i == 0) {
            node.ch1Min = 0;
            node.ch1Max = 8;
            node.alarmRules.channel[0].delayMinutes = 1;
        }
        config.nodes << node;
    }
    return config;
}
