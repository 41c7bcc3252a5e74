#pragma once

#include "simgateway.h"

#include <QString>
#include <QStringList>
#include <QVector>

// Reads the simulator's gateways from a JSON file and from the compact command-line form.
//
// JSON file:
//   { "gateways": [ { "model": "TQ100", "port": 1502,
//                     "nodes": [ { "start": 0, "ch1": "sine:22,4,120", "ch2": 45.5,
//                                  "lqi": 200, "battery": 95 } ] } ] }
// "port" defaults to 0 (a free port from 20000 to 32767), channel values to 0, "lqi" and "battery"
// to 0; a channel is a number or a pattern text (see ValuePattern).
//
// Command line, in order: --gateway MODEL[:PORT] opens a gateway,
// --node START[/CH1[/CH2[/LQI[/BATTERY]]]] adds a node to the gateway opened last.
namespace SimConfig {

bool loadFile(const QString& path, QVector<SimGateway>* gateways, QString* error);
bool parseGateway(const QString& text, SimGateway* gateway, QString* error);
bool parseNode(const QString& text, SimNode* node, QString* error);
// Checks what both forms must satisfy: a known model, unique start registers in range.
bool validate(const QVector<SimGateway>& gateways, QString* error);

} // namespace SimConfig
