#include "samplereader.h"

#include "novalue.h"

#include <sqlite3.h>

namespace {

double valueOf(sqlite3_stmt* statement, int column)
{
    return sqlite3_column_type(statement, column) == SQLITE_NULL
               ? NoValue
               : sqlite3_column_double(statement, column);
}

// The buckets of one node from a bucket to a bucket (both included), in order: bind the serial
// number to 1, the first and the last bucket to 2 and 3, and read each row with readBucket().
QString summaryQuery()
{
    return QStringLiteral("select bucket, rowCount, dirty, count1, sum1, min1, minTime1, max1, "
                          "maxTime1, count2, sum2, min2, minTime2, max2, maxTime2 from "
                          "quorbinal_summary where serialno = ? and bucket between ? and ? order "
                          "by bucket");
}

void readBucket(sqlite3_stmt* statement, SampleTable::Bucket* bucket)
{
    bucket->bucket = sqlite3_column_int64(statement, 0);
    bucket->rows = sqlite3_column_int64(statement, 1);
    bucket->dirty = sqlite3_column_int(statement, 2) != 0;
    for (int c = 0; c < 2; ++c) {
        SampleTable::Figures& f = bucket->channel[c];
        const int first = 3 + 6 * c;
        f.count = sqlite3_column_int64(statement, first);
        f.sum = sqlite3_column_double(statement, first + 1);
        f.min = sqlite3_column_double(statement, first + 2);
        f.minTime = sqlite3_column_int64(statement, first + 3);
        f.max = sqlite3_column_double(statement, first + 4);
        f.maxTime = sqlite3_column_int64(statement, first + 5);
    }
}

} // namespace

bool SampleReader::readSummary(const QString& serial, qint64 first, qint64 last,
                               const BucketSink& sink)
{
    SqliteStatement s(handle(), summaryQuery().toUtf8());
    if (!s.isValid())
        return fail(nullptr);
    const QByteArray utf8 = serial.toUtf8();
    bindText(s.get(), 1, utf8);
    sqlite3_bind_int64(s.get(), 2, first);
    sqlite3_bind_int64(s.get(), 3, last);
    SampleTable::Bucket bucket;
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        readBucket(s.get(), &bucket);
        sink(bucket);
    }
    return rc == SQLITE_DONE || fail(nullptr);
}

bool SampleReader::readKinetic(const QString& serial, qint64 first, qint64 last,
                               const KineticSink& sink)
{
    // The summary's columns as summaryQuery() has them, then the sums' from column 15 on.
    const QByteArray sql =
        QByteArray("select s.bucket, s.rowCount, s.dirty, s.count1, s.sum1, s.min1, s.minTime1, "
                   "s.max1, s.maxTime1, s.count2, s.sum2, s.min2, s.minTime2, s.max2, "
                   "s.maxTime2, ") +
        KineticTable::columns(QStringLiteral("k.")).toUtf8() +
        " from quorbinal_summary s left join quorbinal_kinetic k on k.serialno = s.serialno and "
        "k.bucket = s.bucket where s.serialno = ? and s.bucket between ? and ? order by s.bucket";
    SqliteStatement s(handle(), sql);
    if (!s.isValid())
        return fail(nullptr);
    const QByteArray utf8 = serial.toUtf8();
    bindText(s.get(), 1, utf8);
    sqlite3_bind_int64(s.get(), 2, first);
    sqlite3_bind_int64(s.get(), 3, last);
    SampleTable::Bucket bucket;
    KineticTable::Row sums;
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        readBucket(s.get(), &bucket);
        const bool has = KineticTable::read(s.get(), 15, &sums);
        sink(bucket, has ? &sums : nullptr);
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
        if (!stream.statement.prepare(handle(), sql))
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
    SqliteStatement s(handle(), channelQuery(columns).toUtf8());
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
