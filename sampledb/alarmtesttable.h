#pragma once

#include "alarmtestrecord.h"
#include "sqlitehandle.h"

#include <QString>
#include <QVector>

struct SignedRecord;

// The alarm-test log of a project, in its database:
//
//   alarm_test   one row per test and target, never changed or deleted (triggers refuse both)
//     testId, time (seconds since 1970 UTC), user, nodes, target, answer, text, signatureId
//     (0: unsigned); primary key (testId, target)
//
// It is not the alarm event log: a test leaves alarm_event untouched and no report counts it as
// an alarm or an excursion. The reminder's state (the lapse it was sent for) is kept in the
// state table under reminderStateName(). Rows are checked as they are read: one out of bounds
// is left out with a warning and counted, never trusted.
class AlarmTestTable
{
public:
    static QString tableName() { return QStringLiteral("alarm_test"); }
    // The kind its signatures name, and what a signature of a test means.
    static QString recordKind() { return QStringLiteral("alarm test"); }
    static QString performedMeaning() { return QStringLiteral("performed"); }
    // The state names of the reminder: the time (seconds UTC) a lapse counts from when no test
    // was ever run, and the start of the lapse the last reminder was sent for.
    static QString armedStateName() { return QStringLiteral("alarm test armed"); }
    static QString reminderStateName() { return QStringLiteral("alarm test reminder"); }

    static bool ensureTable(SqliteHandle db, QString* error);
    // The rows of one test, inside the caller's write transaction; refuses a row out of bounds or
    // rows of more than one test. Rows of a test written before (a journal replayed) are left as
    // they are.
    static bool insert(SqliteHandle db, const QVector<AlarmTestRecord>& rows, QString* error);
    // Every row within bounds, by time, test and target; `skipped` (may be null) counts those out
    // of bounds. None without the table.
    static bool all(SqliteHandle db, QVector<AlarmTestRecord>* out, QString* error,
                    int* skipped = nullptr);
    // The rows of the tests run in [from, to) (seconds UTC) on a read-only connection of its own
    // (the reports). A file without the table, or no file yet: none, and true.
    static bool read(const QString& databasePath, qint64 from, qint64 to,
                     QVector<AlarmTestRecord>* out, QString* error);

    // A named value of the state table: false with the reason when the file cannot be read;
    // `found` tells whether it holds one.
    static bool readState(const QString& databasePath, const QString& name, qint64* value,
                          bool* found, QString* error);
    // Inside the caller's write transaction; only the two names above are taken.
    static bool setState(SqliteHandle db, const QString& name, qint64 value, QString* error);

    // The fields its signature covers: the test and every target's answer.
    static SignedRecord signedRecord(const QVector<AlarmTestRecord>& rows);
    // "" when the rows of the signed test still hold the signed fields, otherwise a sentence
    // saying what differs.
    static QString signedRecordProblem(SqliteHandle db, const SignedRecord& signedFields);
};
