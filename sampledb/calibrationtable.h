#pragma once

#include "calibrationrecord.h"
#include "sqlitehandle.h"

#include <QDate>
#include <QPair>
#include <QString>
#include <QVector>

struct SignedRecord;

// The calibration register of a project, in its database:
//
//   calibration   one row per certificate entered, never changed or deleted (triggers refuse
//                 both; a newer row for the same channel supersedes an older one)
//     id, serial, channelColumn ("channel1"/"channel2"), certificate, laboratory, calibrated,
//     due (local dates, text yyyy-MM-dd), reference, asFound, asLeft (null: not given),
//     uncertainty, certificateFile, enteredBy, enteredAt (seconds since 1970 UTC),
//     signatureId (0: unsigned)
//
//   calibration_reminder   one row per reminder sent: entry id and days before its due date,
//                          so that a restart does not send it again
//
// Rows are checked as they are read: a row out of bounds (written by hand or by another tool)
// is left out with a warning and counted, never trusted.
class CalibrationTable
{
public:
    static QString tableName() { return QStringLiteral("calibration"); }
    // The kind its signatures name, and what a signature of an entry means.
    static QString recordKind() { return QStringLiteral("calibration"); }
    static QString recordedMeaning() { return QStringLiteral("recorded"); }

    static bool ensureTable(SqliteHandle db, QString* error);
    // Inside the caller's write transaction; refuses a row out of bounds. A row of that id
    // written before (a journal replayed) is left as it is.
    static bool insert(SqliteHandle db, const CalibrationRecord& row, QString* error);
    // Every row within bounds, in the order of its id; `skipped` (may be null) counts those out
    // of bounds. None without the table.
    static bool all(SqliteHandle db, QVector<CalibrationRecord>* out, QString* error,
                    int* skipped = nullptr);

    // all() on a read-only connection of its own (the reports, without the recorder's writer).
    // A file without the table, or no file yet: none, and true.
    static bool read(const QString& databasePath, QVector<CalibrationRecord>* out, QString* error,
                     int* skipped = nullptr);

    // The entry in force on `day` for a channel: the latest (by calibration date, then id)
    // calibrated on or before that day; null when there is none.
    static const CalibrationRecord* inForce(const QVector<CalibrationRecord>& rows,
                                            const QString& serial, const QString& column,
                                            const QDate& day);

    // The reminders sent, each as (entry id, days before its due date); none without the table.
    using Reminder = QPair<qint64, int>;
    static bool reminders(SqliteHandle db, QVector<Reminder>* sent, QString* error);
    static bool readReminders(const QString& databasePath, QVector<Reminder>* sent, QString* error);
    // Inside the caller's write transaction; noting one twice changes nothing.
    static bool noteReminder(SqliteHandle db, qint64 id, int daysBefore, qint64 at, QString* error);

    // The fields its signature covers: every field but the signature's own id.
    static SignedRecord signedRecord(const CalibrationRecord& row);
    // "" when the row of the signed record still holds the signed fields, otherwise a plain
    // sentence saying what differs (for the verification of the records).
    static QString signedRecordProblem(SqliteHandle db, const SignedRecord& signedFields);
};
