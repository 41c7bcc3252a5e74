#pragma once

#include "valuepattern.h"

#include <QString>
#include <QVector>

#include <cstdint>

// One simulated sensor node: its record starts at holding register startRegister.
struct SimNode
{
    int startRegister = 0;
    ValuePattern channel[2];
    qint32 lqi = 0;
    qint32 battery = 0;
};

// One simulated gateway: model, wanted port (0 picks a free one) and its nodes.
struct SimGateway
{
    QString model = QStringLiteral("TQ100");
    quint16 port = 0; // 0: a free port from 20000 to 32767
    QVector<SimNode> nodes;

    // Only this model carries link quality and battery after the two channels.
    bool hasLinkRegisters() const { return model == QLatin1String("TQ100"); }
    // Number of registers the gateway serves from register 0; reads beyond it are refused.
    int registerCount() const;
    // Writes the register image at the given time into regs[0..count).
    void fillRegisters(double seconds, quint16* regs, int count) const;
};
