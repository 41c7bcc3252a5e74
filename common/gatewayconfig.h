#pragma once

#include "nodeconfig.h"

#include <QList>
#include <QString>

// Configuration of one Modbus TCP gateway and the nodes read through it.
struct GatewayConfig
{
    QString ipAddress;
    quint16 port = 502;
    QString deviceModel = QStringLiteral("TQ100");
    QList<NodeConfig> nodes;
};
