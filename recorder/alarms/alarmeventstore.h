#pragma once

#include "alarmeventwrite.h"

// Where the alarm monitor's changes of the event log go. A write handed over is kept until the
// database took it: a failed one is tried again, in order, and is never dropped. The recorder's
// one database writer stands behind it (WriterAlarmEventStore); tests may put a fake of theirs.
class AlarmEventStore
{
public:
    virtual ~AlarmEventStore() = default;

    // Queues one write and tries to write what waits.
    virtual void submit(const AlarmEventWrite& write) = 0;
    // The id the next new event gets; read from the file when the store opened.
    virtual qint64 firstFreeId() const = 0;
    // Per node and channel the latest event when it ended with the recorder's stop (or was left
    // open by a recorder that died); read from the file when the store opened.
    virtual QVector<AlarmEventRecord> stoppedEvents() const { return {}; }
    // The events a recorder that died left open and that the first write closes as "recorder
    // stopped", with that end, and whose end message was never made; read when the store opened.
    virtual QVector<AlarmEventRecord> interruptedEvents() const { return {}; }
    // Writes still waiting for the database.
    virtual int pendingCount() const = 0;
    // Tries to write what waits now; true when nothing waits any more.
    virtual bool flush() = 0;
};
