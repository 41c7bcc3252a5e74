#include "summarytriggers.h"

#include "sampletable.h"

namespace {

const char* const SummaryColumns =
    "serialno, bucket, rowCount, dirty, lastTime, count1, sum1, min1, minTime1, max1, maxTime1, "
    "count2, sum2, min2, minTime2, max2, maxTime2";

// A time with a fraction, or a value that is no number, marks its bucket: the readers take such
// rows in ways sums cannot follow. Two types are named, not the three others: SQLite compares a
// list of two item by item, but builds a temporary table for a longer one at every row the
// trigger sees. The recorder keeps such tables in memory and hardly noticed; another program
// (temporary files on disk by default) inserted rows about ten times slower.
const char* const OddRow =
    "typeof(new.pointDate) <> 'integer' or typeof(new.channel1) in ('text', 'blob') or "
    "typeof(new.channel2) in ('text', 'blob')";
// The same test as this version's first triggers wrote it.
const char* const OddRowBefore =
    "typeof(new.pointDate) <> 'integer' or typeof(new.channel1) not in ('real', 'integer', "
    "'null') or typeof(new.channel2) not in ('real', 'integer', 'null')";

// What sets one version's triggers apart from another's.
struct Version
{
    // The first version: a time's bucket divided as stored (a time with a fraction made a bucket
    // of its own), every number a value (the no-value marker too), no bucket dirty on insert,
    // and no change marks.
    bool first = false;
    // Later versions: what marks the bucket of an inserted row dirty.
    QString odd;
};

// The bucket of a row. Since the first version: the whole second the time falls in (a time with
// a fraction belongs to its second), divided into quarter hours, as the readers' ranges agree on
// it.
QString bucketOf(const Version& version, const QString& row)
{
    return QString(version.first ? QStringLiteral("%1.pointDate / %2")
                                 : QStringLiteral("cast(%1.pointDate as integer) / %2"))
        .arg(row, QString::number(SampleTable::BucketSeconds));
}

// The summary's columns of an inserted row: its bucket, one row, whether it marks the bucket,
// its time, and per channel the value's count, sum, minimum with its time and maximum with its
// time.
QString insertedRow(const Version& version)
{
    QString row = QStringLiteral("values (new.serialno, ") +
                  bucketOf(version, QStringLiteral("new")) + QStringLiteral(", 1, ") +
                  (version.first ? QStringLiteral("0") : version.odd) +
                  QStringLiteral(", new.pointDate");
    if (version.first) {
        for (int c = 1; c <= 2; ++c)
            row += QStringLiteral(", new.channel%1 is not null, new.channel%1, new.channel%1, case "
                                  "when new.channel%1 is null then null else new.pointDate end, "
                                  "new.channel%1, case when new.channel%1 is null then null else "
                                  "new.pointDate end")
                       .arg(c);
        return row + QLatin1Char(')');
    }
    // A value is one when it is neither NULL nor the no-value marker older recorders wrote.
    const QString valid = QStringLiteral("(new.channel%1 is not null and new.channel%1 <> ") +
                          QLatin1String(SummaryTriggers::markerLiteral()) + QLatin1Char(')');
    for (int c = 1; c <= 2; ++c) {
        const QString v = valid.arg(c);
        row += QStringLiteral(", %1, case when %1 then new.channel%2 end, case when %1 then "
                              "new.channel%2 end, case when %1 then new.pointDate end, case when "
                              "%1 then new.channel%2 end, case when %1 then new.pointDate end")
                   .arg(v, QString::number(c));
    }
    return row + QLatin1Char(')');
}

QStringList triggerStatements(const Version& version)
{
    // A row at or before the bucket's latest second may repeat one: the index tells.
    const QString taken = QStringLiteral(
        " or (excluded.lastTime <= lastTime and exists (select 1 from quorbinal where "
        "quorbinal.serialno = new.serialno and quorbinal.pointDate = new.pointDate and "
        "quorbinal.id <> new.id))");
    const QString insert = QStringLiteral("create trigger if not exists quorbinal_summarize after "
                                          "insert on quorbinal begin ") +
                           SummaryTriggers::upsertStatement(insertedRow(version), taken) +
                           QStringLiteral("; end");

    // Rows deleted, changed or replaced afterwards (the recorder never does; a user with the
    // sqlite3 program may): their buckets are marked, so the reports read those quarter hours
    // as rows, and (since the first version) counted, so that a reader that cached them knows.
    const QString count = QStringLiteral(
        "insert into quorbinal_changes (serialno, bucket, changeCount) %1 on conflict (serialno, "
        "bucket) do update set changeCount = changeCount + 1");
    const QString one = QStringLiteral("(%1.serialno, %2, 1)");
    auto counted = [&](const QString& rowName) {
        return one.arg(rowName, bucketOf(version, rowName));
    };
    // What a trigger counts, with the statement's end: nothing in the first version.
    auto then = [&](const QString& rows) {
        return version.first ? QStringLiteral("end") : count.arg(rows) + QStringLiteral("; end");
    };
    const QString remove =
        QStringLiteral("create trigger if not exists quorbinal_summary_delete after delete on "
                       "quorbinal begin update quorbinal_summary set dirty = 1 where serialno = "
                       "old.serialno and bucket = ") +
        bucketOf(version, QStringLiteral("old")) + QStringLiteral("; ") +
        then(QStringLiteral("values ") + counted(QStringLiteral("old")));
    const QString mark = QStringLiteral("(%1.serialno, %2, 0, 1, %1.pointDate, 0, 0)");
    const QString change =
        QStringLiteral("create trigger if not exists quorbinal_summary_update after update of ") +
        (version.first ? QString() : QStringLiteral("id, ")) +
        QStringLiteral("serialno, channel1, channel2, pointDate on quorbinal begin insert into "
                       "quorbinal_summary (serialno, bucket, rowCount, dirty, lastTime, count1, "
                       "count2) values ") +
        mark.arg(QStringLiteral("old"), bucketOf(version, QStringLiteral("old"))) +
        QStringLiteral(", ") +
        mark.arg(QStringLiteral("new"), bucketOf(version, QStringLiteral("new"))) +
        QStringLiteral(" on conflict (serialno, bucket) do update set dirty = 1; ") +
        then(QStringLiteral("values ") + counted(QStringLiteral("old")) + QStringLiteral(", ") +
             counted(QStringLiteral("new")));
    if (version.first)
        return {insert, remove, change};

    // REPLACE deletes the row it meets without the delete trigger: the row that holds the id
    // about to be taken is marked before it goes.
    const QString holder =
        QStringLiteral("update quorbinal_summary set dirty = 1 where (serialno, bucket) in "
                       "(select serialno, ") +
        bucketOf(version, QStringLiteral("quorbinal")) +
        QStringLiteral(" from quorbinal where id = new.id); ") +
        count.arg(QStringLiteral("select serialno, ") +
                  bucketOf(version, QStringLiteral("quorbinal")) +
                  QStringLiteral(", 1 from quorbinal where id = new.id"));
    // An insert under an id given at or below the largest (a backup merged back): a reader
    // that keeps the rows up to an id would not look for it. An id left to SQLite reads -1 here.
    const QString replace =
        QStringLiteral("create trigger if not exists quorbinal_summary_replace before insert on "
                       "quorbinal when new.id >= 0 and new.id <= (select max(id) from quorbinal) "
                       "begin ") +
        holder + QStringLiteral("; ") +
        then(QStringLiteral("values ") + counted(QStringLiteral("new")));
    const QString move =
        QStringLiteral("create trigger if not exists quorbinal_summary_move before update of id "
                       "on quorbinal when new.id <> old.id begin ") +
        holder + QStringLiteral("; end");
    return {insert, remove, change, replace, move};
}

} // namespace

QStringList SummaryTriggers::createTriggerStatements()
{
    return triggerStatements({false, QLatin1String(OddRow)});
}

QStringList SummaryTriggers::slowerTriggerStatements()
{
    return triggerStatements({false, QLatin1String(OddRowBefore)});
}

// Their summary is sound unless the no-value marker was summed as a value or a time with a
// fraction made a bucket of its own.
QStringList SummaryTriggers::earlierTriggerStatements()
{
    return triggerStatements({true, QString()});
}

const char* SummaryTriggers::markerLiteral()
{
    return "1.7e308";
}

QString SummaryTriggers::upsertStatement(const QString& values, const QString& taken)
{
    QString sql = QStringLiteral("insert into quorbinal_summary (%1) %2 on conflict (serialno, "
                                 "bucket) do update set rowCount = rowCount + excluded.rowCount, "
                                 "dirty = dirty or excluded.dirty%3, lastTime = max(lastTime, "
                                 "excluded.lastTime)")
                      .arg(QLatin1String(SummaryColumns), values, taken);
    for (int c = 1; c <= 2; ++c) {
        const QString lower = QStringLiteral("min%1 is null or excluded.min%1 < min%1 or "
                                             "(excluded.min%1 = min%1 and excluded.minTime%1 < "
                                             "minTime%1)")
                                  .arg(c);
        const QString higher = QStringLiteral("max%1 is null or excluded.max%1 > max%1 or "
                                              "(excluded.max%1 = max%1 and excluded.maxTime%1 < "
                                              "maxTime%1)")
                                   .arg(c);
        sql += QStringLiteral(", count%1 = count%1 + excluded.count%1, sum%1 = coalesce(sum%1 + "
                              "excluded.sum%1, sum%1, excluded.sum%1), min%1 = case when %2 then "
                              "excluded.min%1 else min%1 end, minTime%1 = case when %2 then "
                              "excluded.minTime%1 else minTime%1 end, max%1 = case when %3 then "
                              "excluded.max%1 else max%1 end, maxTime%1 = case when %3 then "
                              "excluded.maxTime%1 else maxTime%1 end")
                   .arg(QString::number(c), lower, higher);
    }
    return sql;
}
