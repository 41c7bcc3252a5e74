#include "summarybuild.h"

#include "kinetictable.h"
#include "novalue.h"
#include "sampletable.h"
#include "sqlitestatement.h"
#include "summaryrepair.h"
#include "summarytriggers.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <string>
#include <unordered_map>

namespace {

bool fail(sqlite3* db, QString* error)
{
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
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
    if (!SummaryRepair::dropTriggers(db, error) ||
        !SummaryRepair::dropObject(db, SampleTable::summaryName(), error) ||
        !SummaryRepair::execute(db, SampleTable::createSummaryStatement(), error) ||
        !SummaryRepair::makeChangesTable(db, error))
        return false;
    // Gathered in memory a bucket at a time, per node, in the table's order: SQLite's grouping
    // would sort the whole table and has no aggregate for the time of the first minimum.
    SqliteStatement rows;
    SqliteStatement upsert;
    SqliteStatement taken;
    if (!rows.prepare(db, "select serialno, pointDate, channel1, channel2 from quorbinal") ||
        !upsert.prepare(db, SummaryTriggers::upsertStatement(
                                QStringLiteral("values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
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
    return SummaryRepair::makeTriggers(db, error);
}

} // namespace

bool SummaryBuild::buildSummary(SqliteHandle db, QString* error)
{
    // One transaction holds the write lock from the first row read to the trigger's creation:
    // no row can come between the filling and the trigger.
    if (!SummaryRepair::execute(db, QStringLiteral("begin immediate"), error))
        return false;
    // The kinetic sums from the same rows, under the same lock: no row comes between. Once the
    // summary's statements are gone: a statement still open on the table keeps its table from
    // being dropped.
    if (fillSummary(db, error) && KineticTable::fill(db, error) &&
        SummaryRepair::execute(db, QStringLiteral("commit"), error))
        return true;
    // The filling's statements are finished: an interrupt no longer holds.
    sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
    return false;
}

bool SummaryBuild::buildKinetic(SqliteHandle db, QString* error)
{
    if (!SummaryRepair::execute(db, QStringLiteral("begin immediate"), error))
        return false;
    if (KineticTable::fill(db, error) &&
        SummaryRepair::execute(db, QStringLiteral("commit"), error))
        return true;
    sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
    return false;
}
