#include "samplereader.h"

#include "novalue.h"
#include "sampletable.h"

#include <QFile>

#include <sqlite3.h>

#include <vector>

namespace {

// Finalizes a statement on every way out.
struct Statement
{
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(handle); }
    sqlite3_stmt* handle = nullptr;
};

double valueOf(sqlite3_stmt* statement, int column)
{
    return sqlite3_column_type(statement, column) == SQLITE_NULL
               ? NoValue
               : sqlite3_column_double(statement, column);
}

} // namespace

SampleReader::SampleReader(const QString& databasePath)
{
    // Read-only: a missing file fails here instead of being created.
    const int rc = sqlite3_open_v2(QFile::encodeName(databasePath).constData(), &db,
                                   SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        error = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close(db);
        db = nullptr;
        return;
    }
    // Wait for the recorder's writes instead of failing on its lock.
    sqlite3_busy_timeout(db, 5000);
}

SampleReader::~SampleReader()
{
    sqlite3_close(db);
}

bool SampleReader::exists(const char* type, const QString& name)
{
    if (!db)
        return false;
    Statement s;
    if (sqlite3_prepare_v2(db, "select 1 from sqlite_master where type = ? and name = ?", -1,
                           &s.handle, nullptr) != SQLITE_OK) {
        error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    const QByteArray utf8 = name.toUtf8();
    sqlite3_bind_text(s.handle, 1, type, -1, SQLITE_STATIC);
    sqlite3_bind_text(s.handle, 2, utf8.constData(), utf8.size(), SQLITE_STATIC);
    const int rc = sqlite3_step(s.handle);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        error = QString::fromUtf8(sqlite3_errmsg(db));
    return rc == SQLITE_ROW;
}

bool SampleReader::hasTable()
{
    return exists("table", QStringLiteral("quorbinal"));
}

bool SampleReader::hasIndex()
{
    return exists("index", SampleTable::indexName());
}

bool SampleReader::hasSummary()
{
    if (!db)
        return false;
    Statement s;
    if (sqlite3_prepare_v2(db, SampleTable::summaryPresentQuery().toUtf8().constData(), -1,
                           &s.handle, nullptr) != SQLITE_OK ||
        sqlite3_step(s.handle) != SQLITE_ROW) {
        error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    return sqlite3_column_int(s.handle, 0) == 1;
}

bool SampleReader::begin()
{
    if (db && sqlite3_exec(db, "begin", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    if (db)
        error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

void SampleReader::end()
{
    if (db)
        sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
}

bool SampleReader::readSummary(const QString& serial, qint64 first, qint64 last,
                               const BucketSink& sink)
{
    if (!db)
        return false;
    Statement s;
    const QByteArray sql = SampleTable::summaryQuery().toUtf8();
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &s.handle, nullptr) != SQLITE_OK) {
        error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    const QByteArray utf8 = serial.toUtf8();
    sqlite3_bind_text(s.handle, 1, utf8.constData(), utf8.size(), SQLITE_STATIC);
    sqlite3_bind_int64(s.handle, 2, first);
    sqlite3_bind_int64(s.handle, 3, last);
    SampleTable::Bucket bucket;
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(s.handle)) == SQLITE_ROW) {
        SampleTable::readBucket(s.handle, &bucket);
        sink(bucket);
    }
    if (rc == SQLITE_DONE)
        return true;
    error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

bool SampleReader::read(const QVector<Node>& nodes, qint64 from, qint64 to, const Sink& sink)
{
    if (!db)
        return false;
    struct Stream
    {
        Statement statement;
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
        // in this order (rowid last) without sorting.
        const QByteArray sql = QByteArray("select pointDate, ") +
                               (nodes.at(n).channel1 ? "channel1" : "null") + ", " +
                               (nodes.at(n).channel2 ? "channel2" : "null") +
                               " from quorbinal where serialno = ? and pointDate between ? and ?"
                               " order by pointDate, id";
        Stream& stream = streams[size_t(n)];
        if (sqlite3_prepare_v2(db, sql.constData(), -1, &stream.statement.handle, nullptr) !=
            SQLITE_OK) {
            error = QString::fromUtf8(sqlite3_errmsg(db));
            return false;
        }
        stream.serial = nodes.at(n).serial.toUtf8();
        sqlite3_bind_text(stream.statement.handle, 1, stream.serial.constData(),
                          stream.serial.size(), SQLITE_STATIC);
        sqlite3_bind_int64(stream.statement.handle, 2, from);
        sqlite3_bind_int64(stream.statement.handle, 3, to);
    }

    constexpr int kTurn = 256;
    for (int live = nodes.size(); live > 0;) {
        for (int n = 0; n < nodes.size(); ++n) {
            Stream& stream = streams[size_t(n)];
            sqlite3_stmt* statement = stream.statement.handle;
            for (int i = 0; stream.live && i < kTurn; ++i) {
                const int rc = sqlite3_step(statement);
                if (rc != SQLITE_ROW) {
                    if (rc != SQLITE_DONE) {
                        error = QString::fromUtf8(sqlite3_errmsg(db));
                        return false;
                    }
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
