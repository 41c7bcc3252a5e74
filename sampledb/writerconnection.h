#pragma once

#include "sqlitehandle.h"

#include <QString>

class QSqlDatabase;

// What the writer's connection (the SQL module's, on the writer's thread) is made ready with
// before its first flush: the pragmas, the busy timeouts, the check that the file can be
// written, the sample table with its index and summary in a new file, and this version's
// triggers for a summary an earlier recorder made. The traces name the writer's steps.
class WriterConnection
{
public:
    // busy_timeout first, then the page and cache sizes, the statement journal in memory and
    // WAL. False at the first that fails.
    static bool applyPragmas(const QSqlDatabase& db, int busyTimeoutMs);
    static bool setBusyTimeout(const QSqlDatabase& db, int busyTimeoutMs);
    static bool isWritable(QSqlDatabase db);
    // Creates the table, with its range index and its summary, in a new file.
    static bool createTable(QSqlDatabase db);
    static void repairSummary(const QSqlDatabase& db);
    // The connection's own SQLite handle, for what the SQL module cannot ask; null when it is
    // not open.
    static SqliteHandle handleOf(const QSqlDatabase& db);
};
