#pragma once

#include <QString>

// What an alarm is about: a channel beyond its upper or lower limit, or a whole node that stopped
// sending valid samples or runs low on battery.
enum class AlarmKind
{
    High,
    Low,
    NoData,
    Battery
};

// How an alarm event ended; Active while it lasts.
enum class AlarmEnd
{
    Active,
    Cleared,
    RecorderStopped,
    NoData
};

// The texts the event log, the forwarded records and the exports carry: "high", "low",
// "no data", "battery"; "active", "cleared", "recorder stopped", "no data".
QString alarmKindText(AlarmKind kind);
QString alarmEndText(AlarmEnd end);
// The other way round; false, and the first value, for a text that names none.
bool alarmKindFromText(const QString& text, AlarmKind* kind);
bool alarmEndFromText(const QString& text, AlarmEnd* end);
