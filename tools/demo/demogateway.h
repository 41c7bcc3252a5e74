#pragma once

#include "gatewayconfig.h"

// The gateways of the simulator's demo configuration (tools/gatewaysim/demo.json: a TQ100 and a
// TQ700 with eight nodes each, four registers apart) as a project lists them, with units and
// alarm ranges chosen so that one room leaves its range within a minute (an immediate alarm) and
// the first cold store stays above its range for four minutes every quarter hour (an alarm
// after its 1-minute delay).
class DemoGateway
{
public:
    // Gateway index of a project: even ones are TQ100 rooms, odd ones TQ700 cold stores. Node
    // numbers count on from firstNumber ("DEMO01", ...).
    static GatewayConfig config(int index, quint16 port, int nodes, int firstNumber);
};
