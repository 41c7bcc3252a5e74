#pragma once

#include "alarmeventrecord.h"

#include <QString>
#include <QVector>

// What a recorder finds in the project's alarm event log when it opens it: the id its first new
// event gets, and the events the last run left stopped or open. Read on a read-only connection
// of its own that never waits for the writer's lock (in WAL mode a read never has to).
class AlarmEventLog
{
public:
    // False with the reason in errorText() when the file could not be read; the id is then 0
    // (or -1 when only the id's query failed).
    bool open(const QString& databasePath);
    QString errorText() const { return error; }

    // One above the highest stored id. While the writer's journal holds writes of an earlier
    // run, whose events reach the table later under their own ids, at least the clock's
    // milliseconds: above any id an earlier run handed out, so that no new event is merged into
    // one of those.
    qint64 firstFreeId() const { return nextId; }
    QVector<AlarmEventRecord> stoppedEvents() const { return stopped; }
    QVector<AlarmEventRecord> interruptedEvents() const { return interrupted; }

private:
    QString error;
    qint64 nextId = 0;
    QVector<AlarmEventRecord> stopped;
    QVector<AlarmEventRecord> interrupted;
};
