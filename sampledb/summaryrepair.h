#pragma once

#include "sqlitehandle.h"

#include <QString>

// What a file's summary is, and what the recorder does about it: the summary, the change marks
// and the triggers are recognized by their definitions (this version's, this version's slower
// first triggers, or the first version's); an earlier version's triggers are replaced, anything
// else loses its triggers and is rebuilt (SummaryBuild).
class SummaryRepair
{
public:
    // True when the summary table, the change marks' table and the triggers are all exactly
    // this version's (by their definitions, and the triggers on the sample table), whatever
    // their contents. The summary was then kept by every write since it was made.
    static bool hasSummaryDefinitions(SqliteHandle db);
    // True when the summary is exactly what the rows give: its definitions are this version's,
    // and no unique index lets a REPLACE remove a row without the triggers seeing it. Readers
    // take rows otherwise.
    static bool summaryUsable(SqliteHandle db);

    // What the recorder does about the summary of a file it opens.
    enum class Repair
    {
        None,            // this version's: nothing
        ReplaceTriggers, // an earlier recorder's triggers over a sound summary: replaced at once
        Rebuild          // missing, foreign, or holding what the earlier triggers got wrong
    };
    static Repair summaryRepair(SqliteHandle db);
    // Does what summaryRepair() says, in one short transaction: replaces the earlier triggers,
    // or drops every trigger of the summary's names (whatever table they belong to), so that no
    // insert can fail because of them, and leaves the rebuild to the background
    // (*rebuild = true). False with the reason when the file could not be changed.
    static bool repairSummary(SqliteHandle db, bool* rebuild, QString* error);
    // Drops the triggers of the summary's names; the summary is no longer used until rebuilt.
    static bool dropTriggers(SqliteHandle db, QString* error);
    // True when a trigger of the summary's names exists, whatever it is.
    static bool hasTriggers(SqliteHandle db);

    // The steps a repair and a rebuild share, each inside the caller's transaction and false
    // with SQLite's reason. Drops the object of this name when it is a table or a view; false
    // when it is something else.
    static bool dropObject(SqliteHandle db, const QString& name, QString* error);
    // The change marks' table, this version's: one of another definition goes (its counts with
    // it; the new generation tells the readers), and the state table.
    static bool makeChangesTable(SqliteHandle db, QString* error);
    // This version's triggers, with a new generation of the change marks.
    static bool makeTriggers(SqliteHandle db, QString* error);
    // Runs one statement.
    static bool execute(SqliteHandle db, const QString& sql, QString* error);
};
