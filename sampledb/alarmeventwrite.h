#pragma once

#include "alarmeventrecord.h"

#include <QPair>
#include <QString>
#include <QVariantList>
#include <QVector>

// One change of the alarm event log, as a value: whoever writes the database applies it inside
// its own transaction with AlarmEventTable::apply(). Applying a write again after it was
// committed changes nothing (an insert of an id that is there replaces the row with itself, a
// close or an acknowledgement of an event that has one already is left out), so a writer may
// retry a batch whose commit it could not confirm.
struct AlarmEventWrite
{
    enum class Kind
    {
        Insert,           // the whole record, by its id
        Extreme,          // id, extremeValue, extremeTime
        Close,            // id, end, ended, and the extreme when known
        Acknowledge,      // id, acknowledgedAt, acknowledgedBy, comment, action
        LastSamples,      // the time of each node's latest sample, for the next start
        CloseInterrupted, // every event left open by a recorder that ended without closing them
    };

    Kind kind = Kind::Insert;
    AlarmEventRecord record;
    QVector<QPair<QString, qint64>> lastSamples; // serial, seconds

    static AlarmEventWrite insert(const AlarmEventRecord& record);
    static AlarmEventWrite extreme(qint64 id, double value, qint64 time);
    static AlarmEventWrite close(qint64 id, qint64 end, AlarmEnd ended,
                                 std::optional<double> extremeValue = std::nullopt,
                                 std::optional<qint64> extremeTime = std::nullopt);
    static AlarmEventWrite acknowledge(qint64 id, qint64 at, const QString& by,
                                       const QString& comment,
                                       const CorrectiveAction& action = CorrectiveAction());
    static AlarmEventWrite noteLastSamples(const QVector<QPair<QString, qint64>>& samples);
    static AlarmEventWrite closeInterrupted();

    // The write as plain values, so that it can wait in the writer's spill journal, and back
    // (false for values no version wrote).
    QVariantList toValues() const;
    static bool fromValues(const QVariantList& values, AlarmEventWrite* write);
};
