#pragma once

#include "sqlitehandle.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

class QSqlDatabase;
struct sqlite3_stmt;

// The sample table every project database holds, the one index that answers the range
// questions the programs ask (the recorded period, and one node's samples between two times),
// and a summary of each node's samples by quarter hour that a trigger keeps current, from which
// the reports of many days take whole quarter hours instead of their rows. The recorder creates
// all of them; the report generator and the data viewer only read, and work (slower) on a file
// made before they existed.
class SampleTable
{
public:
    // Exactly the statement the table has always been created with.
    static QString createStatement();

    static QString indexName();
    // Idempotent; builds the index over existing rows when the table already holds some.
    static QString createIndexStatement();

    // One row, one column: 1 when the index is there on the sample table as made here (by its
    // definition, not its name: a renamed sample table takes its index along).
    static QString indexPresentQuery();
    // True when the connection's database has the index.
    static bool hasIndex(const QSqlDatabase& db);

    // One row with two columns, min(pointDate) and max(pointDate), NULLs on an empty table.
    // With the index it walks the distinct serial numbers through the index (a few dozen
    // lookups whatever the size of the table); without it, one scan of the table.
    static QString recordedPeriodQuery(bool indexed);

    // Length of a summary bucket. Bucket n holds the seconds n * 900 to n * 900 + 899 (Unix
    // time): every local midnight of today's time zones falls on a bucket's start.
    static constexpr qint64 BucketSeconds = 900;

    static QString summaryName();
    // The change marks: per node and bucket a count of the rows deleted, changed, replaced or
    // inserted under an id at or below the largest one, kept by the same triggers. It is never
    // reset (a rebuilt summary keeps it), so that a reader that cached the rows can tell which
    // buckets changed since.
    static QString changesName();
    // A small table of the database's own: named values the writers keep beside the samples
    // (the change marks' generation, how far a spill journal was replayed).
    static QString stateName();
    // The name in the state table of the change marks' generation: a random number drawn
    // whenever the triggers are made anew, since changes made while they were missing went
    // unmarked.
    static QString changeGenerationName();
    // The trigger that keeps the summary, and those that mark the buckets of rows deleted,
    // changed or replaced later.
    static QStringList triggerNames();
    // Idempotent. The summary table: per node and bucket the rows, whether the bucket must be
    // read as rows ("dirty": a second holds two rows, of which the later one counts; a row was
    // deleted, changed or replaced; a time is not a whole second or a value not a number), and
    // per channel the count, sum, minimum and maximum of the valid values with the time of the
    // first minimum and of the first maximum.
    static QString createSummaryStatement();
    // Idempotent: the change marks' table.
    static QString createChangesStatement();
    // Idempotent: the state table.
    static QString createStateStatement();
    // Idempotent, in the order of triggerNames(). The trigger that adds every row inserted into
    // the table to its bucket, for every program that writes (it needs the index for its check
    // of a second already taken); and those that mark a bucket as not to be taken whole when one
    // of its rows is deleted, changed or replaced (REPLACE deletes without the delete trigger).
    static QStringList createTriggerStatements();
    // Everything the summary needs, in order: its table, the change marks' table, the triggers.
    static QStringList createSummaryStatements();
    // The triggers the first version of the summary was kept by, in the same order as the
    // first three of createTriggerStatements(): how files made then are recognized (and made
    // again in tests).
    static QStringList earlierTriggerStatements();
    // This version's triggers as first written, in the order of triggerNames(): the same summary
    // and change marks, at many times the cost of a row inserted by another program.
    static QStringList slowerTriggerStatements();
    // Draws a new generation of the change marks into the state table; run with the triggers'
    // creation, in its transaction.
    static QString newGenerationStatement();

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

    // Makes the summary of the rows the table holds: creates the summary table (replacing any
    // table of its name), fills it, and creates the triggers with a new generation of the change
    // marks (whose counts are kept), in one transaction of its own that holds the write lock
    // throughout, so that no row comes between the filling and the triggers. Needs the index. Reads
    // the table once; a progress handler of the connection can interrupt it, and the file stays as
    // it was. False with the reason on failure.
    static bool buildSummary(SqliteHandle db, QString* error);

    // A bucket as the summary holds it.
    struct Figures
    {
        qint64 count = 0; // valid values
        double sum = 0;
        double min = 0;
        qint64 minTime = 0; // the first second at which the minimum was measured
        double max = 0;
        qint64 maxTime = 0;
    };
    struct Bucket
    {
        qint64 bucket = 0;
        qint64 rows = 0; // with or without values, once per second unless dirty
        bool dirty = false;
        Figures channel[2];
    };
    // The buckets of one node from a bucket to a bucket (both included), in order: bind the
    // serial number to 1, the first and the last bucket to 2 and 3, and read each row with
    // readBucket().
    static QString summaryQuery();
    static void readBucket(sqlite3_stmt* statement, Bucket* bucket);
};
