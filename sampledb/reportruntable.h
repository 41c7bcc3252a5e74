#pragma once

#include "reportrunrecord.h"
#include "sqlitehandle.h"

#include <QString>
#include <QVector>

// The scheduled reports of a project, in its database:
//
//   report_run   one row per period (kind, first): kind, first and last day (local dates,
//                yyyy-MM-dd), dueTime and madeTime (ms since 1970 UTC), state ("made", "sent",
//                "failed", "too large"), late (0/1), attempts, error
//
// Rows are checked as they are read: one out of bounds is left out with a warning and counted.
class ReportRunTable
{
public:
    static QString tableName() { return QStringLiteral("report_run"); }

    static bool ensureTable(SqliteHandle db, QString* error);
    // Inside the caller's write transaction; the row of the same period is replaced.
    static bool put(SqliteHandle db, const ReportRunRecord& row, QString* error);
    // Every row within bounds, oldest period first; none without the table.
    static bool all(SqliteHandle db, QVector<ReportRunRecord>* out, QString* error,
                    int* skipped = nullptr);
    // all() on a read-only connection of its own. No file or no table: none, and true.
    static bool read(const QString& databasePath, QVector<ReportRunRecord>* out, QString* error,
                     int* skipped = nullptr);
};
