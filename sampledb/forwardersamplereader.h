#pragma once

#include "sampleconnection.h"
#include "storedrow.h"

#include <QString>
#include <QVector>

// What the recorder's forwarder reads of a project's sample database: the rows and alarm event
// changes after the positions it keeps, and where a time's rows and changes begin. Opened as a
// SampleConnection.
class ForwarderSampleReader : public SampleConnection
{
public:
    using SampleConnection::SampleConnection;

    // Up to `limit` rows with ids above `afterId`, in id order, every one.
    bool rowsAfter(qint64 afterId, int limit, const StoredRowSink& sink);
    // A named value of the state table; false when the name or the table is not there.
    bool stateValue(const QString& name, qint64* value);
    // The lowest row id with pointDate at or after `time`; 0 when there is none, -1 on failure.
    // One pass over the table: asked once per request, never per batch.
    qint64 firstIdFrom(qint64 time);
    // The values (neither NULL nor the no-value marker) in the rows with ids above `afterId`,
    // and the earliest pointDate among those rows (0 when there are none).
    bool valuesAfter(qint64 afterId, qint64* count, qint64* earliest);
    // The alarm events changed after change mark `mark`, up to `limit` of them in the order of
    // their marks; none on a file without the event table.
    bool alarmChangesSince(qint64 mark, int limit, QVector<AlarmEventRecord>* out);
    // The highest change mark of the alarm events, 0 without any; -1 on failure.
    qint64 lastAlarmChangeMark();
    // The lowest change mark among the events that lasted into the time from `time` on (an active
    // one lasts until now); 0 when there is none, -1 on failure.
    qint64 firstAlarmChangeMarkFrom(qint64 time);
};
