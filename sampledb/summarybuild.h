#pragma once

#include "sqlitehandle.h"

#include <QString>

// The summary made from the rows a file holds, for a file without one, with a foreign one or
// with one an earlier version's triggers got wrong.
class SummaryBuild
{
public:
    // Makes the summary of the rows the table holds: creates the summary table (replacing any
    // table of its name), fills it, and creates the triggers with a new generation of the change
    // marks (whose counts are kept), in one transaction of its own that holds the write lock
    // throughout, so that no row comes between the filling and the triggers. Needs the index. Reads
    // the table once; a progress handler of the connection can interrupt it, and the file stays as
    // it was. False with the reason on failure.
    static bool buildSummary(SqliteHandle db, QString* error);
    // Fills the kinetic sums (KineticTable) alone, for a file whose summary an earlier recorder
    // made without them, in a transaction of its own under the write lock. False with the reason.
    static bool buildKinetic(SqliteHandle db, QString* error);
};
