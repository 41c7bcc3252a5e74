// The daily backup while the recorder writes: the 30-day benchmark file is copied to a working
// file, a DatabaseWriter records 16 nodes at 1 s into it (a flush each second, as at 1 s), and
// the longest time a flush takes to reach the file, and the longest stall of the event loop
// (the lateness of a 5 ms timer, the GUI thread's share), are measured: first without a backup
// (the baseline), then during the backup as the recorder runs it (the copy in steps of one read
// snapshot, then integrity_check and --verify on the copy), then during a copy in one step and
// one by VACUUM INTO. Prints
// figures and asserts nothing. Every file it makes is under the working folder and deleted at
// the end; the source file is only read.
//
//   bench_backup [source .dat, default /work/benchdata/bench_30d.dat]
//                [working folder, default /work/benchdata/tmp] [baseline seconds, default 30]
//                [--no-vacuum]
#include "backupjob.h"
#include "databasebackup.h"
#include "databasewriter.h"
#include "samplerecord.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QPair>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int Nodes = 16;
constexpr int ProbeMs = 5;

void dropDebugTraces(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

// The recorder at 1 s: each second 16 samples and a flush; the longest flush (queued to
// answered) and the event loop's longest stall since the last reset.
class Recording : public QObject
{
public:
    explicit Recording(DatabaseWriter* w) : writer(w)
    {
        connect(writer, &DatabaseWriter::flushed, this, [this](bool) {
            if (started >= 0) {
                const double ms = (clock.nsecsElapsed() - started) / 1e6;
                longestFlushMs = std::max(longestFlushMs, ms);
                flushTimes.append(qMakePair((started - resetAt) / 1e6, ms));
            }
            started = -1;
            ++flushes;
        });
        second.setTimerType(Qt::PreciseTimer);
        connect(&second, &QTimer::timeout, this, [this] {
            for (int n = 0; n < Nodes; ++n)
                writer->queueSample({QStringLiteral("BK-%1").arg(n, 4, 10, QLatin1Char('0')),
                                     4.0 + n / 10.0, 50.0, quint32(time)});
            ++time;
            if (started >= 0) {
                ++overlapped; // the flush before has not answered within a second
                return;
            }
            started = clock.nsecsElapsed();
            writer->flush(QDateTime::currentMSecsSinceEpoch());
        });
        probe.setTimerType(Qt::PreciseTimer);
        connect(&probe, &QTimer::timeout, this, [this] {
            const double now = clock.nsecsElapsed() / 1e6;
            longestStallMs = std::max(longestStallMs, now - lastProbe - ProbeMs);
            lastProbe = now;
        });
        clock.start();
        time = QDateTime::currentSecsSinceEpoch();
        second.start(1000);
        probe.start(ProbeMs);
    }
    void reset()
    {
        flushTimes.clear();
        resetAt = clock.nsecsElapsed();
        longestFlushMs = 0;
        longestStallMs = 0;
        flushes = 0;
        overlapped = 0;
        lastProbe = clock.nsecsElapsed() / 1e6;
    }
    void print(const char* what, double seconds) const
    {
        std::printf("  %-34s %7.1f s: %3d flushes, longest flush %7.1f ms, %d seconds with a "
                    "flush still waiting; event loop's longest stall %6.1f ms\n",
                    what, seconds, flushes, longestFlushMs, overlapped, longestStallMs);
        std::fflush(stdout);
    }

    // The longest flush that started within [fromMs, toMs) after the reset.
    double longestBetween(double fromMs, double toMs) const
    {
        double longest = 0;
        for (const auto& f : flushTimes)
            if (f.first >= fromMs && f.first < toMs)
                longest = std::max(longest, f.second);
        return longest;
    }

    double longestFlushMs = 0;
    double longestStallMs = 0;
    int flushes = 0;
    int overlapped = 0;

private:
    QList<QPair<double, double>> flushTimes; // start after the reset, length; ms
    qint64 resetAt = 0;
    DatabaseWriter* writer;
    QTimer second;
    QTimer probe;
    QElapsedTimer clock;
    double lastProbe = 0;
    qint64 started = -1;
    qint64 time = 0;
};

void runFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

// Runs `work` on a thread of its own with the event loop running here; its seconds.
double whileRunning(const std::function<void()>& work)
{
    std::atomic<bool> done{false};
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QThread> thread(QThread::create([&] {
        work();
        done = true;
    }));
    thread->start();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    thread->wait();
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(dropDebugTraces);
    QStringList args = app.arguments().mid(1);
    const bool vacuum = !args.removeAll(QStringLiteral("--no-vacuum"));
    const QString source = args.value(0, QStringLiteral("/work/benchdata/bench_30d.dat"));
    const QString work = args.value(1, QStringLiteral("/work/benchdata/tmp"));
    const int baselineSeconds = args.value(2, QStringLiteral("30")).toInt();
    if (!QFileInfo(source).isFile()) {
        std::fprintf(stderr, "no source file %s\n", qPrintable(source));
        return 1;
    }
    const QDir folder(work + QStringLiteral("/bench_backup"));
    if (folder.exists() || !QDir().mkpath(folder.filePath(QStringLiteral("copies")))) {
        std::fprintf(stderr, "%s exists already or cannot be made\n", qPrintable(folder.path()));
        return 1;
    }
    const QString database = folder.filePath(QStringLiteral("bench.dat"));
    const QString project = folder.filePath(QStringLiteral("bench.tpc"));
    QFile::copy(QFileInfo(source).path() + QLatin1Char('/') + QFileInfo(source).completeBaseName() +
                    QStringLiteral(".tpc"),
                project);
    QElapsedTimer clock;
    clock.start();
    if (!QFile::copy(source, database)) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(source));
        return 1;
    }
    std::printf("working copy of %s: %.1f MiB in %.1f s (file copy)\n", qPrintable(source),
                QFileInfo(database).size() / 1048576.0, clock.nsecsElapsed() / 1e9);
    int status = 0;
    {
        DatabaseWriter writer(database, QUuid::createUuid().toString());
        if (!writer.open()) {
            std::fprintf(stderr, "the writer cannot open the working copy\n");
            status = 1;
        } else {
            Recording recording(&writer);
            runFor(3000); // the first flushes, the file's pages warm
            recording.reset();
            runFor(baselineSeconds * 1000);
            recording.print("baseline, no backup", baselineSeconds);
            const double baselineFlush = recording.longestFlushMs;
            const double baselineStall = recording.longestStallMs;

            BackupJob::Request request;
            request.projectPath = project;
            request.projectName = QStringLiteral("bench");
            request.databasePath = database;
            request.settings.folder = folder.filePath(QStringLiteral("copies"));
            request.now = QDateTime::currentDateTime();
            BackupJob::Report report;
            recording.reset();
            // On a thread of its own at the priority the recorder gives it.
            const double seconds = whileRunning([&] {
                BackupJob::lowerThreadPriority();
                report = BackupJob::run(request);
            });
            recording.print("backup: copy and checks", seconds);
            std::printf("    copy %.1f s (%.1f MiB), integrity_check and --verify %.1f s: %s\n",
                        report.copyMs / 1000.0, QFileInfo(report.copyPath).size() / 1048576.0,
                        report.checkMs / 1000.0,
                        report.ok ? "the copy holds" : qPrintable(report.error));
            const double duringCopy = recording.longestBetween(0, report.copyMs);
            const double duringChecks = recording.longestBetween(report.copyMs, 1e12);
            std::printf("    longest flush during the copy %.1f ms, during the checks %.1f ms, "
                        "against %.1f ms without a backup (%.2fx); stall %.1f ms against %.1f "
                        "ms\n",
                        duringCopy, duringChecks, baselineFlush,
                        baselineFlush > 0 ? duringCopy / baselineFlush : 0.0,
                        recording.longestStallMs, baselineStall);
            QFile::remove(report.copyPath);
            QFile::remove(report.copyPath + BackupJob::badSuffix());

            // The other ways to copy, the copy alone.
            const QString target = folder.filePath(QStringLiteral("copies/other.dat"));
            DatabaseBackup::Outcome pages;
            recording.reset();
            const double pageSeconds = whileRunning(
                [&] { pages = DatabaseBackup::copy(database, target, DatabaseBackup::Method::PageCopy); });
            recording.print("one-step page copy, copy only", pageSeconds);
            std::printf("    %s\n", pages.ok ? "copied" : qPrintable(pages.error));
            QFile::remove(target);
            if (vacuum) {
                DatabaseBackup::Outcome outcome;
                recording.reset();
                const double vacuumSeconds = whileRunning([&] {
                    outcome = DatabaseBackup::copy(database, target,
                                                   DatabaseBackup::Method::VacuumInto);
                });
                recording.print("VACUUM INTO, copy only", vacuumSeconds);
                std::printf("    %s, %.1f MiB\n", outcome.ok ? "copied" : qPrintable(outcome.error),
                            QFileInfo(target).size() / 1048576.0);
                QFile::remove(target);
            }
            writer.shutdown(5000);
            runFor(500);
        }
    }
    QDir(folder).removeRecursively();
    std::printf("working folder removed: %s\n", folder.exists() ? "no" : "yes");
    return status;
}
