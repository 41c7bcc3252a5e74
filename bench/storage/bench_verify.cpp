// Verification benchmark: prints figures, asserts nothing.
//  1. `Tallyforge --verify` (AuditVerifier) of a project of 16 nodes at 1 s, every quarter hour
//     sealed (30 days: 41.5 million rows, 2880 seals), against a bare scan of the same rows in
//     the same run (the reading alone, without folding or hashing); and what one seal costs the
//     writer.
//  2. The verification of a chain of 1,000,000 audit entries, against a bare read of the same
//     entries.
// Usage: bench_verify [days, default 30] [audit entries, default 1000000]
// Build it in a release build (no sanitizers): the targets are for that build.

#include "auditentry.h"
#include "audittrail.h"
#include "auditverifier.h"
#include "sampledatabasegenerator.h"
#include "sampleseal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

double secondsSince(const QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e9;
}

bool exec(sqlite3* db, const char* sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "sqlite3: %s: %s\n", sql, sqlite3_errmsg(db));
    return false;
}

// The baseline: every row (or entry) stepped and each column read, nothing else.
double bareScan(const QString& path, const char* sql, qint64* rows)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    // As the verifier reads.
    exec(db, "pragma mmap_size = 68719476736");
    QElapsedTimer timer;
    timer.start();
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    *rows = 0;
    double sum = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
        ++*rows;
        // Each value as it is stored, as the verifier reads it (never converted to text).
        for (int c = 0; c < sqlite3_column_count(s); ++c) {
            const int type = sqlite3_column_type(s, c);
            if (type == SQLITE_INTEGER || type == SQLITE_FLOAT)
                sum += sqlite3_column_double(s, c);
            else if (type != SQLITE_NULL)
                sum += sqlite3_column_bytes(s, c);
        }
    }
    sqlite3_finalize(s);
    const double seconds = secondsSince(timer);
    sqlite3_close(db);
    return sum == sum ? seconds : -1;
}

double verifyOnce(const QString& path, AuditVerifier::Result* result)
{
    AuditVerifier verifier;
    QString error;
    QElapsedTimer timer;
    timer.start();
    if (!verifier.verify(path, result, &error)) {
        std::fprintf(stderr, "verify: %s\n", qPrintable(error));
        std::exit(1);
    }
    return secondsSince(timer);
}

void printResult(const AuditVerifier::Result& result)
{
    for (const QString& line : result.checked)
        std::printf("     %s\n", qPrintable(line));
    for (const QString& line : result.findings)
        std::printf("     Finding: %s\n", qPrintable(line));
}

void samples(const QTemporaryDir& dir, int days)
{
    const QString project = dir.filePath(QStringLiteral("sealed.tpc"));
    const qint64 first = QDateTime(QDate(2026, 11, 1), QTime(0, 0)).toSecsSinceEpoch();
    QElapsedTimer timer;
    timer.start();
    SampleDatabaseGenerator::Options options =
        SampleDatabaseGenerator::unbrokenRecording(project, first, days);
    options.index = true;
    const SampleDatabaseGenerator::Result made = SampleDatabaseGenerator::generate(options);
    if (!made.ok) {
        std::fprintf(stderr, "cannot generate %s: %s\n", qPrintable(project),
                     qPrintable(made.error));
        std::exit(1);
    }
    std::printf("(%d-day file of %lld rows generated in %.1f s)\n", days, made.rows,
                secondsSince(timer));

    // Every quarter sealed as the recorder's writer seals it, a transaction per quarter.
    sqlite3* db = nullptr;
    sqlite3_open(made.databasePath.toUtf8().constData(), &db);
    const qint64 firstQuarter = SampleSeal::quarterOfSeconds(made.first);
    const qint64 lastQuarter = SampleSeal::quarterOfSeconds(made.last);
    timer.restart();
    double slowest = 0;
    for (qint64 q = firstQuarter; q <= lastQuarter; ++q) {
        QElapsedTimer one;
        one.start();
        QString error;
        if (!exec(db, "begin immediate") ||
            !SampleSeal::seal(db, q, (q + 1) * 900000, QString(), &error) ||
            !exec(db, "commit")) {
            std::fprintf(stderr, "seal: %s\n", qPrintable(error));
            std::exit(1);
        }
        slowest = std::max(slowest, secondsSince(one));
    }
    const qint64 seals = lastQuarter - firstQuarter + 1;
    const double sealing = secondsSince(timer);
    exec(db, "pragma wal_checkpoint(truncate)");
    sqlite3_close(db);
    std::printf("== Seals: %lld quarters of 16 nodes sealed in %.1f s: %.1f ms per seal on "
                "average, %.1f ms the slowest (on the writer's thread, every 15 minutes)\n",
                seals, sealing, 1000 * sealing / seals, 1000 * slowest);

    qint64 rows = 0;
    const double bare = bareScan(made.databasePath,
                                 "select id, serialno, pointDate, channel1, channel2 from "
                                 "quorbinal",
                                 &rows);
    AuditVerifier::Result result;
    const double verify = verifyOnce(made.databasePath, &result);
    const double bareAgain = bareScan(made.databasePath,
                                      "select id, serialno, pointDate, channel1, channel2 from "
                                      "quorbinal",
                                      &rows);
    std::printf("== --verify of %d days, 16 nodes at 1 s (%lld rows, %lld seals, file %.2f GB)\n",
                days, rows, seals, QFileInfo(made.databasePath).size() / 1e9);
    std::printf("   bare scan of the rows (baseline, before / after): %8.1f s / %.1f s\n", bare,
                bareAgain);
    std::printf("   AuditVerifier::verify:                              %8.1f s (%.2f x the "
                "baseline)\n",
                verify, verify / std::min(bare, bareAgain));
    std::printf("   findings: %d (target: 0, and under 30 s)\n", int(result.findings.size()));
    printResult(result);
    std::printf("\n");
}

void chain(const QTemporaryDir& dir, int entries)
{
    const QString path = dir.filePath(QStringLiteral("chain.dat"));
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    exec(db, "pragma journal_mode = wal");
    QElapsedTimer timer;
    timer.start();
    QString error;
    AuditEntry e;
    e.user = QStringLiteral("anna");
    e.action = QStringLiteral("setting changed");
    e.reason = QStringLiteral("new freezer");
    for (int i = 0; i < entries; ++i) {
        if (i % 10000 == 0 && !exec(db, "begin"))
            std::exit(1);
        e.timeMs = 1796821200000 + qint64(i) * 1000;
        e.object = QStringLiteral("T%1 channel 1 high limit").arg(i % 16 + 1, 4, 10, QLatin1Char('0'));
        e.oldValue = QString::number(i % 90 / 10.0, 'f', 2);
        e.newValue = QString::number((i + 1) % 90 / 10.0, 'f', 2);
        if (!AuditTrail::append(db, &e, &error)) {
            std::fprintf(stderr, "append: %s\n", qPrintable(error));
            std::exit(1);
        }
        if ((i + 1) % 10000 == 0 || i + 1 == entries)
            exec(db, "commit");
    }
    exec(db, "pragma wal_checkpoint(truncate)");
    sqlite3_close(db);
    std::printf("(%d entries appended in %.1f s)\n", entries, secondsSince(timer));
    qint64 rows = 0;
    const double bare = bareScan(path, "select * from audit_trail order by sequence", &rows);
    AuditVerifier::Result result;
    const double verify = verifyOnce(path, &result);
    std::printf("== --verify of a chain of %lld entries\n", rows);
    std::printf("   bare read of the entries (baseline): %8.2f s\n", bare);
    std::printf("   AuditVerifier::verify:               %8.2f s (%.2f x the baseline)\n", verify,
                verify / bare);
    std::printf("   findings: %d (target: 0, and under 5 s)\n", int(result.findings.size()));
    printResult(result);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int days = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    const int entries = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000000;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    std::printf("sqlite3 library %s, files in %s\n\n", sqlite3_libversion(),
                qPrintable(dir.path()));
    chain(dir, entries);
    std::printf("\n");
    samples(dir, days);
    return 0;
}
