#pragma once

#include "alarmeventrecord.h"
#include "alarmeventwrite.h"
#include "sqlitehandle.h"

#include <QString>
#include <QStringList>
#include <QVector>

struct sqlite3_stmt;

// The alarm event log of a project, in the project's database beside the sample table (which it
// never touches):
//
//   alarm_event      one row per alarm event
//     id             integer primary key, given by the recorder
//     serialno       the node's serial number
//     channel        1 or 2; 0 for an alarm of the whole node
//     kind           'high', 'low', 'no data' or 'battery'
//     limitValue     the limit crossed (the battery threshold); NULL for no data
//     startTime      first sample beyond the limit; for no data the last valid sample
//     raisedTime     when the condition had lasted the channel's delay
//     extremeValue, extremeTime   the farthest value beyond the limit and its time
//     endTime        NULL while the alarm lasts
//     endReason      'cleared', 'recorder stopped' or 'no data'; NULL while the alarm lasts
//     ackTime, ackBy, comment     the acknowledgement, who gave it, its free text
//     changeMark     set on every insert and update, one higher than any before (unique index):
//                    a reader that remembers the highest mark it has seen finds every later
//                    change, in the order of the commits
//     continuesId    the event ended by the recorder's stop that this one carries on after a
//                    restart; NULL for none (added to the tables of earlier versions by their
//                    first write; not among columns(), so that readers take either)
//     cause, actionTaken, product, quantity, decidedBy
//                    the corrective action given with the acknowledgement (CorrectiveAction);
//                    all NULL without one. Added to earlier tables by their first write like
//                    continuesId; readers select actionColumns(), NULLs where a file has none
//   alarm_node_seen  per node the time of its latest sample the recorder noted (serialno,
//                    lastSample), so that after a crash the events left open end there even
//                    when nothing was recorded
//
// Times are seconds since 1970 UTC. Writes go through apply(), reads through list() and
// changesSince(); each works on a connection of the caller's.
class AlarmEventTable
{
public:
    static QString tableName() { return QStringLiteral("alarm_event"); }
    static QString lastSampleTableName() { return QStringLiteral("alarm_node_seen"); }

    // Idempotent, in this order: the event table, its change-mark and start-time indexes, and
    // the table of the nodes' latest samples.
    static QStringList createStatements();
    // Runs them; no transaction of its own.
    static bool create(SqliteHandle db, QString* error);
    static bool exists(SqliteHandle db);

    // The columns every query selects, in the order readRecord() takes them.
    static QString columns();
    // What readRecord() takes after columns(): the corrective action's columns, or NULLs in
    // their place for a file an earlier version wrote (a reader may not change it).
    static QString actionColumns(SqliteHandle db);
    // Bind: id, serialno, channel, kind, limitValue, startTime, raisedTime, extremeValue,
    // extremeTime, endTime, endReason, ackTime, ackBy, comment, continuesId, and the corrective
    // action's cause, actionTaken, product, quantity, decidedBy. The change mark is set by the
    // statement itself.
    static QString insertStatement();
    // Bind: id, extremeValue, extremeTime.
    static QString extremeStatement();
    // Bind: id, endTime, endReason, extremeValue, extremeTime (NULL keeps the stored extreme).
    static QString closeStatement();
    // Bind: id, ackTime, ackBy, comment, cause, actionTaken, product, quantity, decidedBy.
    static QString acknowledgeStatement();
    // Bind: serialno, lastSample; an earlier time than the stored one is ignored.
    static QString lastSampleStatement();
    // Bind: the last change mark seen, the number of rows wanted.
    static QString changesQuery(SqliteHandle db);
    static void readRecord(sqlite3_stmt* statement, AlarmEventRecord* record);

    // Applies one write inside the caller's transaction; creates the tables first when the file
    // has none. False with SQLite's reason.
    static bool apply(SqliteHandle db, const AlarmEventWrite& write, QString* error);

    // Per node and channel its latest event when that one ended as "recorder stopped" or is
    // still open: what a condition that still holds after a restart continues. Id, serial,
    // channel and kind are filled.
    static bool stoppedEvents(SqliteHandle db, QVector<AlarmEventRecord>* out, QString* error);
    // The events still open (left by a recorder that died), whole, with the end and reason
    // the next CloseInterrupted write gives them; those whose end message is in the
    // notification outbox already (told, or on its way) are left out: told once.
    static bool interruptedEvents(SqliteHandle db, QVector<AlarmEventRecord>* out, QString* error);
    // The id the next new event gets: one above the highest stored, 1 without the table; -1 on
    // failure.
    static qint64 nextId(SqliteHandle db, QString* error);
    // The events matching the filter, active ones first, then by start, newest first.
    static bool list(SqliteHandle db, const AlarmEventFilter& filter,
                     QVector<AlarmEventRecord>* out, QString* error);
    // The number of events matching the filter (its limit does not count); -1 on failure.
    static qint64 count(SqliteHandle db, const AlarmEventFilter& filter, QString* error);
    // Up to `limit` events changed after change mark `mark`, in the order of their marks. A file
    // without the table has none.
    static bool changesSince(SqliteHandle db, qint64 mark, int limit,
                             QVector<AlarmEventRecord>* out, QString* error);
};
