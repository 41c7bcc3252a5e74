// Usage: bench_reportgen [days...] [--dir DIR] [--keep] [--reuse] [--goal-only]
// For each number of days (default 1 and 7), generates a sample database of 16 nodes at a 1 s
// interval, then times the statistics worker on the last full day with 4 channels, beside the
// time of the same four queries run by the sqlite3 command-line program on the same file:
// first on the file as earlier recorders left it, then after building the recorder's index and
// summary. From 7 days on, also times the weekly report of the first week, and from 28 days on
// the monthly report of the first month (4 channels of 4 nodes), each read from every row (as
// before the summary, and as the HACCP report reads) beside the same report from the summary,
// whether both show the same figures, and the sqlite3 program aggregating the same channels per
// day (count, sum, min, max), and the monthly report's worker as reports are made now (the period
// summary with mean kinetic temperatures, from the kinetic sums where they answer and from every
// row, with the number of figures in which the two differ) beside the summary alone, cold; a file
// without the kinetic sums gets them first, timed on its own. On the
// indexed file of 7 days or more, the statistics worker alone against the sqlite3 program counting
// and summing the same rows per channel, with the file dropped from the page cache before each run
// (cold) and without (warm), in turn.
// --reuse takes a file of the same name left by --keep; --goal-only times only the worker alone;
// --report-only only the monthly report's worker, cold.
#include "generateaveragequeries.h"
#include "generatedayqueries.h"
#include "meankinetictemperature.h"
#include "projectfile.h"
#include "reportperiod.h"
#include "reporttables.h"
#include "sampledatabasegenerator.h"
#include "samplereader.h"
#include "sampletable.h"
#include "summarybuild.h"

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

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kNodes = SampleDatabaseGenerator::MaxNodes;
const QString kFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

QString key(int node, int channel, const char* unit)
{
    return SampleDatabaseGenerator::serialOf(node) + QStringLiteral("_channel") +
           QString::number(channel) + QLatin1Char('|') + QLatin1String(unit);
}

// Both channels of two nodes.
const QStringList kKeys{key(0, 1, "a"), key(0, 2, "b"), key(1, 1, "c"), key(1, 2, "d")};

struct WorkerTimes
{
    double total = 0;
    double queries = 0;
    int samples = 0;
    bool ok = false;
};

WorkerTimes runWorker(ReportTables* tables, const QString& path, qint64 start, qint64 end)
{
    QList<ReportChannel> channels;
    for (const QString& key : kKeys)
        channels.append(ReportChannel::fromKey(key));
    GenerateAverageQueries worker(QStringLiteral("bench"), path, QString(),
                                  QDateTime::fromSecsSinceEpoch(start).toString(kFormat),
                                  QDateTime::fromSecsSinceEpoch(end).toString(kFormat), channels,
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

// Milliseconds the sqlite3 program takes for the statements, its output thrown away.
double runScript(const QString& program, const QString& path, const QString& script)
{
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

double runSqlite3(const QString& program, const QString& path, qint64 start, qint64 end)
{
    // The worker's own statements, with its three bound values written in.
    QString script;
    for (const QString& key : kKeys) {
        QString serial;
        QString column;
        ReportChannel::splitKey(key, &serial, &column);
        const QStringList values{QLatin1Char('\'') + serial + QLatin1Char('\''),
                                 QString::number(start), QString::number(end)};
        QString text = SampleReader::channelQuery({column});
        for (const QString& value : values)
            text.replace(text.indexOf(QLatin1Char('?')), 1, value);
        script += text + QLatin1Char('\n');
    }
    return runScript(program, path, script);
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

const QStringList kMonthKeys{key(0, 1, "a"), key(1, 1, "b"), key(2, 1, "c"), key(3, 2, "d")};

// Processor time of this process (all its threads), or of its finished children, in ms.
double cpuMs(bool children)
{
    rusage usage{};
    getrusage(children ? RUSAGE_CHILDREN : RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// The worker of the reports of whole days: reading every row (as the HACCP report does, and as
// weekly and monthly reports did before the summary), or the summary where it can.
double runDays(ReportTables* tables, const QString& path, const ReportPeriod& period,
               bool figuresOnly, GenerateDayQueries::Reading* reading, bool kinetic = false,
               bool sums = true)
{
    QList<ReportChannel> channels;
    for (const QString& key : kMonthKeys) {
        channels.append(ReportChannel::fromKey(key));
        channels.last().limited = true;
        channels.last().lower = 16;
        channels.last().upper = 24;
        // As a report of temperature channels takes them: with their mean kinetic temperature.
        if (kinetic)
            channels.last().scale = MeanKineticTemperature::Scale::Celsius;
    }
    *tables = ReportTables();
    GenerateDayQueries worker(path, period, 1000, channels, tables);
    worker.setFiguresOnly(figuresOnly);
    worker.setKineticSums(sums);
    bool ok = false;
    QObject::connect(
        &worker, &GenerateDayQueries::done, &worker, [&] { ok = true; }, Qt::DirectConnection);
    QElapsedTimer clock;
    clock.start();
    worker.start(QThread::LowPriority);
    worker.wait();
    *reading = worker.reading();
    return ok ? clock.nsecsElapsed() / 1e6 : -1;
}

// The same channels' day figures as SQLite alone aggregates them, one statement per day.
double sqliteDays(const QString& program, const QString& path, const QVector<qint64>& bounds)
{
    QString script;
    for (const QString& key : kMonthKeys) {
        QString serial;
        QString column;
        ReportChannel::splitKey(key, &serial, &column);
        for (int d = 0; d + 1 < bounds.size(); ++d)
            script += QStringLiteral("select count(%1), sum(%1), min(%1), max(%1) from quorbinal "
                                     "where serialno = '%2' and pointDate between %3 and %4;\n")
                          .arg(column, serial)
                          .arg(bounds.at(d))
                          .arg(bounds.at(d + 1) - 1);
    }
    return runScript(program, path, script);
}

// Where two reports' figures differ as the report shows them: the average to two decimals,
// minimum, maximum, chart points exactly.
int differences(const ReportTables& a, const ReportTables& b)
{
    int count = std::abs(a.periodRows.size() - b.periodRows.size()) +
                std::abs(a.sampleRows.size() - b.sampleRows.size());
    for (auto it = a.periodRows.cbegin(); it != a.periodRows.cend(); ++it) {
        const PeriodRow other = b.periodRows.value(it.key());
        for (int c = 0; c < ReportColumns; ++c)
            count += QString::number(it->avg[c], 'f', 2) != QString::number(other.avg[c], 'f', 2) ||
                     it->min[c] != other.min[c] || it->max[c] != other.max[c];
    }
    for (auto it = a.sampleRows.cbegin(); it != a.sampleRows.cend(); ++it) {
        const SampleRow other = b.sampleRows.value(it.key());
        for (int c = 0; c < ReportColumns; ++c)
            count += it->values[c] != other.values[c];
    }
    return count;
}

QString timeText(double ms, double cpu)
{
    return QString::number(ms, 'f', 0) + QStringLiteral(" (cpu ") + QString::number(cpu, 'f', 0) +
           QLatin1Char(')');
}

// The report of whole days timed reading every row, from the summary (when the file has it),
// and against SQLite aggregating the same days, round by round in turn.
bool measureDays(const QString& label, const QString& sqliteProgram, const QString& path,
                 const ReportPeriod& period, int rounds, bool summarized)
{
    QStringList rowTimes, summaryTimes, sqliteTimes;
    double bestRows = 1e18, bestSummary = 1e18, bestSqlite = 1e18;
    ReportTables fromRows, fromSummary;
    GenerateDayQueries::Reading rowReading, summaryReading;
    for (int round = 0; round < rounds; ++round) {
        double cpu = cpuMs(false);
        const double r = runDays(&fromRows, path, period, false, &rowReading);
        rowTimes.append(timeText(r, cpuMs(false) - cpu));
        double s = 0;
        if (summarized) {
            cpu = cpuMs(false);
            s = runDays(&fromSummary, path, period, true, &summaryReading);
            summaryTimes.append(timeText(s, cpuMs(false) - cpu));
        }
        double childCpu = cpuMs(true);
        const double q = sqliteDays(sqliteProgram, path, period.dayBounds());
        sqliteTimes.append(timeText(q, cpuMs(true) - childCpu));
        if (r < 0 || s < 0) {
            out() << "report worker failed\n";
            return false;
        }
        bestRows = qMin(bestRows, r);
        bestSummary = qMin(bestSummary, s);
        bestSqlite = qMin(bestSqlite, q);
    }
    out() << "  " << label << ": day rows " << fromRows.periodRows.size() << ", chart rows "
          << fromRows.sampleRows.size() << ", threads " << qBound(1, QThread::idealThreadCount(), 4)
          << '\n';
    out() << QStringLiteral("    reading every row:  %1 ms (runs %2), %3 rows\n")
                 .arg(bestRows, 0, 'f', 0)
                 .arg(rowTimes.join(QStringLiteral(", ")))
                 .arg(rowReading.rows);
    if (summarized)
        out() << QStringLiteral("    from the summary:   %1 ms (runs %2), %3 quarter hours and %4 "
                                "rows; same figures as from every row: %5; ratio %6\n")
                     .arg(bestSummary, 0, 'f', 0)
                     .arg(summaryTimes.join(QStringLiteral(", ")))
                     .arg(summaryReading.buckets)
                     .arg(summaryReading.rows)
                     .arg(differences(fromRows, fromSummary) == 0
                              ? QStringLiteral("yes")
                              : QStringLiteral("NO, ") +
                                    QString::number(differences(fromRows, fromSummary)) +
                                    QStringLiteral(" differences"))
                     .arg(bestSummary / bestRows, 0, 'f', 3);
    out() << QStringLiteral("    sqlite3 day aggregates: %1 ms (runs %2)\n")
                 .arg(bestSqlite, 0, 'f', 0)
                 .arg(sqliteTimes.join(QStringLiteral(", ")));
    out().flush();
    return true;
}

// Drops the file and its write-ahead log from the page cache: written back first, since dirty
// pages cannot be dropped.
void evict(const QString& path)
{
    for (const QString& file : QStringList{path, path + QStringLiteral("-wal")}) {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

// The sqlite3 program reading the worker's rows, one statement per channel, counting and summing
// them instead of printing them.
double runSqlite3Aggregates(const QString& program, const QString& path, qint64 start, qint64 end)
{
    QString script;
    for (const QString& k : kKeys) {
        QString serial;
        QString column;
        ReportChannel::splitKey(k, &serial, &column);
        script +=
            QStringLiteral("select count(*), sum(%1) from (select pointDate, %1 from quorbinal "
                           "where serialno = '%2' and pointDate between %3 and %4 order by "
                           "pointDate);\n")
                .arg(column, serial)
                .arg(start)
                .arg(end);
    }
    return runScript(program, path, script);
}

QString runsText(const QVector<double>& runs)
{
    QStringList texts;
    for (double ms : runs)
        texts << QString::number(ms, 'f', 0);
    return texts.join(QStringLiteral(", "));
}

double median(QVector<double> runs)
{
    std::sort(runs.begin(), runs.end());
    return runs.isEmpty() ? 0 : runs.at(runs.size() / 2);
}

// Where two reports' period summaries differ: every figure, to 1e-9 relative.
int summaryDifferences(const ReportTables& a, const ReportTables& b)
{
    auto differ = [](double x, double y) {
        return !(std::isnan(x) && std::isnan(y)) &&
               !(std::abs(x - y) <= 1e-9 * qMax(1.0, std::abs(y)));
    };
    int count = std::abs(a.periodSummaries.size() - b.periodSummaries.size()) +
                std::abs(a.excursions.size() - b.excursions.size()) +
                std::abs(a.gaps.size() - b.gaps.size());
    for (int c = 0; c < qMin(a.periodSummaries.size(), b.periodSummaries.size()); ++c) {
        const ChannelPeriodSummary& x = a.periodSummaries.at(c);
        const ChannelPeriodSummary& y = b.periodSummaries.at(c);
        count += (x.count != y.count) + (x.min != y.min) + (x.max != y.max) +
                 differ(x.mean, y.mean) + differ(x.meanKinetic, y.meanKinetic) +
                 (x.outSeconds != y.outSeconds) + (x.longestOutSeconds != y.longestOutSeconds) +
                 (x.excursions != y.excursions) + (x.noDataSeconds != y.noDataSeconds);
    }
    for (auto it = a.periodRows.cbegin(); it != a.periodRows.cend(); ++it) {
        for (int c = 0; c < ReportColumns; ++c)
            count += it->outSeconds[c] != b.periodRows.value(it.key()).outSeconds[c];
    }
    return count;
}

// The monthly report's worker as a report makes it now (the period summary with four
// temperature channels' mean kinetic temperature), from the kinetic sums where they answer and
// reading every row, against the same worker as monthly reports were made before (the day
// figures and chart from the summary), each with the file dropped from the page cache first
// (cold), round by round in turn.
bool measureReportCold(const QString& path, const ReportPeriod& period, int rounds)
{
    QVector<double> sums, rows, before, sumsCpu;
    ReportTables tables, fromRows, fromSums;
    GenerateDayQueries::Reading reading, rowReading, sumReading;
    QString kinetic;
    for (int round = 0; round < rounds; ++round) {
        evict(path);
        const double b = runDays(&tables, path, period, true, &reading);
        evict(path);
        const double r = runDays(&fromRows, path, period, false, &rowReading, true, false);
        evict(path);
        const double cpu = cpuMs(false);
        const double k = runDays(&fromSums, path, period, false, &sumReading, true, true);
        sumsCpu.append(cpuMs(false) - cpu);
        if (b < 0 || r < 0 || k < 0) {
            out() << "report worker failed\n";
            return false;
        }
        before.append(b);
        rows.append(r);
        sums.append(k);
        kinetic.clear();
        for (const ChannelPeriodSummary& summary : qAsConst(fromSums.periodSummaries))
            kinetic += QString::number(summary.meanKinetic, 'f', 2) + QLatin1Char(' ');
    }
    out() << "  monthly report worker, cold (file dropped from the page cache), 4 channels of 4 "
             "nodes:\n";
    out() << QStringLiteral("    before (summary, no period summary): %1 ms (runs %2)\n")
                 .arg(median(before), 0, 'f', 0)
                 .arg(runsText(before));
    out() << QStringLiteral("    every row (period summary with MKT): %1 ms (runs %2), %3 rows\n")
                 .arg(median(rows), 0, 'f', 0)
                 .arg(runsText(rows))
                 .arg(rowReading.rows);
    out() << QStringLiteral("    kinetic sums (period summary with MKT): %1 ms (runs %2; cpu %7), "
                            "%3 quarter hours from the sums, %4 rows; MKT %5; figures differing "
                            "from every row's: %6\n")
                 .arg(median(sums), 0, 'f', 0)
                 .arg(runsText(sums))
                 .arg(sumReading.stretches)
                 .arg(sumReading.rows)
                 .arg(kinetic.trimmed())
                 .arg(summaryDifferences(fromSums, fromRows))
                 .arg(runsText(sumsCpu));
    out().flush();
    return true;
}

// The statistics worker alone against the sqlite3 program aggregating the same rows, cold and
// warm, round by round in turn so that both see the same machine.
bool measureWorkerGoal(const QString& sqliteProgram, const QString& path, qint64 start, qint64 end,
                       int rounds)
{
    QVector<double> workerCold, sqliteCold, workerWarm, sqliteWarm;
    // Processor time beside: on a loaded machine it shows the work apart from the waiting.
    QVector<double> workerColdCpu, sqliteColdCpu, workerWarmCpu, sqliteWarmCpu;
    auto worker = [&](QVector<double>* times, QVector<double>* cpu) {
        // A report starts with empty tables: freeing the last run's is not the worker's work.
        ReportTables tables;
        const double before = cpuMs(false);
        const WorkerTimes w = runWorker(&tables, path, start, end);
        *cpu << cpuMs(false) - before;
        *times << w.total;
        return w.ok;
    };
    auto sqlite = [&](QVector<double>* times, QVector<double>* cpu) {
        const double before = cpuMs(true);
        *times << runSqlite3Aggregates(sqliteProgram, path, start, end);
        *cpu << cpuMs(true) - before;
    };
    for (int round = 0; round < rounds; ++round) {
        evict(path);
        const bool coldOk = worker(&workerCold, &workerColdCpu);
        evict(path);
        sqlite(&sqliteCold, &sqliteColdCpu);
        const bool warmOk = worker(&workerWarm, &workerWarmCpu);
        sqlite(&sqliteWarm, &sqliteWarmCpu);
        if (!coldOk || !warmOk) {
            out() << "worker failed\n";
            return false;
        }
    }
    out() << "  statistics worker, 24 h of 4 channels of 2 nodes, against sqlite3 counting and "
             "summing the same rows per channel ("
          << rounds << " rounds):\n";
    for (const bool cold : {true, false}) {
        const QVector<double>& w = cold ? workerCold : workerWarm;
        const QVector<double>& s = cold ? sqliteCold : sqliteWarm;
        const QVector<double>& wCpu = cold ? workerColdCpu : workerWarmCpu;
        const QVector<double>& sCpu = cold ? sqliteColdCpu : sqliteWarmCpu;
        out() << QStringLiteral("    %1: worker %2 ms (median %3; cpu %4), sqlite3 %5 ms (median "
                                "%6; cpu %7); ratio of medians %8, of the best %9, of the median "
                                "cpu %10\n")
                     .arg(cold ? QStringLiteral("cold") : QStringLiteral("warm"))
                     .arg(runsText(w))
                     .arg(median(w), 0, 'f', 0)
                     .arg(runsText(wCpu))
                     .arg(runsText(s))
                     .arg(median(s), 0, 'f', 0)
                     .arg(runsText(sCpu))
                     .arg(median(w) / median(s), 0, 'f', 2)
                     .arg(*std::min_element(w.begin(), w.end()) /
                              *std::min_element(s.begin(), s.end()),
                          0, 'f', 2)
                     .arg(median(wCpu) / median(sCpu), 0, 'f', 2);
    }
    out().flush();
    return true;
}

// The kinetic sums of a file whose summary came before them, as the recorder's background build
// fills them.
bool buildKinetic(const QString& path)
{
    sqlite3* db = nullptr;
    QString error;
    const bool ok = sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK &&
                    SummaryBuild::buildKinetic(db, &error);
    sqlite3_close(db);
    if (!ok)
        out() << "cannot fill the kinetic sums: " << error << '\n';
    return ok;
}

bool buildSummary(const QString& path)
{
    sqlite3* db = nullptr;
    QString error;
    const bool ok = sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK &&
                    SummaryBuild::buildSummary(db, &error);
    sqlite3_close(db);
    if (!ok)
        out() << "cannot build the summary: " << error << '\n';
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QList<int> dayCounts;
    QString folder;
    bool keep = false;
    bool reuse = false;
    bool goalOnly = false;
    bool reportOnly = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--dir") && i + 1 < args.size())
            folder = args.at(++i);
        else if (args.at(i) == QLatin1String("--keep"))
            keep = true;
        else if (args.at(i) == QLatin1String("--reuse"))
            reuse = true;
        else if (args.at(i) == QLatin1String("--goal-only"))
            goalOnly = true;
        else if (args.at(i) == QLatin1String("--report-only"))
            reportOnly = goalOnly = true;
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
        const QString project = folder + QStringLiteral("/bench_%1d.tpc").arg(days);
        QElapsedTimer clock;
        clock.start();
        const bool reused = reuse && QFileInfo::exists(ProjectFile::databasePath(project));
        if (!reused && !SampleDatabaseGenerator::generate(
                            SampleDatabaseGenerator::unbrokenRecording(project, first, days))
                            .ok) {
            out() << "cannot generate " << project << '\n';
            return 1;
        }
        const QString path = ProjectFile::databasePath(project);
        const qint64 rows = qint64(days) * 86400 * kNodes;
        out() << days << " day(s): " << rows << " rows, " << QFileInfo(path).size() / (1024 * 1024)
              << " MiB, " << (reused ? QStringLiteral("reused") : QStringLiteral("generated in "))
              << (reused ? QString() : QString::number(clock.elapsed()) + QStringLiteral(" ms"))
              << '\n';
        out().flush();

        const qint64 start = first + qint64(days - 1) * 86400;
        const qint64 end = start + 86399;
        const QDate firstDay = QDateTime::fromSecsSinceEpoch(first).date();
        const ReportPeriod week = ReportPeriod::of(ReportKind::Weekly, firstDay);
        const ReportPeriod month = ReportPeriod::of(ReportKind::Monthly, firstDay);
        const QString monthly = QStringLiteral("monthly, 4 channels of 4 nodes");
        if (!SampleReader(path).hasIndex()) {
            if (!measure(QStringLiteral("without the index"), sqliteProgram, path, start, end))
                return 1;
            if (days >= 28 && !measureDays(monthly + QStringLiteral(", without the index"),
                                           sqliteProgram, path, month, 1, false))
                return 1;

            const qint64 bare = QFileInfo(path).size();
            clock.restart();
            if (!buildIndex(path)) {
                out() << "cannot build the index\n";
                return 1;
            }
            const qint64 indexed = QFileInfo(path).size();
            out() << QStringLiteral(
                         "  index built in %1 ms; file %2 -> %3 bytes, +%4 bytes (+%5%)\n")
                         .arg(clock.elapsed())
                         .arg(bare)
                         .arg(indexed)
                         .arg(indexed - bare)
                         .arg(100.0 * double(indexed - bare) / double(bare), 0, 'f', 1);
        }
        if (!SampleReader(path).hasSummary()) {
            const qint64 before = QFileInfo(path).size();
            clock.restart();
            if (!buildSummary(path))
                return 1;
            const qint64 after = QFileInfo(path).size();
            out() << QStringLiteral(
                         "  summary built in %1 ms; file %2 -> %3 bytes, +%4 bytes (+%5%)\n")
                         .arg(clock.elapsed())
                         .arg(before)
                         .arg(after)
                         .arg(after - before)
                         .arg(100.0 * double(after - before) / double(before), 0, 'f', 2);
        }
        if (!SampleReader(path).hasKinetic()) {
            const qint64 before = QFileInfo(path).size();
            clock.restart();
            if (!buildKinetic(path))
                return 1;
            const qint64 after = QFileInfo(path).size();
            out() << QStringLiteral(
                         "  kinetic sums filled in %1 ms; file %2 -> %3 bytes, +%4 bytes (+%5%)\n")
                         .arg(clock.elapsed())
                         .arg(before)
                         .arg(after)
                         .arg(after - before)
                         .arg(100.0 * double(after - before) / double(before), 0, 'f', 2);
        }
        if (!goalOnly &&
            !measure(QStringLiteral("with the index"), sqliteProgram, path, start, end))
            return 1;
        if (!reportOnly && days >= 7 && !measureWorkerGoal(sqliteProgram, path, start, end, 5))
            return 1;
        if (!goalOnly && days >= 7 &&
            !measureDays(QStringLiteral("weekly, 4 channels of 4 nodes"), sqliteProgram, path, week,
                         3, true))
            return 1;
        if (!goalOnly && days >= 28 && !measureDays(monthly, sqliteProgram, path, month, 3, true))
            return 1;
        if (days >= 28 && !measureReportCold(path, month, 3))
            return 1;
        if (!keep) {
            QFile::remove(path);
            QFile::remove(project);
        }
    }
    return 0;
}
