#include "samplereader.h"

#include "alarmeventtable.h"
#include "novalue.h"
#include "sampletable.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const char* const RowColumns = "select id, serialno, channel1, channel2, pointDate from quorbinal ";

bool isValue(sqlite3_stmt* statement, int column)
{
    return sqlite3_column_type(statement, column) != SQLITE_NULL &&
           sqlite3_column_double(statement, column) != NoValue;
}

double valueOf(sqlite3_stmt* statement, int column)
{
    return sqlite3_column_type(statement, column) == SQLITE_NULL
               ? NoValue
               : sqlite3_column_double(statement, column);
}

void readRow(sqlite3_stmt* statement, StoredRow* row)
{
    row->id = sqlite3_column_int64(statement, 0);
    row->serial = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
    row->serialLength = sqlite3_column_bytes(statement, 1);
    for (int c = 0; c < 2; ++c) {
        row->present[c] = isValue(statement, 2 + c);
        row->value[c] = row->present[c] ? sqlite3_column_double(statement, 2 + c) : 0.0;
    }
    row->time = sqlite3_column_int64(statement, 4);
}

void bindText(sqlite3_stmt* statement, int index, const QByteArray& text)
{
    sqlite3_bind_text(statement, index, text.constData(), int(text.size()), SQLITE_STATIC);
}

} // namespace

SampleReader::SampleReader() = default;

SampleReader::SampleReader(const QString& databasePath, int busyTimeoutMs)
{
    open(databasePath, busyTimeoutMs);
}

SampleReader::~SampleReader()
{
    close();
}

bool SampleReader::open(const QString& databasePath, int busyTimeoutMs)
{
    close();
    error.clear();
    // Read-only: a missing file fails here instead of being created, and SQLite itself refuses
    // every write on this connection.
    if (!connection.open(databasePath, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX)) {
        error = connection.errorText();
        return false;
    }
    sqlite3_busy_timeout(connection.get(), busyTimeoutMs);
    return true;
}

void SampleReader::close()
{
    for (SqliteStatement* s :
         {&nodeRowsStatement, &nodeRowsInIdsStatement, &idRowsStatement, &idRowsDescendingStatement,
          &rowStatement, &nodeRowsWithinStatement, &idDigestStatement, &rowsAfterStatement})
        s->finalize();
    connection.close();
}

// what names the step for the viewer's messages; the reports take SQLite's text alone.
bool SampleReader::fail(const char* what)
{
    const QString text = connection.lastError();
    error = what ? QString::fromUtf8(what) + QStringLiteral(": ") + text : text;
    return false;
}

bool SampleReader::exists(const char* type, const QString& name)
{
    SqliteStatement s(connection.get(), "select 1 from sqlite_master where type = ? and name = ?");
    if (!s.isValid())
        return fail("prepare");
    const QByteArray utf8 = name.toUtf8();
    sqlite3_bind_text(s.get(), 1, type, -1, SQLITE_STATIC);
    bindText(s.get(), 2, utf8);
    const int rc = sqlite3_step(s.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail("step");
    return rc == SQLITE_ROW;
}

bool SampleReader::hasTable()
{
    return exists("table", QStringLiteral("quorbinal"));
}

bool SampleReader::hasAlarmEvents()
{
    return exists("table", AlarmEventTable::tableName());
}

bool SampleReader::alarmEvents(qint64 from, qint64 to, const QStringList& serials,
                               QVector<AlarmEventRecord>* out)
{
    out->clear();
    AlarmEventFilter filter;
    filter.from = from;
    filter.to = to;
    // Every event of the range: a report or an export that lost some would hide a deviation.
    filter.limit = std::numeric_limits<int>::max();
    QString text;
    if (!AlarmEventTable::list(connection.get(), filter, out, &text)) {
        error = text;
        return false;
    }
    if (!serials.isEmpty())
        out->erase(std::remove_if(out->begin(), out->end(),
                                  [&serials](const AlarmEventRecord& r) {
                                      return !serials.contains(r.serial);
                                  }),
                   out->end());
    std::sort(out->begin(), out->end(), [](const AlarmEventRecord& a, const AlarmEventRecord& b) {
        return a.start != b.start ? a.start < b.start : a.id < b.id;
    });
    return true;
}

bool SampleReader::hasIndex()
{
    SqliteStatement s(connection.get(), SampleTable::indexPresentQuery().toUtf8());
    if (!s.isValid() || sqlite3_step(s.get()) != SQLITE_ROW)
        return fail(nullptr);
    return sqlite3_column_int(s.get(), 0) > 0;
}

bool SampleReader::hasSummary()
{
    return isOpen() && SampleTable::summaryUsable(connection.get());
}

bool SampleReader::begin()
{
    if (isOpen() && sqlite3_exec(connection.get(), "begin", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    return fail(nullptr);
}

void SampleReader::end()
{
    if (isOpen())
        sqlite3_exec(connection.get(), "commit", nullptr, nullptr, nullptr);
}

bool SampleReader::readSummary(const QString& serial, qint64 first, qint64 last,
                               const BucketSink& sink)
{
    SqliteStatement s(connection.get(), SampleTable::summaryQuery().toUtf8());
    if (!s.isValid())
        return fail(nullptr);
    const QByteArray utf8 = serial.toUtf8();
    bindText(s.get(), 1, utf8);
    sqlite3_bind_int64(s.get(), 2, first);
    sqlite3_bind_int64(s.get(), 3, last);
    SampleTable::Bucket bucket;
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        SampleTable::readBucket(s.get(), &bucket);
        sink(bucket);
    }
    return rc == SQLITE_DONE || fail(nullptr);
}

bool SampleReader::read(const QVector<Node>& nodes, qint64 from, qint64 to, const Sink& sink)
{
    if (!isOpen())
        return false;
    struct Stream
    {
        SqliteStatement statement;
        QByteArray serial;
        bool live = true;
        bool held = false;
        qint64 time = 0;
        double v1 = NoValue;
        double v2 = NoValue;
    };
    std::vector<Stream> streams(size_t(nodes.size()));
    for (int n = 0; n < nodes.size(); ++n) {
        // Equality on serialno and a range on pointDate: the recorder's index yields the rows
        // in this order (rowid last) without sorting. The range ends before the second after
        // `to`, so that a time with a fraction is read with its whole second.
        const QByteArray sql = QByteArray("select pointDate, ") +
                               (nodes.at(n).channel1 ? "channel1" : "null") + ", " +
                               (nodes.at(n).channel2 ? "channel2" : "null") +
                               " from quorbinal where serialno = ? and pointDate >= ? and "
                               "pointDate < ? order by pointDate, id";
        Stream& stream = streams[size_t(n)];
        if (!stream.statement.prepare(connection.get(), sql))
            return fail(nullptr);
        stream.serial = nodes.at(n).serial.toUtf8();
        bindText(stream.statement.get(), 1, stream.serial);
        sqlite3_bind_int64(stream.statement.get(), 2, from);
        sqlite3_bind_int64(stream.statement.get(), 3, to + 1);
    }

    constexpr int kTurn = 256;
    for (int live = nodes.size(); live > 0;) {
        for (int n = 0; n < nodes.size(); ++n) {
            Stream& stream = streams[size_t(n)];
            sqlite3_stmt* statement = stream.statement.get();
            for (int i = 0; stream.live && i < kTurn; ++i) {
                const int rc = sqlite3_step(statement);
                if (rc != SQLITE_ROW) {
                    if (rc != SQLITE_DONE)
                        return fail(nullptr);
                    if (stream.held)
                        sink(n, stream.time, stream.v1, stream.v2);
                    stream.live = false;
                    --live;
                    break;
                }
                const qint64 t = sqlite3_column_int64(statement, 0);
                if (stream.held && t != stream.time)
                    sink(n, stream.time, stream.v1, stream.v2);
                stream.held = true;
                stream.time = t;
                stream.v1 = valueOf(statement, 1);
                stream.v2 = valueOf(statement, 2);
            }
        }
    }
    return true;
}

QString SampleReader::channelQuery(const QStringList& columns)
{
    // Equality on serialno and a range on pointDate: with the recorder's index on both, SQLite
    // seeks straight to the node's samples of the period, already in time order.
    return QStringLiteral("select pointDate, ") + columns.join(QStringLiteral(", ")) +
           QStringLiteral(" from quorbinal where serialno = ? and (? <= pointDate and ? >= "
                          "pointDate) order by pointDate;");
}

bool SampleReader::channelSamples(const QString& serial, const QStringList& columns, qint64 from,
                                  qint64 to, std::vector<ChannelSamples>* out, qint64* rows)
{
    *rows = 0;
    out->assign(size_t(columns.size()), ChannelSamples());
    SqliteStatement s(connection.get(), channelQuery(columns).toUtf8());
    if (!s.isValid())
        return fail(nullptr);
    const QByteArray utf8 = serial.toUtf8();
    sqlite3_stmt* statement = s.get();
    bindText(statement, 1, utf8);
    sqlite3_bind_int64(statement, 2, from);
    sqlite3_bind_int64(statement, 3, to);
    const int count = columns.size();
    qint64 read = 0;
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        ++read;
        const qint64 t = sqlite3_column_int64(statement, 0);
        // Rows come in time order; of two rows at one time the later one counts.
        const bool repeated = read > 1 && out->front().back().time == t;
        for (int c = 0; c < count; ++c) {
            ChannelSamples& samples = (*out)[size_t(c)];
            const double v = valueOf(statement, 1 + c);
            if (repeated)
                samples.back().value = v;
            else
                samples.push_back({t, v});
        }
    }
    *rows = read;
    return rc == SQLITE_DONE || fail(nullptr);
}

sqlite3_stmt* SampleReader::kept(SqliteStatement* statement, const char* sql)
{
    if (!isOpen()) {
        fail("prepare");
        return nullptr;
    }
    if (!statement->isValid() && !statement->prepare(connection.get(), sql))
        fail("prepare");
    return statement->get();
}

bool SampleReader::rowsById(sqlite3_stmt* statement, const StoredRowSink& sink)
{
    StoredRow row;
    int rc = SQLITE_ROW;
    bool wanted = true;
    while (wanted && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
        readRow(statement, &row);
        wanted = sink(row);
    }
    const bool ok = !wanted || rc == SQLITE_DONE;
    if (!ok)
        fail("step");
    // Resetting ends the statement's read transaction at once.
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return ok;
}

// A row is handed on once the next one shows it is the last of its second. The held row's
// serial number is the one asked for: SQLite's buffer moves on with the next step.
bool SampleReader::rowsByTime(sqlite3_stmt* statement, const QByteArray& serial,
                              const StoredRowSink& sink)
{
    StoredRow held;
    StoredRow next;
    bool holding = false;
    int rc = SQLITE_ROW;
    bool wanted = true;
    while (wanted && (rc = sqlite3_step(statement)) == SQLITE_ROW) {
        readRow(statement, &next);
        next.serial = serial.constData();
        next.serialLength = int(serial.size());
        if (holding && next.time != held.time)
            wanted = sink(held);
        held = next;
        holding = true;
    }
    const bool ok = !wanted || rc == SQLITE_DONE;
    if (ok && wanted && holding)
        sink(held);
    if (!ok)
        fail("step");
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return ok;
}

qint64 SampleReader::idBound(const char* sql)
{
    SqliteStatement s(connection.get(), sql);
    if (!s.isValid()) {
        fail("prepare");
        return -1;
    }
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_ROW)
        return sqlite3_column_type(s.get(), 0) != SQLITE_NULL ? sqlite3_column_int64(s.get(), 0)
                                                              : 0;
    return -1;
}

bool SampleReader::recordedPeriod(qint64* first, qint64* last)
{
    const QByteArray sql = SampleTable::recordedPeriodQuery(hasIndex()).toUtf8();
    SqliteStatement s(connection.get(), sql);
    if (!s.isValid())
        return fail("prepare");
    const int rc = sqlite3_step(s.get());
    const bool ok = rc == SQLITE_ROW && sqlite3_column_type(s.get(), 0) != SQLITE_NULL;
    if (ok) {
        *first = sqlite3_column_int64(s.get(), 0);
        *last = sqlite3_column_int64(s.get(), 1);
    } else if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        fail("step");
    }
    return ok;
}

qint64 SampleReader::maxId()
{
    return idBound("select max(id) from quorbinal");
}

qint64 SampleReader::minId()
{
    return idBound("select min(id) from quorbinal");
}

bool SampleReader::row(qint64 id, const StoredRowSink& sink)
{
    const QByteArray sql = QByteArray(RowColumns) + "where id = ?";
    sqlite3_stmt* s = kept(&rowStatement, sql.constData());
    if (!s)
        return false;
    sqlite3_bind_int64(s, 1, id);
    bool found = false;
    const bool ok = rowsById(s, [&](const StoredRow& r) {
        found = true;
        return sink(r);
    });
    return ok && found;
}

bool SampleReader::nodeRows(const QByteArray& serial, qint64 from, qint64 to,
                            const StoredRowSink& sink)
{
    const QByteArray sql = QByteArray(RowColumns) +
                           "where serialno = ?1 and pointDate between ?2 and ?3 "
                           "order by pointDate, id";
    sqlite3_stmt* s = kept(&nodeRowsStatement, sql.constData());
    if (!s)
        return false;
    bindText(s, 1, serial);
    sqlite3_bind_int64(s, 2, from);
    sqlite3_bind_int64(s, 3, to);
    return rowsByTime(s, serial, sink);
}

bool SampleReader::nodeRowsInIds(const QByteArray& serial, qint64 from, qint64 to, qint64 firstId,
                                 qint64 lastId, const StoredRowSink& sink)
{
    // "+serialno" keeps the planner on the id range even when the range index exists: the ids
    // were chosen because they are the short way.
    const QByteArray sql = QByteArray(RowColumns) +
                           "where id between ?4 and ?5 and +serialno = ?1 and pointDate between "
                           "?2 and ?3 order by pointDate, id";
    return nodeRowsOfIds(&nodeRowsInIdsStatement, sql, serial, from, to, firstId, lastId, sink);
}

bool SampleReader::nodeRowsOfIds(SqliteStatement* statement, const QByteArray& sql,
                                 const QByteArray& serial, qint64 from, qint64 to, qint64 firstId,
                                 qint64 lastId, const StoredRowSink& sink)
{
    sqlite3_stmt* s = kept(statement, sql.constData());
    if (!s)
        return false;
    bindText(s, 1, serial);
    sqlite3_bind_int64(s, 2, from);
    sqlite3_bind_int64(s, 3, to);
    sqlite3_bind_int64(s, 4, firstId);
    sqlite3_bind_int64(s, 5, lastId);
    return rowsByTime(s, serial, sink);
}

bool SampleReader::idRows(qint64 firstId, qint64 lastId, bool descending, const StoredRowSink& sink)
{
    const QByteArray sql = QByteArray(RowColumns) + "where id between ?1 and ?2 order by id" +
                           (descending ? " desc" : "");
    sqlite3_stmt* s =
        kept(descending ? &idRowsDescendingStatement : &idRowsStatement, sql.constData());
    if (!s)
        return false;
    sqlite3_bind_int64(s, 1, firstId);
    sqlite3_bind_int64(s, 2, lastId);
    return rowsById(s, sink);
}

bool SampleReader::serials(QList<QByteArray>* out)
{
    const char* sql =
        hasIndex()
            ? "with recursive node(serial) as ("
              " select (select min(serialno) from quorbinal)"
              " union all"
              " select (select min(serialno) from quorbinal where serialno > node.serial) from node"
              " where node.serial is not null)"
              " select serial from node where serial is not null"
            : "select distinct serialno from quorbinal";
    SqliteStatement s(connection.get(), sql);
    if (!s.isValid())
        return fail("prepare");
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        out->append(QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0)),
                               sqlite3_column_bytes(s.get(), 0)));
    return rc == SQLITE_DONE || fail("step");
}

bool SampleReader::nodeRowsWithin(const QByteArray& serial, qint64 from, qint64 to, qint64 firstId,
                                  qint64 lastId, const StoredRowSink& sink)
{
    // "+id" keeps the planner on the range index: the id range is a filter here, not the way in.
    const QByteArray sql = QByteArray(RowColumns) +
                           "where serialno = ?1 and pointDate between ?2 and ?3 and +id between "
                           "?4 and ?5 order by pointDate, id";
    return nodeRowsOfIds(&nodeRowsWithinStatement, sql, serial, from, to, firstId, lastId, sink);
}

bool SampleReader::bucketMarks(QList<QByteArray>* serials, std::vector<BucketMark>* out)
{
    // The summary's own key order: no sorting.
    const QByteArray sql = "select serialno, bucket, rowCount, dirty from " +
                           SampleTable::summaryName().toUtf8() + " order by serialno, bucket";
    SqliteStatement s(connection.get(), sql);
    if (!s.isValid())
        return fail("prepare");
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        const char* serial = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
        const int length = sqlite3_column_bytes(s.get(), 0);
        if (serials->isEmpty() || serials->last() != QByteArray::fromRawData(serial, length))
            serials->append(QByteArray(serial, length));
        BucketMark mark;
        mark.serial = serials->size() - 1;
        mark.bucket = sqlite3_column_int64(s.get(), 1);
        mark.rows = sqlite3_column_int64(s.get(), 2);
        mark.dirty = sqlite3_column_int(s.get(), 3) != 0;
        out->push_back(mark);
    }
    return rc == SQLITE_DONE || fail("step");
}

bool SampleReader::idDigest(qint64 firstId, qint64 lastId, IdDigest* out)
{
    // Plain aggregates only: a function or a case per row would make the check of a month of
    // rows cost as much as reading them.
    const char* sql =
        "select count(*), sum(id), sum(pointDate), min(pointDate), max(pointDate), "
        "total(cast(channel1 * 100 as integer)), total(cast(channel2 * 100 as "
        "integer)), total(length(serialno)) from quorbinal where id between ?1 and ?2";
    sqlite3_stmt* s = kept(&idDigestStatement, sql);
    if (!s)
        return false;
    sqlite3_bind_int64(s, 1, firstId);
    sqlite3_bind_int64(s, 2, lastId);
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        *out = IdDigest();
        out->count = sqlite3_column_int64(s, 0);
        out->idSum = sqlite3_column_int64(s, 1);
        out->timeSum = sqlite3_column_int64(s, 2);
        out->firstTime = sqlite3_column_int64(s, 3);
        out->lastTime = sqlite3_column_int64(s, 4);
        out->valueSum[0] = sqlite3_column_double(s, 5);
        out->valueSum[1] = sqlite3_column_double(s, 6);
        out->serialSum = sqlite3_column_int64(s, 7);
    }
    sqlite3_reset(s);
    return rc == SQLITE_ROW || fail("step");
}

void SampleReader::IdDigest::add(const StoredRow& row)
{
    if (count == 0) {
        firstTime = lastTime = row.time;
    } else {
        firstTime = qMin(firstTime, row.time);
        lastTime = qMax(lastTime, row.time);
    }
    ++count;
    idSum += row.id;
    timeSum += row.time;
    for (int c = 0; c < 2; ++c) {
        if (!row.present[c])
            continue;
        // SQLite's cast: towards zero, the largest integers where the value lies beyond them.
        const double hundredths = row.value[c] * 100;
        constexpr double Limit = 9223372036854775807.0;
        const qint64 whole = std::isnan(hundredths) ? 0
                             : hundredths >= Limit  ? std::numeric_limits<qint64>::max()
                             : hundredths <= -Limit ? std::numeric_limits<qint64>::min()
                                                    : qint64(hundredths);
        valueSum[c] += double(whole);
    }
    // length() counts characters: every byte that does not continue a UTF-8 sequence.
    for (int i = 0; i < row.serialLength; ++i)
        serialSum += (static_cast<unsigned char>(row.serial[i]) & 0xC0) != 0x80 ? 1 : 0;
}

void SampleReader::IdDigest::merge(const IdDigest& other)
{
    if (other.count == 0)
        return;
    firstTime = count == 0 ? other.firstTime : qMin(firstTime, other.firstTime);
    lastTime = count == 0 ? other.lastTime : qMax(lastTime, other.lastTime);
    count += other.count;
    idSum += other.idSum;
    timeSum += other.timeSum;
    valueSum[0] += other.valueSum[0];
    valueSum[1] += other.valueSum[1];
    serialSum += other.serialSum;
}

bool SampleReader::IdDigest::operator==(const IdDigest& other) const
{
    return count == other.count && idSum == other.idSum && timeSum == other.timeSum &&
           valueSum[0] == other.valueSum[0] && valueSum[1] == other.valueSum[1] &&
           serialSum == other.serialSum &&
           (count == 0 || (firstTime == other.firstTime && lastTime == other.lastTime));
}

bool SampleReader::schemaText(QByteArray* out)
{
    SqliteStatement s(connection.get(),
                      "select type, name, rootpage, sql from sqlite_master order by type, name");
    if (!s.isValid())
        return fail("prepare");
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        for (int c = 0; c < 4; ++c) {
            out->append(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), c)),
                        sqlite3_column_bytes(s.get(), c));
            out->append('\x1f');
        }
        out->append('\n');
    }
    return rc == SQLITE_DONE || fail("step");
}

qint64 SampleReader::changeGeneration()
{
    if (!hasSummary())
        return 0;
    const QByteArray sql =
        QByteArray("select value from ") + SampleTable::stateName().toUtf8() + " where name = ?";
    SqliteStatement s(connection.get(), sql);
    if (!s.isValid())
        return 0;
    const QByteArray name = SampleTable::changeGenerationName().toUtf8();
    bindText(s.get(), 1, name);
    return sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int64(s.get(), 0) : 0;
}

bool SampleReader::changedBuckets(std::vector<ChangedBucket>* out)
{
    out->clear();
    if (changeGeneration() == 0)
        return false;
    const QByteArray sql = QByteArray("select serialno, bucket, changeCount from ") +
                           SampleTable::changesName().toUtf8() +
                           " where changeCount <> 0 order by serialno, bucket";
    SqliteStatement s(connection.get(), sql);
    if (!s.isValid())
        return fail("prepare");
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        ChangedBucket b;
        b.serial = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0)),
                              sqlite3_column_bytes(s.get(), 0));
        b.bucket = sqlite3_column_int64(s.get(), 1);
        b.changeCount = sqlite3_column_int64(s.get(), 2);
        out->push_back(std::move(b));
    }
    return rc == SQLITE_DONE || fail("step");
}

bool SampleReader::stateValue(const QString& name, qint64* value)
{
    if (!exists("table", SampleTable::stateName()))
        return false;
    const QByteArray sql =
        QByteArray("select value from ") + SampleTable::stateName().toUtf8() + " where name = ?";
    SqliteStatement s(connection.get(), sql);
    if (!s.isValid())
        return fail("prepare");
    const QByteArray utf8 = name.toUtf8();
    bindText(s.get(), 1, utf8);
    if (sqlite3_step(s.get()) != SQLITE_ROW)
        return false;
    *value = sqlite3_column_int64(s.get(), 0);
    return true;
}

qint64 SampleReader::firstIdFrom(qint64 time)
{
    return smallestFrom("select min(id) from quorbinal where pointDate >= ?", time);
}

qint64 SampleReader::smallestFrom(const char* sql, qint64 time)
{
    SqliteStatement s(connection.get(), sql);
    if (!s.isValid()) {
        fail("prepare");
        return -1;
    }
    sqlite3_bind_int64(s.get(), 1, time);
    if (sqlite3_step(s.get()) != SQLITE_ROW) {
        fail("step");
        return -1;
    }
    return sqlite3_column_type(s.get(), 0) != SQLITE_NULL ? sqlite3_column_int64(s.get(), 0) : 0;
}

bool SampleReader::valuesAfter(qint64 afterId, qint64* count, qint64* earliest)
{
    // The marker compared as SQLite stores it (a REAL), as isValue() does.
    SqliteStatement s(connection.get(),
                      "select coalesce(sum(channel1 is not null and channel1 <> ?2) + "
                      "sum(channel2 is not null and channel2 <> ?2), 0), "
                      "coalesce(min(pointDate), 0) from quorbinal where id > ?1");
    if (!s.isValid())
        return fail("prepare");
    sqlite3_bind_int64(s.get(), 1, afterId);
    sqlite3_bind_double(s.get(), 2, NoValue);
    if (sqlite3_step(s.get()) != SQLITE_ROW)
        return fail("step");
    *count = sqlite3_column_int64(s.get(), 0);
    *earliest = sqlite3_column_int64(s.get(), 1);
    return true;
}

bool SampleReader::alarmChangesSince(qint64 mark, int limit, QVector<AlarmEventRecord>* out)
{
    QString why;
    if (!AlarmEventTable::changesSince(connection.get(), mark, limit, out, &why)) {
        error = why;
        return false;
    }
    return true;
}

qint64 SampleReader::lastAlarmChangeMark()
{
    if (!AlarmEventTable::exists(connection.get()))
        return 0;
    return idBound("select max(changeMark) from alarm_event");
}

qint64 SampleReader::firstAlarmChangeMarkFrom(qint64 time)
{
    if (!AlarmEventTable::exists(connection.get()))
        return 0;
    return smallestFrom(
        "select min(changeMark) from alarm_event where endTime is null or endTime >= ?", time);
}

bool SampleReader::rowsAfter(qint64 afterId, int limit, const StoredRowSink& sink)
{
    const QByteArray sql = QByteArray(RowColumns) + "where id > ?1 order by id limit ?2";
    sqlite3_stmt* s = kept(&rowsAfterStatement, sql.constData());
    if (!s)
        return false;
    sqlite3_bind_int64(s, 1, afterId);
    sqlite3_bind_int(s, 2, limit);
    return rowsById(s, sink);
}
