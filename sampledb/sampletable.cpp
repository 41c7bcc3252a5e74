#include "sampletable.h"

#include "sqlitestatement.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <string>
#include <unordered_map>

namespace {

const char* const SummaryColumns =
    "serialno, bucket, rowCount, dirty, lastTime, count1, sum1, min1, minTime1, max1, maxTime1, "
    "count2, sum2, min2, minTime2, max2, maxTime2";

// Adds a part of a bucket (`excluded`: one row, or what the filling gathered) to the bucket
// held. The first minimum and maximum in time stay: the chart shows a step's extremes in the
// order they were measured. `taken` adds the check whether the part repeats a second.
QString upsertStatement(const QString& values, const QString& taken)
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

bool fail(sqlite3* db, QString* error)
{
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

bool execute(sqlite3* db, const QString& sql, QString* error)
{
    return sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK ||
           fail(db, error);
}

void addValue(SampleTable::Figures* f, double value, qint64 time)
{
    if (f->count == 0 || value < f->min || (value == f->min && time < f->minTime)) {
        f->min = value;
        f->minTime = time;
    }
    if (f->count == 0 || value > f->max || (value == f->max && time < f->maxTime)) {
        f->max = value;
        f->maxTime = time;
    }
    f->sum += value;
    ++f->count;
}

// What the filling gathers of one node: the bucket being read, its latest second, and the
// node's latest second so far, after which a row cannot repeat a second.
struct NodeFill
{
    SampleTable::Bucket bucket;
    qint64 bucketLatest = 0;
    bool open = false;
    qint64 latest = std::numeric_limits<qint64>::min();
};

bool writeBucket(sqlite3_stmt* upsert, const std::string& serial, const NodeFill& node)
{
    const SampleTable::Bucket& b = node.bucket;
    sqlite3_reset(upsert);
    sqlite3_bind_text(upsert, 1, serial.data(), int(serial.size()), SQLITE_STATIC);
    sqlite3_bind_int64(upsert, 2, b.bucket);
    sqlite3_bind_int64(upsert, 3, b.rows);
    sqlite3_bind_int(upsert, 4, b.dirty ? 1 : 0);
    sqlite3_bind_int64(upsert, 5, node.bucketLatest);
    for (int c = 0; c < 2; ++c) {
        const SampleTable::Figures& f = b.channel[c];
        const int first = 6 + 6 * c;
        sqlite3_bind_int64(upsert, first, f.count);
        if (f.count == 0) {
            for (int i = 1; i < 6; ++i)
                sqlite3_bind_null(upsert, first + i);
            continue;
        }
        sqlite3_bind_double(upsert, first + 1, f.sum);
        sqlite3_bind_double(upsert, first + 2, f.min);
        sqlite3_bind_int64(upsert, first + 3, f.minTime);
        sqlite3_bind_double(upsert, first + 4, f.max);
        sqlite3_bind_int64(upsert, first + 5, f.maxTime);
    }
    return sqlite3_step(upsert) == SQLITE_DONE;
}

// Makes the summary table, fills it and creates the trigger.
bool fillSummary(sqlite3* db, QString* error)
{
    for (const QString& name : SampleTable::triggerNames()) {
        if (!execute(db, QStringLiteral("drop trigger if exists ") + name, error))
            return false;
    }
    if (!execute(db, QStringLiteral("drop table if exists quorbinal_summary"), error) ||
        !execute(db, SampleTable::createSummaryStatement(), error))
        return false;
    // Gathered in memory a bucket at a time, per node, in the table's order: SQLite's grouping
    // would sort the whole table and has no aggregate for the time of the first minimum.
    SqliteStatement rows;
    SqliteStatement upsert;
    SqliteStatement taken;
    if (!rows.prepare(db, "select serialno, pointDate, channel1, channel2 from quorbinal") ||
        !upsert.prepare(db, upsertStatement(QStringLiteral("values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                                           "?, ?, ?, ?, ?, ?, ?)"),
                                            QString())
                                .toUtf8()) ||
        !taken.prepare(db, "select count(*) > 1 from quorbinal where serialno = ? and pointDate "
                           "= ?"))
        return fail(db, error);

    std::unordered_map<std::string, NodeFill> nodes;
    std::string serial;
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
        serial.assign(reinterpret_cast<const char*>(sqlite3_column_text(rows.get(), 0)),
                      size_t(sqlite3_column_bytes(rows.get(), 0)));
        NodeFill& node = nodes[serial];
        const qint64 time = sqlite3_column_int64(rows.get(), 1);
        const qint64 bucket = time / SampleTable::BucketSeconds;
        if (node.open && node.bucket.bucket != bucket) {
            if (!writeBucket(upsert.get(), serial, node))
                return fail(db, error);
            node.open = false;
        }
        if (!node.open) {
            node.bucket = SampleTable::Bucket();
            node.bucket.bucket = bucket;
            node.bucketLatest = time;
            node.open = true;
        }
        // Rows of a node mostly come in time order: a second after all earlier ones is new.
        if (time > node.latest) {
            node.latest = time;
        } else if (!node.bucket.dirty) {
            sqlite3_reset(taken.get());
            sqlite3_bind_text(taken.get(), 1, serial.data(), int(serial.size()), SQLITE_STATIC);
            sqlite3_bind_int64(taken.get(), 2, time);
            if (sqlite3_step(taken.get()) != SQLITE_ROW)
                return fail(db, error);
            node.bucket.dirty = sqlite3_column_int(taken.get(), 0) != 0;
        }
        node.bucketLatest = std::max(node.bucketLatest, time);
        ++node.bucket.rows;
        for (int c = 0; c < 2; ++c) {
            if (sqlite3_column_type(rows.get(), 2 + c) != SQLITE_NULL)
                addValue(&node.bucket.channel[c], sqlite3_column_double(rows.get(), 2 + c), time);
        }
    }
    if (rc != SQLITE_DONE)
        return fail(db, error);
    for (const auto& [key, node] : nodes) {
        if (node.open && !writeBucket(upsert.get(), key, node))
            return fail(db, error);
    }
    for (const QString& statement : SampleTable::createTriggerStatements()) {
        if (!execute(db, statement, error))
            return false;
    }
    return true;
}

} // namespace

QString SampleTable::createStatement()
{
    return QStringLiteral(
        "create table quorbinal (\t\tid integer primary key autoincrement,\t\tserialno varchar(18) "
        "not null, \t\tchannel1 float, channel2 float, \t\tpointDate integer not null\t\t)");
}

QString SampleTable::indexName()
{
    return QStringLiteral("quorbinal_serialno_pointdate");
}

QString SampleTable::createIndexStatement()
{
    return QStringLiteral("create index if not exists quorbinal_serialno_pointdate on quorbinal "
                          "(serialno, pointDate)");
}

bool SampleTable::hasIndex(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("select 1 from sqlite_master where type = 'index' and name = ?"));
    query.addBindValue(indexName());
    return query.exec() && query.next();
}

QString SampleTable::recordedPeriodQuery(bool indexed)
{
    if (!indexed)
        return QStringLiteral("select min(pointDate), max(pointDate) from quorbinal");
    // SQLite answers min() or max() alone from an index's first column only; pointDate is the
    // second, so each node's first and last sample are looked up under its serial number, and
    // the serial numbers are walked one index seek at a time.
    return QStringLiteral(
        "with recursive node(serial) as ("
        " select (select min(serialno) from quorbinal)"
        " union all"
        " select (select min(serialno) from quorbinal where serialno > node.serial) from node"
        " where node.serial is not null)"
        " select min((select min(pointDate) from quorbinal where serialno = node.serial)),"
        " max((select max(pointDate) from quorbinal where serialno = node.serial))"
        " from node where node.serial is not null");
}

QString SampleTable::summaryName()
{
    return QStringLiteral("quorbinal_summary");
}

QStringList SampleTable::triggerNames()
{
    return {QStringLiteral("quorbinal_summarize"), QStringLiteral("quorbinal_summary_delete"),
            QStringLiteral("quorbinal_summary_update")};
}

QString SampleTable::createSummaryStatement()
{
    // lastTime, the bucket's latest second, spares the trigger the lookup of a second already
    // taken for rows that come in time order.
    return QStringLiteral(
        "create table if not exists quorbinal_summary (serialno varchar(18) not null, bucket "
        "integer not null, rowCount integer not null, dirty integer not null, lastTime integer "
        "not null, count1 integer not null, sum1 float, min1 float, minTime1 integer, max1 float, "
        "maxTime1 integer, count2 integer not null, sum2 float, min2 float, minTime2 integer, "
        "max2 float, maxTime2 integer, primary key (serialno, bucket)) without rowid");
}

QStringList SampleTable::createTriggerStatements()
{
    QString row = QStringLiteral("values (new.serialno, new.pointDate / ") +
                  QString::number(BucketSeconds) + QStringLiteral(", 1, 0, new.pointDate");
    for (int c = 1; c <= 2; ++c)
        row += QStringLiteral(", new.channel%1 is not null, new.channel%1, new.channel%1, case "
                              "when new.channel%1 is null then null else new.pointDate end, "
                              "new.channel%1, case when new.channel%1 is null then null else "
                              "new.pointDate end")
                   .arg(c);
    row += QLatin1Char(')');
    // A row at or before the bucket's latest second may repeat one: the index tells.
    const QString taken = QStringLiteral(
        " or (excluded.lastTime <= lastTime and exists (select 1 from quorbinal where "
        "quorbinal.serialno = new.serialno and quorbinal.pointDate = new.pointDate and "
        "quorbinal.id <> new.id))");
    const QString insert = QStringLiteral("create trigger if not exists quorbinal_summarize after "
                                          "insert on quorbinal begin ") +
                           upsertStatement(row, taken) + QStringLiteral("; end");
    // Rows deleted or changed afterwards (the recorder never does; a user with the sqlite3
    // program may): their buckets are marked, so the reports read those quarter hours as rows.
    const QString bucket = QStringLiteral("%1.pointDate / ") + QString::number(BucketSeconds);
    const QString remove = QStringLiteral("create trigger if not exists quorbinal_summary_delete "
                                          "after delete on quorbinal begin update "
                                          "quorbinal_summary set dirty = 1 where serialno = "
                                          "old.serialno and bucket = ") +
                           bucket.arg(QLatin1String("old")) + QStringLiteral("; end");
    const QString mark = QStringLiteral("(%1.serialno, %2, 0, 1, %1.pointDate, 0, 0)");
    const QString change =
        QStringLiteral("create trigger if not exists quorbinal_summary_update after update of "
                       "serialno, channel1, channel2, pointDate on quorbinal begin insert into "
                       "quorbinal_summary (serialno, bucket, rowCount, dirty, lastTime, count1, "
                       "count2) values ") +
        mark.arg(QLatin1String("old"), bucket.arg(QLatin1String("old"))) + QStringLiteral(", ") +
        mark.arg(QLatin1String("new"), bucket.arg(QLatin1String("new"))) +
        QStringLiteral(" on conflict (serialno, bucket) do update set dirty = 1; end");
    return {insert, remove, change};
}

QString SampleTable::summaryPresentQuery()
{
    const QStringList triggers = triggerNames();
    return QStringLiteral("select count(*) = %1 from sqlite_master where (type = 'table' and name "
                          "= '%2') or (type = 'trigger' and name in ('%3'))")
        .arg(QString::number(triggers.size() + 1), summaryName(),
             triggers.join(QLatin1String("', '")));
}

bool SampleTable::hasSummary(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    return query.exec(summaryPresentQuery()) && query.next() && query.value(0).toInt() == 1;
}

bool SampleTable::buildSummary(sqlite3* db, QString* error)
{
    // One transaction holds the write lock from the first row read to the trigger's creation:
    // no row can come between the filling and the trigger.
    if (!execute(db, QStringLiteral("begin immediate"), error))
        return false;
    if (fillSummary(db, error) && execute(db, QStringLiteral("commit"), error))
        return true;
    // The filling's statements are finished: an interrupt no longer holds.
    sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
    return false;
}

QString SampleTable::summaryQuery()
{
    return QStringLiteral("select bucket, rowCount, dirty, count1, sum1, min1, minTime1, max1, "
                          "maxTime1, count2, sum2, min2, minTime2, max2, maxTime2 from "
                          "quorbinal_summary where serialno = ? and bucket between ? and ? order "
                          "by bucket");
}

void SampleTable::readBucket(sqlite3_stmt* statement, Bucket* bucket)
{
    bucket->bucket = sqlite3_column_int64(statement, 0);
    bucket->rows = sqlite3_column_int64(statement, 1);
    bucket->dirty = sqlite3_column_int(statement, 2) != 0;
    for (int c = 0; c < 2; ++c) {
        Figures& f = bucket->channel[c];
        const int first = 3 + 6 * c;
        f.count = sqlite3_column_int64(statement, first);
        f.sum = sqlite3_column_double(statement, first + 1);
        f.min = sqlite3_column_double(statement, first + 2);
        f.minTime = sqlite3_column_int64(statement, first + 3);
        f.max = sqlite3_column_double(statement, first + 4);
        f.maxTime = sqlite3_column_int64(statement, first + 5);
    }
}
