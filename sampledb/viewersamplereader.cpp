#include "viewersamplereader.h"

#include "sampletable.h"

#include <sqlite3.h>

#include <cmath>
#include <limits>

bool ViewerSampleReader::recordedPeriod(qint64* first, qint64* last)
{
    const QByteArray sql = SampleTable::recordedPeriodQuery(hasIndex()).toUtf8();
    SqliteStatement s(handle(), sql);
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

qint64 ViewerSampleReader::minId()
{
    return idBound("select min(id) from quorbinal");
}

bool ViewerSampleReader::row(qint64 id, const StoredRowSink& sink)
{
    const QByteArray sql = QByteArray(rowColumns()) + "where id = ?";
    sqlite3_stmt* s = kept(sql);
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

bool ViewerSampleReader::nodeRows(const QByteArray& serial, qint64 from, qint64 to,
                                  const StoredRowSink& sink)
{
    sqlite3_stmt* s =
        nodeStatement("serialno = ?1 and pointDate between ?2 and ?3", serial, from, to);
    return s && rowsByTime(s, serial, sink);
}

bool ViewerSampleReader::nodeRowsInIds(const QByteArray& serial, qint64 from, qint64 to,
                                       qint64 firstId, qint64 lastId, const StoredRowSink& sink)
{
    // "+serialno" keeps the planner on the id range even when the range index exists: the ids
    // were chosen because they are the short way.
    return nodeRowsOfIds("id between ?4 and ?5 and +serialno = ?1 and pointDate between ?2 and ?3",
                         serial, from, to, firstId, lastId, sink);
}

sqlite3_stmt* ViewerSampleReader::nodeStatement(const char* condition, const QByteArray& serial,
                                                qint64 from, qint64 to)
{
    const QByteArray sql =
        QByteArray(rowColumns()) + "where " + condition + " order by pointDate, id";
    sqlite3_stmt* s = kept(sql);
    if (s) {
        bindText(s, 1, serial);
        sqlite3_bind_int64(s, 2, from);
        sqlite3_bind_int64(s, 3, to);
    }
    return s;
}

bool ViewerSampleReader::nodeRowsOfIds(const char* condition, const QByteArray& serial, qint64 from,
                                       qint64 to, qint64 firstId, qint64 lastId,
                                       const StoredRowSink& sink)
{
    sqlite3_stmt* s = nodeStatement(condition, serial, from, to);
    if (!s)
        return false;
    sqlite3_bind_int64(s, 4, firstId);
    sqlite3_bind_int64(s, 5, lastId);
    return rowsByTime(s, serial, sink);
}

bool ViewerSampleReader::idRows(qint64 firstId, qint64 lastId, bool descending,
                                const StoredRowSink& sink)
{
    const QByteArray sql = QByteArray(rowColumns()) + "where id between ?1 and ?2 order by id" +
                           (descending ? " desc" : "");
    sqlite3_stmt* s = kept(sql);
    if (!s)
        return false;
    sqlite3_bind_int64(s, 1, firstId);
    sqlite3_bind_int64(s, 2, lastId);
    return rowsById(s, sink);
}

bool ViewerSampleReader::serials(QList<QByteArray>* out)
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
    SqliteStatement s(handle(), sql);
    if (!s.isValid())
        return fail("prepare");
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        out->append(QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0)),
                               sqlite3_column_bytes(s.get(), 0)));
    return rc == SQLITE_DONE || fail("step");
}

bool ViewerSampleReader::nodeRowsWithin(const QByteArray& serial, qint64 from, qint64 to,
                                        qint64 firstId, qint64 lastId, const StoredRowSink& sink)
{
    // "+id" keeps the planner on the range index: the id range is a filter here, not the way in.
    return nodeRowsOfIds("serialno = ?1 and pointDate between ?2 and ?3 and +id between ?4 and ?5",
                         serial, from, to, firstId, lastId, sink);
}

bool ViewerSampleReader::bucketMarks(QList<QByteArray>* serials, std::vector<BucketMark>* out)
{
    // The summary's own key order: no sorting.
    const QByteArray sql = "select serialno, bucket, rowCount, dirty from " +
                           SampleTable::summaryName().toUtf8() + " order by serialno, bucket";
    SqliteStatement s(handle(), sql);
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

bool ViewerSampleReader::idDigest(qint64 firstId, qint64 lastId, IdDigest* out)
{
    // Plain aggregates only: a function or a case per row would make the check of a month of
    // rows cost as much as reading them.
    const char* sql =
        "select count(*), sum(id), sum(pointDate), min(pointDate), max(pointDate), "
        "total(cast(channel1 * 100 as integer)), total(cast(channel2 * 100 as "
        "integer)), total(length(serialno)) from quorbinal where id between ?1 and ?2";
    sqlite3_stmt* s = kept(sql);
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

void ViewerSampleReader::IdDigest::add(const StoredRow& row)
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

void ViewerSampleReader::IdDigest::merge(const IdDigest& other)
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

bool ViewerSampleReader::IdDigest::operator==(const IdDigest& other) const
{
    return count == other.count && idSum == other.idSum && timeSum == other.timeSum &&
           valueSum[0] == other.valueSum[0] && valueSum[1] == other.valueSum[1] &&
           serialSum == other.serialSum &&
           (count == 0 || (firstTime == other.firstTime && lastTime == other.lastTime));
}

bool ViewerSampleReader::schemaText(QByteArray* out)
{
    SqliteStatement s(handle(),
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

qint64 ViewerSampleReader::changeGeneration()
{
    if (!hasSummary())
        return 0;
    const QByteArray sql =
        QByteArray("select value from ") + SampleTable::stateName().toUtf8() + " where name = ?";
    SqliteStatement s(handle(), sql);
    if (!s.isValid())
        return 0;
    const QByteArray name = SampleTable::changeGenerationName().toUtf8();
    bindText(s.get(), 1, name);
    return sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int64(s.get(), 0) : 0;
}

bool ViewerSampleReader::changedBuckets(std::vector<ChangedBucket>* out)
{
    out->clear();
    if (changeGeneration() == 0)
        return false;
    const QByteArray sql = QByteArray("select serialno, bucket, changeCount from ") +
                           SampleTable::changesName().toUtf8() +
                           " where changeCount <> 0 order by serialno, bucket";
    SqliteStatement s(handle(), sql);
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
