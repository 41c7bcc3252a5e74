#pragma once

#include "alarmsuppression.h"
#include "sqlitehandle.h"

#include <QString>
#include <QVector>

struct SignedRecord;

// The shelves and out-of-service times of a project, in its database:
//
//   alarm_suppression   one row per shelve or out-of-service time
//     id, kind ("shelve" / "out of service"), serial, channel, fromTime, untilTime (seconds
//     since 1970 UTC), reason, user, endedTime (null while it was not ended early)
//
// A row is added once and changed only by its early end; rows are never deleted (a trigger
// refuses it), so that the reports can list what was suppressed.
class AlarmSuppressionTable
{
public:
    static QString tableName() { return QStringLiteral("alarm_suppression"); }
    // The kinds its signatures name.
    static QString shelveRecordKind() { return QStringLiteral("alarm shelve"); }
    static QString outOfServiceRecordKind() { return QStringLiteral("out of service"); }

    static bool ensureTable(SqliteHandle db, QString* error);
    // Inside the caller's write transaction. A row of that id written before (a journal
    // replayed) is left as it is.
    static bool insert(SqliteHandle db, const AlarmSuppression& row, QString* error);
    // Ends it early at `endedTime` (not before its start); an end set before stays.
    static bool endEarly(SqliteHandle db, qint64 id, qint64 endedTime, QString* error);

    // The rows still holding at `at` (for the recorder's start); none without the table.
    static bool holdingAt(SqliteHandle db, qint64 at, QVector<AlarmSuppression>* rows,
                          QString* error);
    // The rows whose time overlaps [from, to), oldest first; none without the table.
    static bool overlapping(SqliteHandle db, qint64 from, qint64 to,
                            QVector<AlarmSuppression>* rows, QString* error);
    // holdingAt() on a read-only connection of its own to the file at `databasePath` (none for
    // a file not made yet).
    static bool readHolding(const QString& databasePath, qint64 at, QVector<AlarmSuppression>* rows,
                            QString* error);
    // overlapping() the same way (the reports).
    static bool readOverlapping(const QString& databasePath, qint64 from, qint64 to,
                                QVector<AlarmSuppression>* rows, QString* error);
    static bool find(SqliteHandle db, qint64 id, std::optional<AlarmSuppression>* row,
                     QString* error);

    // The fields its signature covers: kind, serial, channel, from, until, reason, user (its
    // early end comes later and is not among them).
    static SignedRecord signedRecord(const AlarmSuppression& row);
    // "" when the row of the signed record still holds the signed fields, otherwise a plain
    // sentence saying what differs.
    static QString signedRecordProblem(SqliteHandle db, const SignedRecord& signedFields);
};
