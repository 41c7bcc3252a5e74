#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

class QSqlDatabase;
struct sqlite3;
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
    // The trigger that keeps the summary, and those that mark the buckets of rows deleted or
    // changed later.
    static QStringList triggerNames();
    // Idempotent. The summary table: per node and bucket the rows, whether a second of it holds
    // two rows ("dirty": of those the later one counts, which sums cannot tell), and per channel
    // the count, sum, minimum and maximum of the valid values with the time of the first
    // minimum and of the first maximum.
    static QString createSummaryStatement();
    // Idempotent, in the order of triggerNames(). The trigger that adds every row inserted into
    // the table to its bucket, for every program that writes (it needs the index for its check
    // of a second already taken); and two that mark a bucket as not to be taken whole when one
    // of its rows is deleted or changed.
    static QStringList createTriggerStatements();
    // One row, one column: 1 when the summary table and its triggers all exist. A table without
    // them may have missed rows and is not to be read.
    static QString summaryPresentQuery();
    static bool hasSummary(const QSqlDatabase& db);

    // Makes the summary of the rows the table holds: creates the summary table (replacing one
    // left without its trigger), fills it, and creates the trigger, in one transaction of its
    // own that holds the write lock throughout, so that no row comes between the filling and
    // the trigger. Needs the index. Reads the table once; a progress handler of the connection
    // can interrupt it, and the file stays as it was. False with the reason on failure.
    static bool buildSummary(sqlite3* db, QString* error);

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
