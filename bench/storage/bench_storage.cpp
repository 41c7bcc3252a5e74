// Storage benchmark: prints figures, asserts nothing.
//  1. Sustained insert rate of InsertSerialData with 16-record flushes against a bare sqlite3
//     loop of prepared inserts, 16 rows per transaction, same pragmas, same run.
//  2. Memory held by SQLite over a long recording, for the writer and for a bare connection with
//     the same pragmas.
//  3. Time to open a database of many rows and answer startDateTime()/endDateTime().
// Usage: bench_storage [flushes per run, default 1500] [rows of the large file, default 5000000]
//                      [flushes of the memory run, default 9000]

#include "insertserialdata.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int RecordsPerFlush = 16;
constexpr int Rounds = 3;
const char* const Schema =
    "create table quorbinal (\t\tid integer primary key autoincrement,\t\tserialno varchar(18) not "
    "null, \t\tchannel1 float, channel2 float, \t\tpointDate integer not null\t\t)";

const char* const NodeNames[RecordsPerFlush] = {
    "T0001", "T0002", "T0003", "T0004", "T0005", "T0006", "T0007", "T0008",
    "H1001", "H1002", "H1003", "H1004", "H1005", "H1006", "H1007", "H1008"};

// Two-decimal values as the gateways deliver them.
double channelValue(int flush, int node, int channel)
{
    return ((flush * 37 + node * 11 + channel * 5) % 9000) / 100.0 - 20.0;
}

void dropDebugTraces(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

bool exec(sqlite3* db, const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite3: %s: %s\n", sql, error ? error : "?");
        sqlite3_free(error);
        return false;
    }
    return true;
}

QString pragmaText(sqlite3* db, const char* sql)
{
    sqlite3_stmt* stmt = nullptr;
    QString value;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
        value = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    return value;
}

QString nodeName(int n)
{
    return QString::fromLatin1(NodeNames[n]);
}

// The writer's side: queue 16 records, flush, repeated.
class WriterRun
{
public:
    explicit WriterRun(const QString& path)
        : name(QUuid::createUuid().toString(QUuid::WithoutBraces)), writer(path, name)
    {
        if (!writer.createConnection()) {
            std::fprintf(stderr, "writer: createConnection failed for %s\n", qPrintable(path));
            std::exit(1);
        }
        for (int n = 0; n < RecordsPerFlush; ++n)
            nodes[n] = nodeName(n);
    }
    QString settings() const
    {
        QSqlQuery q(QSqlDatabase::database(name + QStringLiteral("filedb"), false));
        QStringList parts;
        for (const char* pragma : {"journal_mode", "synchronous", "page_size", "cache_size"}) {
            q.exec(QStringLiteral("PRAGMA ") + QLatin1String(pragma));
            parts << QLatin1String(pragma) + QLatin1Char('=') +
                         (q.next() ? q.value(0).toString() : QStringLiteral("?"));
        }
        return parts.join(QLatin1Char(' '));
    }
    // Returns the seconds taken by the next count flushes.
    double flush(int count)
    {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < count; ++i, ++done) {
            for (int n = 0; n < RecordsPerFlush; ++n) {
                SampleRecord r;
                r.deviceNumber = nodes[n];
                r.channel1 = channelValue(done, n, 1);
                r.channel2 = channelValue(done, n, 2);
                r.pointDate = 1700000000u + static_cast<quint32>(done);
                writer.queueSample(r);
            }
            writer.insertNow();
        }
        const double seconds = timer.nsecsElapsed() / 1e9;
        if (writer.pendingCount() != 0) {
            std::fprintf(stderr, "writer: %d records left in the queue\n", writer.pendingCount());
            std::exit(1);
        }
        return seconds;
    }

private:
    QString name;
    InsertSerialData writer;
    QString nodes[RecordsPerFlush];
    int done = 0;
};

// The baseline: a prepared insert, 16 rows per transaction, the writer's pragmas.
class BareRun
{
public:
    explicit BareRun(const QString& path)
    {
        const bool ready =
            sqlite3_open_v2(path.toUtf8().constData(), &db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK &&
            exec(db, "PRAGMA busy_timeout = 2000") && exec(db, "PRAGMA page_size = 4096") &&
            exec(db, "PRAGMA cache_size = 65536") && exec(db, "PRAGMA journal_mode = WAL") &&
            exec(db, Schema) &&
            sqlite3_prepare_v2(db,
                               "insert into quorbinal (serialno, channel1, channel2, pointDate) "
                               "values (?, ?, ?, ?)",
                               -1, &insert, nullptr) == SQLITE_OK;
        if (!ready) {
            std::fprintf(stderr, "bare: cannot prepare %s\n", qPrintable(path));
            std::exit(1);
        }
    }
    ~BareRun()
    {
        sqlite3_finalize(insert);
        sqlite3_close(db);
    }
    QString settings() const
    {
        QStringList parts;
        for (const char* pragma : {"journal_mode", "synchronous", "page_size", "cache_size"})
            parts << QLatin1String(pragma) + QLatin1Char('=') +
                         pragmaText(db, QByteArray(QByteArray("PRAGMA ") + pragma).constData());
        return parts.join(QLatin1Char(' '));
    }
    double flush(int count)
    {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < count; ++i, ++done) {
            exec(db, "begin");
            for (int n = 0; n < RecordsPerFlush; ++n) {
                sqlite3_bind_text(insert, 1, NodeNames[n], -1, SQLITE_STATIC);
                sqlite3_bind_double(insert, 2, channelValue(done, n, 1));
                sqlite3_bind_double(insert, 3, channelValue(done, n, 2));
                sqlite3_bind_int64(insert, 4, 1700000000 + done);
                if (sqlite3_step(insert) != SQLITE_DONE) {
                    std::fprintf(stderr, "bare: insert failed: %s\n", sqlite3_errmsg(db));
                    std::exit(1);
                }
                sqlite3_reset(insert);
            }
            exec(db, "commit");
        }
        return timer.nsecsElapsed() / 1e9;
    }

private:
    sqlite3* db = nullptr;
    sqlite3_stmt* insert = nullptr;
    int done = 0;
};

// Both sides run in alternating blocks, so that both meet the same disk load of the machine.
void insertRate(const QTemporaryDir& dir, int flushes)
{
    constexpr int Block = 50;
    std::printf("== Sustained insert rate: %d flushes of %d records per side, alternating in "
                "blocks of %d\n",
                flushes, RecordsPerFlush, Block);
    WriterRun writer(dir.filePath(QStringLiteral("writer.dat")));
    BareRun bare(dir.filePath(QStringLiteral("bare.dat")));
    std::printf("   writer settings: %s\n", qPrintable(writer.settings()));
    std::printf("   bare settings:   %s\n", qPrintable(bare.settings()));
    double writerSeconds = 0;
    double bareSeconds = 0;
    std::vector<double> blockRatios;
    for (int done = 0; done < flushes; done += Block) {
        const int n = std::min(Block, flushes - done);
        const double w = writer.flush(n);
        const double b = bare.flush(n);
        writerSeconds += w;
        bareSeconds += b;
        blockRatios.push_back(b / w);
    }
    std::sort(blockRatios.begin(), blockRatios.end());
    const double records = double(flushes) * RecordsPerFlush;
    const double w = records / writerSeconds;
    const double b = records / bareSeconds;
    std::printf(
        "InsertSerialData (16-record flushes):        %10.0f records/s  (%.3f ms per flush)\n", w,
        1000.0 * RecordsPerFlush / w);
    std::printf("bare sqlite3 prepared inserts (16 per txn): %10.0f records/s  (%.3f ms per txn)\n",
                b, 1000.0 * RecordsPerFlush / b);
    std::printf("ratio writer / bare: %.2f overall, %.2f median of %zu blocks (target at least "
                "0.50)\n\n",
                w / b, blockRatios[blockRatios.size() / 2], blockRatios.size());
}

// SQLite's own heap (every connection of the process) after warmUp flushes and at the end of a
// run of flushes in total. Each side runs alone on its own file, so the figures are its own.
template <typename Run>
void heapGrowth(const char* label, Run& run, int warmUp, int flushes)
{
    run.flush(warmUp);
    const sqlite3_int64 warm = sqlite3_memory_used();
    run.flush(flushes - warmUp);
    const sqlite3_int64 end = sqlite3_memory_used();
    std::printf("%-44s after warm-up %7.0f KiB, at the end %7.0f KiB, growth %+7.0f KiB\n", label,
                warm / 1024.0, end / 1024.0, (end - warm) / 1024.0);
}

void memoryGrowth(const QTemporaryDir& dir, int flushes)
{
    const int warmUp = std::min(1000, flushes / 2);
    std::printf("== SQLite heap over %d flushes of %d records (%d rows; 16 nodes at 1 s for %.1f "
                "h), growth after the first %d flushes\n",
                flushes, RecordsPerFlush, flushes * RecordsPerFlush, flushes / 3600.0, warmUp);
    {
        WriterRun writer(dir.filePath(QStringLiteral("writer-memory.dat")));
        heapGrowth("InsertSerialData:", writer, warmUp, flushes);
    }
    {
        BareRun bare(dir.filePath(QStringLiteral("bare-memory.dat")));
        heapGrowth("bare sqlite3, same pragmas:", bare, warmUp, flushes);
    }
    std::printf("(target for the writer: growth below 1024 KiB)\n\n");
}

// Builds the large file with the C API in one transaction, without journal or syncing: only
// its content matters. The file is left in WAL mode, as the recorder leaves it.
bool generateLargeFile(const QString& path, long long rows)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        return false;
    bool ok = exec(db, "PRAGMA page_size = 4096") && exec(db, "PRAGMA journal_mode = OFF") &&
              exec(db, "PRAGMA synchronous = OFF") && exec(db, Schema) && exec(db, "begin");
    sqlite3_stmt* insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db,
                                  "insert into quorbinal (serialno, channel1, channel2, pointDate) "
                                  "values (?, ?, ?, ?)",
                                  -1, &insert, nullptr) == SQLITE_OK;
    for (long long i = 0; ok && i < rows; ++i) {
        const int node = static_cast<int>(i % RecordsPerFlush);
        const int sample = static_cast<int>(i / RecordsPerFlush);
        sqlite3_bind_text(insert, 1, NodeNames[node], -1, SQLITE_STATIC);
        sqlite3_bind_double(insert, 2, channelValue(sample, node, 1));
        sqlite3_bind_double(insert, 3, channelValue(sample, node, 2));
        sqlite3_bind_int64(insert, 4, 1600000000LL + sample);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok = ok && exec(db, "commit") && exec(db, "PRAGMA journal_mode = WAL");
    sqlite3_close(db);
    return ok;
}

void largeFile(const QTemporaryDir& dir, long long rows)
{
    std::printf("== Opening a database of %lld rows\n", rows);
    const QString path = dir.filePath(QStringLiteral("large.dat"));
    QElapsedTimer timer;
    timer.start();
    if (!generateLargeFile(path, rows)) {
        std::fprintf(stderr, "cannot generate %s\n", qPrintable(path));
        std::exit(1);
    }
    std::printf("   generated in %.1f s, file size %.1f MB (file in the page cache: warm runs)\n",
                timer.nsecsElapsed() / 1e9, QFileInfo(path).size() / 1e6);
    for (int round = 0; round < Rounds; ++round) {
        InsertSerialData writer(path, QUuid::createUuid().toString(QUuid::WithoutBraces));
        timer.start();
        const bool opened = writer.createConnection();
        const double openMs = timer.nsecsElapsed() / 1e6;
        timer.start();
        const quint32 start = writer.startDateTime();
        const double startMs = timer.nsecsElapsed() / 1e6;
        timer.start();
        const quint32 end = writer.endDateTime();
        const double endMs = timer.nsecsElapsed() / 1e6;
        std::printf("   round %d: createConnection %s %.1f ms, startDateTime %u in %.1f ms, "
                    "endDateTime %u in %.1f ms, total %.1f ms\n",
                    round + 1, opened ? "ok" : "FAILED", openMs, start, startMs, end, endMs,
                    openMs + startMs + endMs);
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Traces are formatted as in the recorder but not printed: terminal output is not the writer.
    qInstallMessageHandler(dropDebugTraces);
    const int flushes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1500;
    const long long rows = argc > 2 ? std::max(1LL, std::atoll(argv[2])) : 5000000LL;
    const int memoryFlushes = argc > 3 ? std::max(2, std::atoi(argv[3])) : 9000;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    std::printf("sqlite3 library %s, files in %s\n\n", sqlite3_libversion(),
                qPrintable(dir.path()));
    insertRate(dir, flushes);
    memoryGrowth(dir, memoryFlushes);
    largeFile(dir, rows);
    return 0;
}
