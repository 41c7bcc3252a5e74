#pragma once

#include "alarmkind.h"
#include "correctiveaction.h"

#include <QMetaType>
#include <QString>
#include <QVector>

#include <optional>

// One alarm event as the project's database keeps it. Times are seconds since 1970 UTC.
struct AlarmEventRecord
{
    qint64 id = 0;
    QString serial;
    int channel = 0; // 1 or 2; 0 for an alarm of the whole node (no data, battery)
    AlarmKind kind = AlarmKind::High;
    std::optional<double> limit; // the limit crossed; none for no data
    qint64 start = 0;            // the first sample beyond the limit (no data: the last valid one)
    qint64 raised = 0;           // when the condition had lasted the channel's delay
    std::optional<double> extremeValue;
    std::optional<qint64> extremeTime;
    std::optional<qint64> end;
    AlarmEnd ended = AlarmEnd::Active;
    std::optional<qint64> acknowledgedAt;
    QString acknowledgedBy;
    QString comment; // free text with the acknowledgement
    CorrectiveAction action; // with the acknowledgement; empty without one
    // The acknowledgement's electronic signature as people read it
    // (ElectronicSignature::manifestation()); empty when unsigned. Filled by the readers that
    // list events, never written with the event.
    QString signature;
    qint64 changeMark = 0;
    // The event that ended when the recorder stopped and that this one carries on: the
    // condition held from the first sample after the restart. Written, not read by list().
    std::optional<qint64> continues;

    bool isActive() const { return !end.has_value(); }
    bool isAcknowledged() const { return acknowledgedAt.has_value(); }
};

// The events a list shows: all that match every condition given.
struct AlarmEventFilter
{
    QString serial;                // empty: every node
    std::optional<AlarmKind> kind; // none: every kind
    // Events that lasted into [from, to] (an active one lasts until now).
    std::optional<qint64> from;
    std::optional<qint64> to;
    bool unacknowledgedOnly = false;
    bool endedOnly = false;
    int limit = 1000; // the newest ones first
};

Q_DECLARE_METATYPE(AlarmEventRecord)
Q_DECLARE_METATYPE(QVector<AlarmEventRecord>)
