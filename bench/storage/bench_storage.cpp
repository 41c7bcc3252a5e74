// Storage benchmark: prints figures, asserts nothing.
//  1. Sustained insert rate of InsertSerialData with 16-record flushes against a bare sqlite3
//     loop of prepared inserts, 16 rows per transaction, same pragmas, same run: on the table
//     alone (as files were made before the index), with the range index (as the previous
//     version made them), and with the index and the summary kept by its trigger (as they are
//     made now); and what the trigger costs against the index alone.
//  2. Memory held by SQLite over a long recording, for the writer and for a bare connection with
//     the same pragmas and the same schema.
//  3. The recorded period, startDateTime() + endDateTime(), on a generated file of 16 nodes at
//     1 s (7 days: 9.7 million rows): without the index (the scans the recorder ran before) and
//     with it, the file in the page cache and evicted from it; the time to build the index, and
//     then the summary with IndexBuilder.
//  4. What the index and the summary add to that file: built in one go, and after appends by the
//     writer.
//  5. The writer's insert rate with the samples sealed (a seal of the quarter hour written every
//     900 flushes, each flush looking up whether its quarter was sealed) against the same
//     writer without seals, alternating in the same run.
//  6. The writer's insert rate keeping the kinetic sums (as new files are made) against the same
//     writer on a file without their table (as before them), alternating in the same run.
// Usage: bench_storage [flushes per run, default 1500] [days of the large file, default 7]
//                      ... or: bench_storage [flushes] kinetic  (part 6 alone)
//                      [flushes of the memory run, default 9000]
//                      [seconds appended to the large file, default 86400]

#include "indexbuilder.h"
#include "insertserialdata.h"
#include "kinetictable.h"
#include "sampledatabasegenerator.h"
#include "sampleseal.h"
#include "sampletable.h"
#include "writejob.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
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
#include <map>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr int RecordsPerFlush = 16;
constexpr int Rounds = 3;

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

const QByteArray& indexStatement()
{
    static const QByteArray statement = SampleTable::createIndexStatement().toUtf8();
    return statement;
}

double msSince(const QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e6;
}

// What a file holds beside the table: nothing (as earlier recorders made it), the range index
// (as the previous version made it), or the index and the summary with its trigger (as new
// files are made now).
enum class Schema
{
    Table,
    Index,
    Summary
};

// The writer's side: queue 16 records, flush, repeated.
class WriterRun
{
public:
    WriterRun(const QString& path, Schema schema, bool sealed = false, bool kinetic = true)
        : name(QUuid::createUuid().toString(QUuid::WithoutBraces)), writer(path, name),
          sealing(sealed)
    {
        bool ready = writer.createConnection();
        QSqlQuery drop(QSqlDatabase::database(name + QStringLiteral("filedb"), false));
        if (ready && !kinetic)
            ready = drop.exec(QStringLiteral("drop table ") + KineticTable::name());
        for (const QString& trigger : SampleTable::triggerNames()) {
            if (ready && schema != Schema::Summary)
                ready = drop.exec(QStringLiteral("drop trigger ") + trigger);
        }
        if (ready && schema != Schema::Summary)
            ready = drop.exec(QStringLiteral("drop table ") + SampleTable::summaryName());
        if (ready && schema == Schema::Table)
            ready = drop.exec(QStringLiteral("drop index ") + SampleTable::indexName());
        if (!ready || writer.hasIndex() != (schema != Schema::Table) ||
            writer.hasSummary() != (schema == Schema::Summary) || writer.hasKinetic() != kinetic) {
            std::fprintf(stderr, "writer: cannot prepare %s\n", qPrintable(path));
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
            const qint64 second = 1700000000 + done;
            // The recorder's seal of the quarter that has just ended, in order with the samples.
            if (sealing && second % SampleSeal::QuarterSeconds == 0)
                writer.queueJob(WriteJob::sampleSeal(SampleSeal::quarterOfSeconds(second) - 1,
                                                     second * 1000),
                                0);
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
    bool sealing;
    QString nodes[RecordsPerFlush];
    int done = 0;
};

// The baseline: a prepared insert, 16 rows per transaction, the writer's pragmas and schema.
class BareRun
{
public:
    BareRun(const QString& path, Schema schema)
    {
        const bool indexed = schema != Schema::Table;
        const bool summary = schema == Schema::Summary;
        const bool ready =
            sqlite3_open_v2(path.toUtf8().constData(), &db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK &&
            exec(db, "PRAGMA busy_timeout = 2000") && exec(db, "PRAGMA page_size = 4096") &&
            exec(db, "PRAGMA cache_size = 65536") && exec(db, "PRAGMA journal_mode = WAL") &&
            exec(db, SampleTable::createStatement().toUtf8().constData()) &&
            (!indexed || exec(db, indexStatement().constData())) &&
            (!summary || exec(db, SampleTable::createSummaryStatements()
                                      .join(QLatin1Char(';'))
                                      .toUtf8()
                                      .constData())) &&
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

struct InsertRates
{
    double writer = 0; // records per second
    double bare = 0;
    double medianBlockRatio = 0;
    size_t blocks = 0;
};

constexpr int Block = 50;

// Both sides run in alternating blocks, so that both meet the same disk load of the machine:
// `first` as the writer, `second` as the baseline.
template <typename First, typename Second>
InsertRates alternate(First& first, Second& second, int flushes)
{
    double firstSeconds = 0;
    double secondSeconds = 0;
    std::vector<double> blockRatios;
    for (int done = 0; done < flushes; done += Block) {
        const int n = std::min(Block, flushes - done);
        const double a = first.flush(n);
        const double b = second.flush(n);
        firstSeconds += a;
        secondSeconds += b;
        blockRatios.push_back(b / a);
    }
    std::sort(blockRatios.begin(), blockRatios.end());
    const double records = double(flushes) * RecordsPerFlush;
    return {records / firstSeconds, records / secondSeconds, blockRatios[blockRatios.size() / 2],
            blockRatios.size()};
}

// Both sides run in alternating blocks, so that both meet the same disk load of the machine.
InsertRates insertRate(const QTemporaryDir& dir, int flushes, Schema schema)
{
    const QString suffix = schema == Schema::Table   ? QStringLiteral(".dat")
                           : schema == Schema::Index ? QStringLiteral("-indexed.dat")
                                                     : QStringLiteral("-summary.dat");
    WriterRun writer(dir.filePath(QStringLiteral("writer") + suffix), schema);
    BareRun bare(dir.filePath(QStringLiteral("bare") + suffix), schema);
    if (schema == Schema::Table) {
        std::printf("   writer settings: %s\n", qPrintable(writer.settings()));
        std::printf("   bare settings:   %s\n", qPrintable(bare.settings()));
    }
    return alternate(writer, bare, flushes);
}

void insertRates(const QTemporaryDir& dir, int flushes)
{
    std::printf("== Sustained insert rate: %d flushes of %d records per side, alternating in "
                "blocks of 50\n",
                flushes, RecordsPerFlush);
    const InsertRates table = insertRate(dir, flushes, Schema::Table);
    const InsertRates index = insertRate(dir, flushes, Schema::Index);
    const InsertRates summary = insertRate(dir, flushes, Schema::Summary);
    const InsertRates* runs[] = {&table, &index, &summary};
    auto row = [&runs](const char* label, const char* format, auto value) {
        std::printf("%-46s", label);
        for (const InsertRates* run : runs)
            std::printf(format, value(*run));
        std::printf("\n");
    };
    std::printf("%-46s %20s %20s %20s\n", "", "table alone", "with the index", "index + summary");
    row("InsertSerialData (16-record flushes):", " %14.0f rec/s",
        [](const InsertRates& r) { return r.writer; });
    row("bare sqlite3 prepared inserts (16 per txn):", " %14.0f rec/s",
        [](const InsertRates& r) { return r.bare; });
    row("writer ms per flush:", " %20.3f",
        [](const InsertRates& r) { return 1000.0 * RecordsPerFlush / r.writer; });
    row("bare ms per flush:", " %20.3f",
        [](const InsertRates& r) { return 1000.0 * RecordsPerFlush / r.bare; });
    row("ratio writer / bare, overall:", " %20.2f",
        [](const InsertRates& r) { return r.writer / r.bare; });
    row("ratio writer / bare, median block:", " %20.2f",
        [](const InsertRates& r) { return r.medianBlockRatio; });
    auto msPerFlush = [](double rate) { return 1000.0 * RecordsPerFlush / rate; };
    std::printf("the summary's trigger against the index alone: writer %+.3f ms per flush (%+.1f "
                "us per row), bare %+.3f ms per flush (%+.1f us per row); writer with the "
                "summary / bare with the index alone: %.2f\n",
                msPerFlush(summary.writer) - msPerFlush(index.writer),
                1000.0 * (msPerFlush(summary.writer) - msPerFlush(index.writer)) / RecordsPerFlush,
                msPerFlush(summary.bare) - msPerFlush(index.bare),
                1000.0 * (msPerFlush(summary.bare) - msPerFlush(index.bare)) / RecordsPerFlush,
                summary.writer / index.bare);
    std::printf("(target with index + summary: at least 0.50 against the bare loop on the same "
                "schema)\n\n");
}

void sealingRates(const QTemporaryDir& dir, int flushes)
{
    WriterRun sealed(dir.filePath(QStringLiteral("sealed.dat")), Schema::Summary, true);
    WriterRun unsealed(dir.filePath(QStringLiteral("unsealed.dat")), Schema::Summary);
    const InsertRates rates = alternate(sealed, unsealed, flushes);
    std::printf("== Sealing: %d flushes of %d records per side (%d quarters sealed), index + "
                "summary, alternating in blocks of %d\n",
                flushes, RecordsPerFlush, flushes / int(SampleSeal::QuarterSeconds), Block);
    std::printf("   writer, samples sealed:     %10.0f rec/s (%.3f ms per flush)\n",
                rates.writer, 1000.0 * RecordsPerFlush / rates.writer);
    std::printf("   writer, without seals:      %10.0f rec/s (%.3f ms per flush)\n",
                rates.bare, 1000.0 * RecordsPerFlush / rates.bare);
    std::printf("   ratio sealed / without: overall %.2f, median block %.2f (target: within "
                "noise)\n\n",
                rates.writer / rates.bare, rates.medianBlockRatio);
}

void kineticRates(const QTemporaryDir& dir, int flushes)
{
    WriterRun kept(dir.filePath(QStringLiteral("kinetic.dat")), Schema::Summary);
    WriterRun without(dir.filePath(QStringLiteral("without-kinetic.dat")), Schema::Summary, false,
                      false);
    const InsertRates rates = alternate(kept, without, flushes);
    std::printf("== Kinetic sums: %d flushes of %d records per side, index + summary, "
                "alternating in blocks of %d\n",
                flushes, RecordsPerFlush, Block);
    std::printf("   writer, kinetic sums kept:  %10.0f rec/s (%.3f ms per flush)\n", rates.writer,
                1000.0 * RecordsPerFlush / rates.writer);
    std::printf("   writer, without their table: %9.0f rec/s (%.3f ms per flush)\n", rates.bare,
                1000.0 * RecordsPerFlush / rates.bare);
    std::printf("   ratio kept / without: overall %.2f, median block %.2f (target: within "
                "noise)\n\n",
                rates.writer / rates.bare, rates.medianBlockRatio);
}

// SQLite's own heap (every connection of the process) after warmUp flushes and at the end of a
// run of flushes in total. Each side runs alone on its own file, so the figures are its own.
template <typename Run> void heapGrowth(const char* label, Run& run, int warmUp, int flushes)
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
                "h), growth after the first %d flushes, with the index and the summary\n",
                flushes, RecordsPerFlush, flushes * RecordsPerFlush, flushes / 3600.0, warmUp);
    {
        WriterRun writer(dir.filePath(QStringLiteral("writer-memory.dat")), Schema::Summary);
        heapGrowth("InsertSerialData:", writer, warmUp, flushes);
    }
    {
        BareRun bare(dir.filePath(QStringLiteral("bare-memory.dat")), Schema::Summary);
        heapGrowth("bare sqlite3, same pragmas and schema:", bare, warmUp, flushes);
    }
    std::printf("(target for the writer: growth below 1024 KiB)\n\n");
}

// Pages of the file in the operating system's page cache, and in all.
std::pair<long, long> residentPages(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return {0, 0};
    const off_t size = ::lseek(fd, 0, SEEK_END);
    const long page = ::sysconf(_SC_PAGESIZE);
    const long pages = static_cast<long>((size + page - 1) / page);
    long resident = 0;
    if (size > 0) {
        void* map = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
        if (map != MAP_FAILED) {
            std::vector<unsigned char> flags(static_cast<size_t>(pages));
            if (::mincore(map, static_cast<size_t>(size), flags.data()) == 0)
                resident = static_cast<long>(std::count_if(flags.begin(), flags.end(),
                                                           [](unsigned char f) { return f & 1; }));
            ::munmap(map, static_cast<size_t>(size));
        }
    }
    ::close(fd);
    return {resident, pages};
}

// Drops the file and its write-ahead log from the page cache: written back first, since dirty
// pages cannot be dropped. Returns the pages of the file still cached afterwards.
long evict(const QString& path)
{
    for (const QString& file : QStringList{path, path + QStringLiteral("-wal")}) {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
    return residentPages(path).first;
}

struct PeriodRound
{
    double openMs = 0;
    double periodMs = 0; // startDateTime() + endDateTime()
    quint32 start = 0;
    quint32 end = 0;
    long residentAfterEviction = -1;
};

// Opens the file as the recorder does and asks for the recorded period.
PeriodRound periodRound(const QString& path, bool cold)
{
    PeriodRound round;
    if (cold)
        round.residentAfterEviction = evict(path);
    InsertSerialData writer(path, QUuid::createUuid().toString(QUuid::WithoutBraces));
    QElapsedTimer timer;
    timer.start();
    if (!writer.createConnection()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        std::exit(1);
    }
    round.openMs = msSince(timer);
    timer.start();
    round.start = writer.startDateTime();
    round.end = writer.endDateTime();
    round.periodMs = msSince(timer);
    return round;
}

// Bytes of each b-tree of the file, by name (table, index, sqlite_master...).
std::map<QString, qint64> btreeBytes(const QString& path)
{
    std::map<QString, qint64> bytes;
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
            SQLITE_OK &&
        sqlite3_prepare_v2(db, "select name, sum(pgsize) from dbstat group by name", -1, &stmt,
                           nullptr) == SQLITE_OK)
        while (sqlite3_step(stmt) == SQLITE_ROW)
            bytes[QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)))] =
                sqlite3_column_int64(stmt, 1);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return bytes;
}

double percent(qint64 part, qint64 whole)
{
    return whole > 0 ? 100.0 * double(part) / double(whole) : 0;
}

QString periodText(const PeriodRound& round)
{
    return QDateTime::fromSecsSinceEpoch(round.start)
               .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
           QStringLiteral(" to ") +
           QDateTime::fromSecsSinceEpoch(round.end).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// Rounds of the recorded period, warm then cold, on the file as it is.
std::vector<PeriodRound> periodRounds(const QString& path)
{
    std::vector<PeriodRound> rounds;
    for (bool cold : {false, true})
        for (int round = 0; round < Rounds; ++round)
            rounds.push_back(periodRound(path, cold));
    return rounds;
}

void recordedPeriod(const QString& path, int days)
{
    const qint64 rows = qint64(days) * 86400 * SampleDatabaseGenerator::MaxNodes;
    std::printf("== Recorded period on the %d-day file (%lld rows, %lld bytes): the writer opened "
                "as the recorder opens it, then startDateTime() + endDateTime()\n",
                days, rows, static_cast<long long>(QFileInfo(path).size()));
    const std::vector<PeriodRound> before = periodRounds(path);

    // The builder's two steps timed apart: the index alone first, then the builder finds it and
    // adds the summary.
    QElapsedTimer timer;
    timer.start();
    sqlite3* db = nullptr;
    const bool indexed = sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK &&
                         exec(db, indexStatement().constData());
    sqlite3_close(db);
    const double indexMs = msSince(timer);
    timer.start();
    IndexBuilder builder(path);
    builder.start();
    builder.wait();
    const double summaryMs = msSince(timer);
    const std::vector<PeriodRound> after = periodRounds(path);

    std::printf("   period found: before %s, after %s\n", qPrintable(periodText(before.front())),
                qPrintable(periodText(after.front())));
    std::printf("   built with nothing else running: the index %.0f ms (%s), then the summary by "
                "IndexBuilder %.0f ms (%s); in all %.0f ms\n",
                indexMs, indexed ? "ok" : "FAILED", summaryMs,
                builder.indexReady() && builder.summaryReady() ? "ok" : "FAILED",
                indexMs + summaryMs);
    std::printf("   %-12s %28s %28s\n", "", "before (no index: scans)",
                "after (through the index)");
    std::printf("   %-12s %13s %14s %13s %14s\n", "round", "open ms", "period ms", "open ms",
                "period ms");
    for (size_t i = 0; i < before.size(); ++i)
        std::printf("   %-12s %13.1f %14.1f %13.1f %14.1f\n",
                    qPrintable((i < Rounds ? QStringLiteral("warm ") : QStringLiteral("cold ")) +
                               QString::number(i % Rounds + 1)),
                    before[i].openMs, before[i].periodMs, after[i].openMs, after[i].periodMs);
    const auto [resident, pages] = residentPages(path);
    std::printf("   cold: before the writer opens the file, fdatasync and "
                "posix_fadvise(POSIX_FADV_DONTNEED) on it and its -wal; pages left in the page "
                "cache: before %ld, after %ld (of %ld; mincore)\n",
                before.back().residentAfterEviction, after.back().residentAfterEviction,
                std::max(pages, resident));
    std::printf("(target after: period under 10 ms, cold included)\n\n");
}

// Appends `seconds` seconds of 16 nodes after the file's last sample through the writer, in
// the recorder's 16-record flushes. Without syncing: the pages written are the same, and a day
// of flushes takes seconds instead of the recorder's day.
double appendSamples(const QString& path, int seconds)
{
    const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces);
    InsertSerialData writer(path, name);
    if (!writer.createConnection() || !writer.hasIndex() || !writer.hasSummary() ||
        !QSqlQuery(QSqlDatabase::database(name + QStringLiteral("filedb"), false))
             .exec(QStringLiteral("PRAGMA synchronous = OFF"))) {
        std::fprintf(stderr, "cannot append to %s\n", qPrintable(path));
        std::exit(1);
    }
    const quint32 last = writer.endDateTime();
    QElapsedTimer timer;
    timer.start();
    for (int s = 1; s <= seconds; ++s) {
        for (int n = 0; n < SampleDatabaseGenerator::MaxNodes; ++n) {
            SampleRecord r;
            r.deviceNumber = SampleDatabaseGenerator::serialOf(n);
            r.channel1 = channelValue(s, n, 1);
            r.channel2 = channelValue(s, n, 2);
            r.pointDate = last + static_cast<quint32>(s);
            writer.queueSample(r);
        }
        writer.insertNow();
    }
    return timer.nsecsElapsed() / 1e9;
}

void indexSize(const QString& bare, const QString& indexed, int appendSeconds)
{
    std::printf("== File size: what the index and the summary add\n");
    const qint64 bareBytes = QFileInfo(bare).size();
    const qint64 indexedBytes = QFileInfo(indexed).size();
    auto trees = btreeBytes(indexed);
    const QString table = QStringLiteral("quorbinal");
    const QString index = SampleTable::indexName();
    const QString summary = SampleTable::summaryName();
    std::printf("   built in one go: file %lld -> %lld bytes, +%lld bytes (+%.1f%%); table %lld "
                "bytes, index %lld bytes (%.1f%% of the table), summary %lld bytes (%.2f%% of the "
                "table)\n",
                static_cast<long long>(bareBytes), static_cast<long long>(indexedBytes),
                static_cast<long long>(indexedBytes - bareBytes),
                percent(indexedBytes - bareBytes, bareBytes), static_cast<long long>(trees[table]),
                static_cast<long long>(trees[index]), percent(trees[index], trees[table]),
                static_cast<long long>(trees[summary]), percent(trees[summary], trees[table]));

    const double seconds = appendSamples(indexed, appendSeconds);
    const qint64 appendedBytes = QFileInfo(indexed).size();
    const auto grown = btreeBytes(indexed);
    const qint64 tableGrowth = grown.at(table) - trees[table];
    const qint64 indexGrowth = grown.at(index) - trees[index];
    const qint64 summaryGrowth = grown.at(summary) - trees[summary];
    std::printf("   then %d s of 16 nodes appended by the writer (%d rows in 16-record flushes, "
                "%.1f s, %.0f rows/s): file %lld bytes, +%lld bytes\n",
                appendSeconds, appendSeconds * SampleDatabaseGenerator::MaxNodes, seconds,
                appendSeconds * SampleDatabaseGenerator::MaxNodes / seconds,
                static_cast<long long>(appendedBytes),
                static_cast<long long>(appendedBytes - indexedBytes));
    std::printf("   appended part: table +%lld bytes, index +%lld bytes (%.1f%% of the table's "
                "growth), summary +%lld bytes (%.2f%%); whole file: table %lld, index %lld bytes "
                "(%.1f%%), summary %lld bytes (%.2f%%)\n\n",
                static_cast<long long>(tableGrowth), static_cast<long long>(indexGrowth),
                percent(indexGrowth, tableGrowth), static_cast<long long>(summaryGrowth),
                percent(summaryGrowth, tableGrowth), static_cast<long long>(grown.at(table)),
                static_cast<long long>(grown.at(index)), percent(grown.at(index), grown.at(table)),
                static_cast<long long>(grown.at(summary)),
                percent(grown.at(summary), grown.at(table)));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Traces are formatted as in the recorder but not printed: terminal output is not the writer.
    qInstallMessageHandler(dropDebugTraces);
    const int flushes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1500;
    const int days = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const int memoryFlushes = argc > 3 ? std::max(2, std::atoi(argv[3])) : 9000;
    const int appendSeconds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 86400;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    std::printf("sqlite3 library %s, files in %s\n\n", sqlite3_libversion(),
                qPrintable(dir.path()));
    // `kinetic` alone: the writer with and without the kinetic sums, then stop.
    if (argc > 1 && QByteArray(argv[argc - 1]) == "kinetic") {
        kineticRates(dir, std::max(flushes, 9000));
        return 0;
    }
    insertRates(dir, flushes);
    sealingRates(dir, std::max(flushes, 9000));
    kineticRates(dir, std::max(flushes, 9000));
    memoryGrowth(dir, memoryFlushes);

    const QString project = dir.filePath(QStringLiteral("large.tpc"));
    const QString indexed = dir.filePath(QStringLiteral("large-indexed.dat"));
    QElapsedTimer timer;
    timer.start();
    const qint64 first = QDateTime(QDate(2026, 1, 1), QTime(0, 0)).toSecsSinceEpoch();
    const SampleDatabaseGenerator::Result made = SampleDatabaseGenerator::generate(
        SampleDatabaseGenerator::unbrokenRecording(project, first, days));
    const QString bare = made.databasePath;
    if (!made.ok || !QFile::copy(bare, indexed)) {
        std::fprintf(stderr, "cannot generate %s\n", qPrintable(project));
        return 1;
    }
    std::printf("(%d-day file generated and copied in %.1f s)\n", days, timer.nsecsElapsed() / 1e9);
    recordedPeriod(indexed, days);
    indexSize(bare, indexed, appendSeconds);
    return 0;
}
