#pragma once

#include "calibrationrecord.h"

#include <QString>

#include <functional>
#include <optional>

// What a node's dialogs may do with the open project's calibration register: read the entry in
// force of a channel, and enter a new one through the window's command (signature, records).
// The answer of `enter` comes later (a signature is asked for): `done` with true once the entry
// was taken, false with the reason when it was refused, false without one when cancelled.
struct CalibrationAccess
{
    using Done = std::function<void(bool taken, const QString& problem)>;

    std::function<std::optional<CalibrationRecord>(const QString& serial, int channel)> current;
    std::function<void(const CalibrationRecord& row, const Done& done)> enter;

    bool isSet() const { return current && enter; }
};
