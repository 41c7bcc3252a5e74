// Usage: bench_reportgen [days...] [--dir DIR] [--keep]
// For each number of days (default 1 and 7), generates a sample database of 16 nodes at a 1 s
// interval, then times the statistics worker on the last full day with 4 channels, beside the
// time of the same four queries run by the sqlite3 command-line program on the same file:
// first on the file as earlier recorders left it, then after building the recorder's index.
#include "generateaveragequeries.h"
#include "reporttables.h"
#include "sampledatabase.h"
#include "sampletable.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <sqlite3.h>

namespace {

constexpr int kNodes = SampleDatabase::Nodes;
const QString kFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

const QStringList kKeys{QStringLiteral("N1000_channel1|a"), QStringLiteral("N1000_channel2|b"),
                        QStringLiteral("N1001_channel1|c"), QStringLiteral("N1002_channel2|d")};

struct WorkerTimes
{
    double total = 0;
    double queries = 0;
    int samples = 0;
    bool ok = false;
};

WorkerTimes runWorker(ReportTables* tables, const QString& path, qint64 start, qint64 end)
{
    GenerateAverageQueries worker(QStringLiteral("bench"), path, QString(),
                                  QDateTime::fromSecsSinceEpoch(start).toString(kFormat),
                                  QDateTime::fromSecsSinceEpoch(end).toString(kFormat), kKeys,
                                  tables);
    WorkerTimes times;
    QElapsedTimer clock;
    QObject::connect(
        &worker, &GenerateAverageQueries::wholeCount, &worker,
        [&](int count) {
            times.queries = clock.nsecsElapsed() / 1e6;
            times.samples = count;
        },
        Qt::DirectConnection);
    QObject::connect(
        &worker, &GenerateAverageQueries::done, &worker, [&] { times.ok = true; },
        Qt::DirectConnection);
    clock.start();
    worker.start(QThread::LowPriority);
    worker.wait();
    times.total = clock.nsecsElapsed() / 1e6;
    return times;
}

double runSqlite3(const QString& program, const QString& path, qint64 start, qint64 end)
{
    // The worker's own statements, with its three bound values written in.
    QString script;
    for (const QString& key : kKeys) {
        const QString channel = key.section(QLatin1Char('|'), 0, 0);
        const int cut = channel.lastIndexOf(QLatin1Char('_'));
        const QStringList values{QLatin1Char('\'') + channel.left(cut) + QLatin1Char('\''),
                                 QString::number(start), QString::number(end)};
        QString text = GenerateAverageQueries::sampleQuery(channel.mid(cut + 1));
        for (const QString& value : values)
            text.replace(text.indexOf(QLatin1Char('?')), 1, value);
        script += text + QLatin1Char('\n');
    }
    QProcess sqlite;
    sqlite.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    sqlite.start(program, {QStringLiteral("-batch"), path});
    sqlite.write(script.toUtf8());
    sqlite.closeWriteChannel();
    sqlite.waitForFinished(-1);
    return clock.nsecsElapsed() / 1e6;
}

bool buildIndex(const QString& path)
{
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK &&
              sqlite3_exec(db, SampleTable::createIndexStatement().toUtf8().constData(), nullptr,
                           nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// Best of three rounds of the worker and of the sqlite3 program, after one warming read.
bool measure(const QString& label, const QString& sqliteProgram, const QString& path, qint64 start,
             qint64 end)
{
    runSqlite3(sqliteProgram, path, start, end);
    double bestWorker = 1e18, bestQueries = 1e18, bestSqlite = 1e18;
    ReportTables tables;
    int samples = 0;
    for (int round = 0; round < 3; ++round) {
        const WorkerTimes w = runWorker(&tables, path, start, end);
        if (!w.ok) {
            out() << "worker failed\n";
            return false;
        }
        samples = w.samples;
        bestWorker = qMin(bestWorker, w.total);
        bestQueries = qMin(bestQueries, w.queries);
        bestSqlite = qMin(bestSqlite, runSqlite3(sqliteProgram, path, start, end));
    }
    out() << "  " << label << ": samples read " << samples << ", hourly rows "
          << tables.periodRows.size() << ", sample rows " << tables.sampleRows.size() << '\n';
    out() << QStringLiteral("    worker %1 ms (queries %2 ms, averaging %3 ms); sqlite3 %4 ms; "
                            "ratio worker/sqlite3 %5, queries/sqlite3 %6\n")
                 .arg(bestWorker, 0, 'f', 1)
                 .arg(bestQueries, 0, 'f', 1)
                 .arg(bestWorker - bestQueries, 0, 'f', 1)
                 .arg(bestSqlite, 0, 'f', 1)
                 .arg(bestWorker / bestSqlite, 0, 'f', 2)
                 .arg(bestQueries / bestSqlite, 0, 'f', 2);
    out().flush();
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QList<int> dayCounts;
    QString folder;
    bool keep = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--dir") && i + 1 < args.size())
            folder = args.at(++i);
        else if (args.at(i) == QLatin1String("--keep"))
            keep = true;
        else if (args.at(i).toInt() > 0)
            dayCounts.append(args.at(i).toInt());
    }
    if (dayCounts.isEmpty())
        dayCounts = {1, 7};
    QTemporaryDir temporary;
    if (folder.isEmpty())
        folder = temporary.path();
    temporary.setAutoRemove(!keep);

    const QString sqliteProgram = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (sqliteProgram.isEmpty()) {
        out() << "bench_reportgen: the sqlite3 program is needed for the baseline\n";
        return 1;
    }
    // Quiet: the worker traces every query and period.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));

    const qint64 first =
        QDateTime::fromString(QStringLiteral("2026-01-01 00:00:00"), kFormat).toSecsSinceEpoch();
    out() << "report worker: 24 h, 4 channels, 16 nodes at 1 s; times in ms (best of 3)\n";
    for (int days : dayCounts) {
        const QString path = folder + QStringLiteral("/bench_%1d.dat").arg(days);
        QElapsedTimer clock;
        clock.start();
        if (!SampleDatabase::generate(path, first, days)) {
            out() << "cannot generate " << path << '\n';
            return 1;
        }
        const qint64 rows = qint64(days) * 86400 * kNodes;
        out() << days << " day(s): " << rows << " rows, " << QFileInfo(path).size() / (1024 * 1024)
              << " MiB, generated in " << clock.elapsed() << " ms\n";
        out().flush();

        const qint64 start = first + qint64(days - 1) * 86400;
        const qint64 end = start + 86399;
        if (!measure(QStringLiteral("without the index"), sqliteProgram, path, start, end))
            return 1;

        const qint64 bare = QFileInfo(path).size();
        clock.restart();
        if (!buildIndex(path)) {
            out() << "cannot build the index\n";
            return 1;
        }
        const qint64 indexed = QFileInfo(path).size();
        out() << QStringLiteral("  index built in %1 ms; file %2 -> %3 bytes, +%4 bytes (+%5%)\n")
                     .arg(clock.elapsed())
                     .arg(bare)
                     .arg(indexed)
                     .arg(indexed - bare)
                     .arg(100.0 * double(indexed - bare) / double(bare), 0, 'f', 1);
        if (!measure(QStringLiteral("with the index"), sqliteProgram, path, start, end))
            return 1;
        if (!keep)
            QFile::remove(path);
    }
    return 0;
}
