#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

class QSqlDatabase;

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

    // How SQLite keeps a CREATE statement in sqlite_master: the keywords in capitals, without
    // "if not exists". Objects are recognized by it.
    static QString normalized(const QString& statement);

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
    // Everything the summary needs, in order: its table, the change marks' table, the triggers
    // (SummaryTriggers).
    static QStringList createSummaryStatements();
    // Draws a new generation of the change marks into the state table; run with the triggers'
    // creation, in its transaction.
    static QString newGenerationStatement();

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
};
