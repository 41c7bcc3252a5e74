#include "kinetictable.h"

#include "meankinetictemperature.h"
#include "novalue.h"
#include "sampletable.h"
#include "sqlitestatement.h"
#include "summaryrepair.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr int PerChannel = 8;

void addValue(KineticTable::Channel* c, qint64 time, double value)
{
    if (c->count == 0) {
        c->firstTime = time;
        c->first = value;
    } else {
        // The reports weigh each sample by the time to the next one with the term of the
        // default activation energy, as MeanKineticTemperature computes it: the same function,
        // so that sums and rows give the same figures.
        static const MeanKineticTemperature celsius(MeanKineticTemperature::Scale::Celsius);
        static const MeanKineticTemperature fahrenheit(MeanKineticTemperature::Scale::Fahrenheit);
        const qint64 spacing = time - c->lastTime;
        c->longest = qMax(c->longest, spacing);
        const double tc = celsius.term(c->last);
        const double tf = fahrenheit.term(c->last);
        const double none = std::numeric_limits<double>::quiet_NaN();
        c->celsius = tc > 0 ? c->celsius + double(spacing) * tc : none;
        c->fahrenheit = tf > 0 ? c->fahrenheit + double(spacing) * tf : none;
    }
    c->lastTime = time;
    c->last = value;
    ++c->count;
}

void bindDouble(sqlite3_stmt* s, int index, double value)
{
    if (std::isfinite(value))
        sqlite3_bind_double(s, index, value);
    else
        sqlite3_bind_null(s, index);
}

double doubleAt(sqlite3_stmt* s, int column)
{
    return sqlite3_column_type(s, column) == SQLITE_NULL ? std::numeric_limits<double>::quiet_NaN()
                                                         : sqlite3_column_double(s, column);
}

} // namespace

QString KineticTable::name()
{
    return QStringLiteral("quorbinal_kinetic");
}

QString KineticTable::createStatement()
{
    QString sql = QStringLiteral("create table if not exists quorbinal_kinetic (serialno "
                                 "varchar(18) not null, bucket integer not null, rowCount integer "
                                 "not null, lastTime integer not null");
    for (int c = 1; c <= 2; ++c)
        sql += QStringLiteral(", count%1 integer not null, firstTime%1 integer, first%1 float, "
                              "lastTime%1 integer, last%1 float, longest%1 integer, celsius%1 "
                              "float, fahrenheit%1 float")
                   .arg(c);
    return sql + QStringLiteral(", primary key (serialno, bucket)) without rowid");
}

QString KineticTable::columns(const QString& p)
{
    QString list = QStringLiteral("%1bucket, %1rowCount, %1lastTime").arg(p);
    for (int c = 1; c <= 2; ++c)
        list += QStringLiteral(", %1count%2, %1firstTime%2, %1first%2, %1lastTime%2, %1last%2, "
                               "%1longest%2, %1celsius%2, %1fahrenheit%2")
                    .arg(p, QString::number(c));
    return list;
}

void KineticTable::addRow(Row* row, qint64 time, bool valid1, double v1, bool valid2, double v2)
{
    if (row->rows < 0)
        return;
    if (row->rows > 0 && time <= row->lastTime) {
        breakRow(row);
        return;
    }
    ++row->rows;
    row->lastTime = time;
    if (valid1)
        addValue(&row->channel[0], time, v1);
    if (valid2)
        addValue(&row->channel[1], time, v2);
}

QByteArray KineticTable::upsertStatement()
{
    return QByteArray("insert or replace into quorbinal_kinetic (serialno, ") +
           columns(QString()).toUtf8() +
           ") values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
}

void KineticTable::bind(sqlite3_stmt* s, const Row& row)
{
    sqlite3_bind_int64(s, 2, row.bucket);
    sqlite3_bind_int64(s, 3, row.rows);
    sqlite3_bind_int64(s, 4, row.lastTime);
    for (int c = 0; c < 2; ++c) {
        const Channel& ch = row.channel[c];
        const int at = 5 + PerChannel * c;
        sqlite3_bind_int64(s, at, ch.count);
        if (ch.count == 0) {
            for (int i = 1; i < PerChannel; ++i)
                sqlite3_bind_null(s, at + i);
            continue;
        }
        sqlite3_bind_int64(s, at + 1, ch.firstTime);
        sqlite3_bind_double(s, at + 2, ch.first);
        sqlite3_bind_int64(s, at + 3, ch.lastTime);
        sqlite3_bind_double(s, at + 4, ch.last);
        sqlite3_bind_int64(s, at + 5, ch.longest);
        bindDouble(s, at + 6, ch.celsius);
        bindDouble(s, at + 7, ch.fahrenheit);
    }
}

bool KineticTable::read(sqlite3_stmt* s, int column, Row* row)
{
    if (sqlite3_column_type(s, column) == SQLITE_NULL)
        return false;
    row->bucket = sqlite3_column_int64(s, column);
    row->rows = sqlite3_column_int64(s, column + 1);
    row->lastTime = sqlite3_column_int64(s, column + 2);
    for (int c = 0; c < 2; ++c) {
        Channel& ch = row->channel[c];
        const int at = column + 3 + PerChannel * c;
        ch = Channel();
        ch.count = sqlite3_column_int64(s, at);
        if (ch.count == 0)
            continue;
        ch.firstTime = sqlite3_column_int64(s, at + 1);
        ch.first = sqlite3_column_double(s, at + 2);
        ch.lastTime = sqlite3_column_int64(s, at + 3);
        ch.last = sqlite3_column_double(s, at + 4);
        ch.longest = sqlite3_column_int64(s, at + 5);
        ch.celsius = doubleAt(s, at + 6);
        ch.fahrenheit = doubleAt(s, at + 7);
    }
    return true;
}

bool KineticTable::exists(SqliteHandle db)
{
    SqliteStatement s(db, "select sql from sqlite_master where type = 'table' and name = "
                          "'quorbinal_kinetic'");
    return s.isValid() && sqlite3_step(s.get()) == SQLITE_ROW &&
           SqliteStatement::textAt(s.get(), 0) == SampleTable::normalized(createStatement());
}

bool KineticTable::fill(SqliteHandle db, QString* error)
{
    if (!SummaryRepair::dropObject(db, name(), error) ||
        !SummaryRepair::execute(db, createStatement(), error))
        return false;
    SqliteStatement rows;
    SqliteStatement upsert;
    if (!rows.prepare(db, "select serialno, pointDate, channel1, channel2 from quorbinal") ||
        !upsert.prepare(db, upsertStatement()))
        return SqliteStatement::failed(db, error);

    // The table's order is the order of insertion, and the writer inserts up to 500 rows in one
    // statement whose UNION stores them sorted by node and value, not by time: a node's rows of
    // neighbouring buckets come mixed within that many rows of the table. So each node's buckets
    // stay open, and are taken in time order, until SettledRows rows of the table have passed
    // since their latest; a row for a bucket already written (rows merged back much later)
    // breaks it.
    constexpr qint64 SettledRows = 512;
    struct Sample
    {
        qint64 time;
        double value[2];
        bool valid[2];
        bool odd;
    };
    struct Open
    {
        std::vector<Sample> samples;
        qint64 seen = 0; // the table row that brought its latest sample
    };
    struct Node
    {
        std::map<qint64, Open> open;
        std::set<qint64> written;
    };
    std::unordered_map<std::string, Node> nodes;
    auto write = [&](const std::string& serial, const Row& row) {
        sqlite3_reset(upsert.get());
        sqlite3_bind_text(upsert.get(), 1, serial.data(), int(serial.size()), SQLITE_STATIC);
        bind(upsert.get(), row);
        return sqlite3_step(upsert.get()) == SQLITE_DONE;
    };
    // Writes the node's buckets last seen before row `before`.
    auto settle = [&](const std::string& serial, Node* node, qint64 before) {
        for (auto it = node->open.begin(); it != node->open.end();) {
            if (it->second.seen >= before) {
                ++it;
                continue;
            }
            std::vector<Sample>& samples = it->second.samples;
            std::stable_sort(samples.begin(), samples.end(),
                             [](const Sample& a, const Sample& b) { return a.time < b.time; });
            Row row;
            row.bucket = it->first;
            for (const Sample& x : samples) {
                if (x.odd)
                    breakRow(&row);
                addRow(&row, x.time, x.valid[0], x.value[0], x.valid[1], x.value[1]);
            }
            node->written.insert(it->first);
            it = node->open.erase(it);
            if (!write(serial, row))
                return false;
        }
        return true;
    };
    std::string serial;
    sqlite3_stmt* r = rows.get();
    int rc = SQLITE_OK;
    qint64 count = 0;
    while ((rc = sqlite3_step(r)) == SQLITE_ROW) {
        ++count;
        serial.assign(reinterpret_cast<const char*>(sqlite3_column_text(r, 0)),
                      size_t(sqlite3_column_bytes(r, 0)));
        Node& node = nodes[serial];
        Sample x;
        x.time = sqlite3_column_int64(r, 1);
        // The summary marks such rows; so does this.
        x.odd = sqlite3_column_type(r, 1) != SQLITE_INTEGER;
        for (int c = 0; c < 2; ++c) {
            const int type = sqlite3_column_type(r, 2 + c);
            x.value[c] = sqlite3_column_double(r, 2 + c);
            x.valid[c] = type != SQLITE_NULL && x.value[c] != NoValue;
            x.odd = x.odd || type == SQLITE_TEXT || type == SQLITE_BLOB;
        }
        const qint64 bucket = x.time / SampleTable::BucketSeconds;
        if (node.written.count(bucket) > 0) {
            Row broken;
            broken.bucket = bucket;
            breakRow(&broken);
            if (!write(serial, broken))
                return SqliteStatement::failed(db, error);
        } else {
            Open& open = node.open[bucket];
            open.samples.push_back(x);
            open.seen = count;
        }
        if (count % SettledRows == 0) {
            for (auto& [key, each] : nodes) {
                if (!settle(key, &each, count - SettledRows))
                    return SqliteStatement::failed(db, error);
            }
        }
    }
    if (rc != SQLITE_DONE)
        return SqliteStatement::failed(db, error);
    for (auto& [key, node] : nodes) {
        if (!settle(key, &node, count + 1))
            return SqliteStatement::failed(db, error);
    }
    return true;
}
