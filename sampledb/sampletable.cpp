#include "sampletable.h"

#include "sqlitestatement.h"

#include "novalue.h"

#include <QHash>
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

const char* const Marker = "1.7e308";

// The bucket of a row, as the triggers and the readers' ranges agree on it: the whole second
// the time falls in (a time with a fraction belongs to its second), divided into quarter hours.
QString bucketOf(const QString& row)
{
    return QStringLiteral("cast(%1.pointDate as integer) / %2")
        .arg(row, QString::number(SampleTable::BucketSeconds));
}

// How SQLite keeps a CREATE statement in sqlite_master: the keywords in capitals, without
// "if not exists".
QString normalized(const QString& statement)
{
    for (const char* kind : {"table", "trigger", "index"}) {
        const QString head = QStringLiteral("create %1 if not exists ").arg(QLatin1String(kind));
        if (statement.startsWith(head))
            return QStringLiteral("CREATE ") + QString::fromLatin1(kind).toUpper() +
                   QLatin1Char(' ') + statement.mid(head.size());
    }
    return statement;
}

struct SchemaObject
{
    QString type;
    QString table;
    QString sql;
};

// The objects of these names as sqlite_master holds them.
bool readObjects(sqlite3* db, const QStringList& names, QHash<QString, SchemaObject>* objects)
{
    SqliteStatement s(db, "select name, type, tbl_name, sql from sqlite_master");
    if (!s.isValid())
        return false;
    int rc = SQLITE_OK;
    auto text = [&s](int column) {
        return QString::fromUtf8(
            reinterpret_cast<const char*>(sqlite3_column_text(s.get(), column)),
            sqlite3_column_bytes(s.get(), column));
    };
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        const QString name = text(0);
        if (names.contains(name))
            objects->insert(name, {text(1), text(2), text(3)});
    }
    return rc == SQLITE_DONE;
}

bool isObject(const QHash<QString, SchemaObject>& objects, const QString& name, const char* type,
              const QString& table, const QString& statement)
{
    const auto it = objects.find(name);
    return it != objects.end() && it->type == QLatin1String(type) && it->table == table &&
           it->sql == normalized(statement);
}

// True when the summary's triggers are these statements on the sample table, in the order of
// their names; a name past the statements must be free.
bool triggersAre(const QHash<QString, SchemaObject>& objects, const QStringList& statements)
{
    const QStringList names = SampleTable::triggerNames();
    for (int i = 0; i < names.size(); ++i) {
        const bool as = i < statements.size()
                            ? isObject(objects, names.at(i), "trigger", QStringLiteral("quorbinal"),
                                       statements.at(i))
                            : !objects.contains(names.at(i));
        if (!as)
            return false;
    }
    return true;
}

} // namespace

// Their summary is sound unless the no-value marker was summed as a value or a time with a
// fraction made a bucket of its own.
QStringList SampleTable::earlierTriggerStatements()
{
    QString row = QStringLiteral("values (new.serialno, new.pointDate / ") +
                  QString::number(SampleTable::BucketSeconds) +
                  QStringLiteral(", 1, 0, new.pointDate");
    for (int c = 1; c <= 2; ++c)
        row += QStringLiteral(", new.channel%1 is not null, new.channel%1, new.channel%1, case "
                              "when new.channel%1 is null then null else new.pointDate end, "
                              "new.channel%1, case when new.channel%1 is null then null else "
                              "new.pointDate end")
                   .arg(c);
    row += QLatin1Char(')');
    const QString taken = QStringLiteral(
        " or (excluded.lastTime <= lastTime and exists (select 1 from quorbinal where "
        "quorbinal.serialno = new.serialno and quorbinal.pointDate = new.pointDate and "
        "quorbinal.id <> new.id))");
    const QString insert = QStringLiteral("create trigger if not exists quorbinal_summarize after "
                                          "insert on quorbinal begin ") +
                           upsertStatement(row, taken) + QStringLiteral("; end");
    const QString bucket =
        QStringLiteral("%1.pointDate / ") + QString::number(SampleTable::BucketSeconds);
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

namespace {

// Drops the object of this name when it is a table or a view; false when it is something else.
bool dropObject(sqlite3* db, const QString& name, QString* error)
{
    QHash<QString, SchemaObject> objects;
    if (!readObjects(db, {name}, &objects))
        return fail(db, error);
    const auto it = objects.constFind(name);
    if (it == objects.cend())
        return true;
    if (it->type != QLatin1String("table") && it->type != QLatin1String("view")) {
        *error = name + QStringLiteral(" is a ") + it->type;
        return false;
    }
    return execute(db, QStringLiteral("drop %1 %2").arg(it->type, name), error);
}

// The change marks' table, this version's: one of another definition goes (its counts with
// it; the new generation tells the readers), and the state table.
bool makeChangesTable(sqlite3* db, QString* error)
{
    QHash<QString, SchemaObject> objects;
    if (!readObjects(db, {SampleTable::changesName()}, &objects))
        return fail(db, error);
    if (objects.contains(SampleTable::changesName()) &&
        !isObject(objects, SampleTable::changesName(), "table", SampleTable::changesName(),
                  SampleTable::createChangesStatement()) &&
        !dropObject(db, SampleTable::changesName(), error))
        return false;
    return execute(db, SampleTable::createChangesStatement(), error) &&
           execute(db, SampleTable::createStateStatement(), error);
}

bool makeTriggers(sqlite3* db, QString* error)
{
    for (const QString& statement : SampleTable::createTriggerStatements()) {
        if (!execute(db, statement, error))
            return false;
    }
    return execute(db, SampleTable::newGenerationStatement(), error);
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

// A value the summary can hold: a number or NULL. Text or a blob in a channel marks its bucket.
bool isNumberOrNull(sqlite3_stmt* statement, int column)
{
    const int type = sqlite3_column_type(statement, column);
    return type != SQLITE_TEXT && type != SQLITE_BLOB;
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

// Makes the summary table, fills it and creates the triggers.
bool fillSummary(sqlite3* db, QString* error)
{
    if (!SampleTable::dropTriggers(db, error) ||
        !dropObject(db, SampleTable::summaryName(), error) ||
        !execute(db, SampleTable::createSummaryStatement(), error) || !makeChangesTable(db, error))
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
        // A time with a fraction counts in its whole second, as the readers take it.
        const qint64 time = sqlite3_column_int64(rows.get(), 1);
        const qint64 bucket = time / SampleTable::BucketSeconds;
        const bool odd = sqlite3_column_type(rows.get(), 1) != SQLITE_INTEGER ||
                         !isNumberOrNull(rows.get(), 2) || !isNumberOrNull(rows.get(), 3);
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
        node.bucket.dirty = node.bucket.dirty || odd;
        ++node.bucket.rows;
        for (int c = 0; c < 2; ++c) {
            // NULL and the no-value marker are no value, as for every reader.
            const double value = sqlite3_column_double(rows.get(), 2 + c);
            if (sqlite3_column_type(rows.get(), 2 + c) != SQLITE_NULL && value != NoValue)
                addValue(&node.bucket.channel[c], value, time);
        }
    }
    if (rc != SQLITE_DONE)
        return fail(db, error);
    for (const auto& [key, node] : nodes) {
        if (node.open && !writeBucket(upsert.get(), key, node))
            return fail(db, error);
    }
    return makeTriggers(db, error);
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

QString SampleTable::indexPresentQuery()
{
    return QStringLiteral("select count(*) from sqlite_master where type = 'index' and name = "
                          "'%1' and tbl_name = 'quorbinal' and sql = '%2'")
        .arg(indexName(), normalized(createIndexStatement()));
}

bool SampleTable::hasIndex(const QSqlDatabase& db)
{
    QSqlQuery query(db);
    return query.exec(indexPresentQuery()) && query.next() && query.value(0).toInt() > 0;
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

QString SampleTable::changesName()
{
    return QStringLiteral("quorbinal_changes");
}

QString SampleTable::stateName()
{
    return QStringLiteral("quorbinal_state");
}

QString SampleTable::changeGenerationName()
{
    return QStringLiteral("changeGeneration");
}

QStringList SampleTable::triggerNames()
{
    return {QStringLiteral("quorbinal_summarize"), QStringLiteral("quorbinal_summary_delete"),
            QStringLiteral("quorbinal_summary_update"), QStringLiteral("quorbinal_summary_replace"),
            QStringLiteral("quorbinal_summary_move")};
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

QString SampleTable::createChangesStatement()
{
    return QStringLiteral("create table if not exists quorbinal_changes (serialno varchar(18) not "
                          "null, bucket integer not null, changeCount integer not null, primary "
                          "key (serialno, bucket)) without rowid");
}

QString SampleTable::createStateStatement()
{
    return QStringLiteral("create table if not exists quorbinal_state (name text not null primary "
                          "key, value integer not null) without rowid");
}

namespace {

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

QStringList triggerStatements(const QString& odd)
{
    // A value is one when it is neither NULL nor the no-value marker older recorders wrote.
    const QString valid = QStringLiteral("(new.channel%1 is not null and new.channel%1 <> ") +
                          QLatin1String(Marker) + QLatin1Char(')');
    QString row = QStringLiteral("values (new.serialno, ") + bucketOf(QStringLiteral("new")) +
                  QStringLiteral(", 1, ") + odd + QStringLiteral(", new.pointDate");
    for (int c = 1; c <= 2; ++c) {
        const QString v = valid.arg(c);
        row += QStringLiteral(", %1, case when %1 then new.channel%2 end, case when %1 then "
                              "new.channel%2 end, case when %1 then new.pointDate end, case when "
                              "%1 then new.channel%2 end, case when %1 then new.pointDate end")
                   .arg(v, QString::number(c));
    }
    row += QLatin1Char(')');
    // A row at or before the bucket's latest second may repeat one: the index tells.
    const QString taken = QStringLiteral(
        " or (excluded.lastTime <= lastTime and exists (select 1 from quorbinal where "
        "quorbinal.serialno = new.serialno and quorbinal.pointDate = new.pointDate and "
        "quorbinal.id <> new.id))");
    const QString insert = QStringLiteral("create trigger if not exists quorbinal_summarize after "
                                          "insert on quorbinal begin ") +
                           upsertStatement(row, taken) + QStringLiteral("; end");

    // Rows deleted, changed or replaced afterwards (the recorder never does; a user with the
    // sqlite3 program may): their buckets are marked, so the reports read those quarter hours
    // as rows, and counted, so that a reader that cached them knows.
    const QString count = QStringLiteral(
        "insert into quorbinal_changes (serialno, bucket, changeCount) %1 on conflict (serialno, "
        "bucket) do update set changeCount = changeCount + 1");
    const QString one = QStringLiteral("(%1.serialno, %2, 1)");
    auto counted = [&](const QString& rowName) { return one.arg(rowName, bucketOf(rowName)); };
    const QString remove =
        QStringLiteral("create trigger if not exists quorbinal_summary_delete after delete on "
                       "quorbinal begin update quorbinal_summary set dirty = 1 where serialno = "
                       "old.serialno and bucket = ") +
        bucketOf(QStringLiteral("old")) + QStringLiteral("; ") +
        count.arg(QStringLiteral("values ") + counted(QStringLiteral("old"))) +
        QStringLiteral("; end");
    const QString mark = QStringLiteral("(%1.serialno, %2, 0, 1, %1.pointDate, 0, 0)");
    const QString change =
        QStringLiteral("create trigger if not exists quorbinal_summary_update after update of id, "
                       "serialno, channel1, channel2, pointDate on quorbinal begin insert into "
                       "quorbinal_summary (serialno, bucket, rowCount, dirty, lastTime, count1, "
                       "count2) values ") +
        mark.arg(QStringLiteral("old"), bucketOf(QStringLiteral("old"))) + QStringLiteral(", ") +
        mark.arg(QStringLiteral("new"), bucketOf(QStringLiteral("new"))) +
        QStringLiteral(" on conflict (serialno, bucket) do update set dirty = 1; ") +
        count.arg(QStringLiteral("values ") + counted(QStringLiteral("old")) +
                  QStringLiteral(", ") + counted(QStringLiteral("new"))) +
        QStringLiteral("; end");
    // REPLACE deletes the row it meets without the delete trigger: the row that holds the id
    // about to be taken is marked before it goes.
    const QString holder =
        QStringLiteral("update quorbinal_summary set dirty = 1 where (serialno, bucket) in "
                       "(select serialno, ") +
        bucketOf(QStringLiteral("quorbinal")) +
        QStringLiteral(" from quorbinal where id = new.id); ") +
        count.arg(QStringLiteral("select serialno, ") + bucketOf(QStringLiteral("quorbinal")) +
                  QStringLiteral(", 1 from quorbinal where id = new.id"));
    // An insert under an id given at or below the largest (a backup merged back): a reader
    // that keeps the rows up to an id would not look for it. An id left to SQLite reads -1 here.
    const QString replace =
        QStringLiteral("create trigger if not exists quorbinal_summary_replace before insert on "
                       "quorbinal when new.id >= 0 and new.id <= (select max(id) from quorbinal) "
                       "begin ") +
        holder + QStringLiteral("; ") +
        count.arg(QStringLiteral("values ") + counted(QStringLiteral("new"))) +
        QStringLiteral("; end");
    const QString move =
        QStringLiteral("create trigger if not exists quorbinal_summary_move before update of id "
                       "on quorbinal when new.id <> old.id begin ") +
        holder + QStringLiteral("; end");
    return {insert, remove, change, replace, move};
}

} // namespace

QStringList SampleTable::createTriggerStatements()
{
    return triggerStatements(QLatin1String(OddRow));
}

QStringList SampleTable::slowerTriggerStatements()
{
    return triggerStatements(QLatin1String(OddRowBefore));
}

QStringList SampleTable::createSummaryStatements()
{
    return QStringList{createSummaryStatement(), createChangesStatement()} +
           createTriggerStatements();
}

QString SampleTable::newGenerationStatement()
{
    // Changes made while the triggers were missing went unmarked: the readers of the marks
    // learn it from a new generation.
    return QStringLiteral("insert into %1 (name, value) values ('%2', (random() & "
                          "4611686018427387903) + 1) on conflict (name) do update set value = "
                          "excluded.value")
        .arg(stateName(), changeGenerationName());
}

bool SampleTable::hasTriggers(SqliteHandle db)
{
    QHash<QString, SchemaObject> objects;
    readObjects(db, triggerNames(), &objects);
    return !objects.isEmpty();
}

bool SampleTable::hasSummaryDefinitions(SqliteHandle db)
{
    QHash<QString, SchemaObject> objects;
    return readObjects(db, QStringList{summaryName(), changesName()} + triggerNames(), &objects) &&
           isObject(objects, summaryName(), "table", summaryName(), createSummaryStatement()) &&
           isObject(objects, changesName(), "table", changesName(), createChangesStatement()) &&
           triggersAre(objects, createTriggerStatements());
}

bool SampleTable::summaryUsable(SqliteHandle db)
{
    if (!hasSummaryDefinitions(db))
        return false;
    // REPLACE through a unique index deletes the row it meets unseen by any trigger.
    SqliteStatement s(db, "select count(*) from pragma_index_list('quorbinal') where \"unique\"");
    return s.isValid() && sqlite3_step(s.get()) == SQLITE_ROW &&
           sqlite3_column_int(s.get(), 0) == 0;
}

SampleTable::Repair SampleTable::summaryRepair(SqliteHandle db)
{
    if (hasSummaryDefinitions(db))
        return Repair::None;
    QHash<QString, SchemaObject> objects;
    if (!readObjects(db, QStringList{summaryName(), changesName()} + triggerNames(), &objects) ||
        !isObject(objects, summaryName(), "table", summaryName(), createSummaryStatement()))
        return Repair::Rebuild;
    // This version's slower triggers kept the summary and the change marks as these do.
    if (isObject(objects, changesName(), "table", changesName(), createChangesStatement()) &&
        triggersAre(objects, slowerTriggerStatements()))
        return Repair::ReplaceTriggers;
    if (!triggersAre(objects, earlierTriggerStatements()))
        return Repair::Rebuild;
    // The earlier triggers summed the no-value marker as a value and made a bucket of its own
    // for a time with a fraction: such a summary is made again.
    SqliteStatement s(db, QByteArray("select exists (select 1 from quorbinal_summary where "
                                     "typeof(bucket) <> 'integer' or max1 >= ") +
                              Marker + " or max2 >= " + Marker + ")");
    if (!s.isValid() || sqlite3_step(s.get()) != SQLITE_ROW || sqlite3_column_int(s.get(), 0))
        return Repair::Rebuild;
    return Repair::ReplaceTriggers;
}

bool SampleTable::dropTriggers(SqliteHandle db, QString* error)
{
    for (const QString& name : triggerNames()) {
        if (!execute(db, QStringLiteral("drop trigger if exists ") + name, error))
            return false;
    }
    return true;
}

bool SampleTable::repairSummary(SqliteHandle db, bool* rebuild, QString* error)
{
    *rebuild = false;
    const Repair repair = summaryRepair(db);
    if (repair == Repair::None)
        return true;
    if (!execute(db, QStringLiteral("begin immediate"), error))
        return false;
    // Read again under the write lock: another writer may have repaired it meanwhile.
    const Repair now = summaryRepair(db);
    bool ok = true;
    if (now == Repair::ReplaceTriggers)
        ok = dropTriggers(db, error) && makeChangesTable(db, error) && makeTriggers(db, error);
    else if (now == Repair::Rebuild)
        ok = dropTriggers(db, error);
    if (ok && execute(db, QStringLiteral("commit"), error)) {
        *rebuild = now == Repair::Rebuild;
        return true;
    }
    sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
    return false;
}

bool SampleTable::buildSummary(SqliteHandle db, QString* error)
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
