// The range index built in the background while a project records. The recorder's own
// RecordingCycle opens a copy of a generated file made without the index (16 nodes at 1 s,
// 7 days by default) and records a full project, 8 gateways of 2 nodes at 1 s from the gateway
// simulator, while the index is built. Prints the build time, the samples recorded meanwhile
// and when they reached the file, the rows stored against the samples polled, and the longest
// stall of the event loop (the lateness of a 5 ms timer) during the build and after it; then
// the same project closed halfway through a build. Beside them, what opening the same file cost
// the GUI thread before: the two scans of startDateTime() and endDateTime(). Last, the same
// project on a new file while another connection holds the write lock for a while: the longest
// stall of the event loop then (each flush that met the lock used to wait for it on the GUI
// thread), and whether every sample arrived once the lock went.
//
//   bench_indexbuild [days, default 7] [seconds recorded after the build, default 10]
//                    [seconds the write lock is held, default 8]
#include "configureddevice.h"
#include "databasepeek.h"
#include "gatewaysimulator.h"
#include "insertserialdata.h"
#include "projectfile.h"
#include "recordingcycle.h"
#include "sampledatabasegenerator.h"
#include "sampletable.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace {

constexpr int Gateways = 8;
constexpr int NodesPerGateway = 2;
constexpr int ProbeMs = 5;

void dropDebugTraces(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

// The event loop's longest stall: how late a 5 ms timer fires, split at a moment of choice.
class StallProbe
{
public:
    StallProbe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &timer, [this] {
            const double now = clock.nsecsElapsed() / 1e6;
            const double late = now - last - ProbeMs;
            last = now;
            (split ? afterMs : beforeMs) = std::max(split ? afterMs : beforeMs, late);
        });
        clock.start();
        last = 0;
        timer.start(ProbeMs);
    }
    // Stalls from now on count as "after".
    void splitHere() { split = true; }
    double before() const { return beforeMs; }
    double after() const { return afterMs; }

private:
    QTimer timer;
    QElapsedTimer clock;
    double last = 0;
    bool split = false;
    double beforeMs = 0;
    double afterMs = 0;
};

// Runs the event loop until `done` holds or `limitMs` have passed.
bool runUntil(const std::function<bool()>& done, qint64 limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// One project of the benchmark: the copy of the file, the project file, the gateways.
class Project
{
public:
    // Without a source the project starts with a new database.
    Project(const QString& folder, const QString& source, GatewaySimulator& sim) : simulator(sim)
    {
        QDir().mkpath(folder);
        path = folder + QStringLiteral("/bench.tpc");
        ProjectFile(path).create(1000);
        database = ProjectFile::databasePath(path);
        if (!source.isEmpty() && !QFile::copy(source, database)) {
            std::fprintf(stderr, "cannot copy %s\n", qPrintable(source));
            std::exit(1);
        }
        for (int g = 0; g < Gateways; ++g) {
            GatewayConfig config;
            config.ipAddress = QStringLiteral("127.0.0.1");
            config.port = sim.port(g);
            config.deviceModel = g % 2 ? QStringLiteral("TQ700") : QStringLiteral("TQ100");
            for (int n = 0; n < NodesPerGateway; ++n) {
                NodeConfig node;
                node.deviceNumber = QStringLiteral("G%1N%2").arg(g).arg(n);
                node.startAddress = 4 * n;
                config.nodes << node;
            }
            gateways << ConfiguredDevice::fromConfig(config, &owner);
        }
        polledBefore = polls();
    }
    qint64 polls() const
    {
        qint64 sum = 0;
        for (int g = 0; g < Gateways; ++g)
            sum += simulator.pollCount(g);
        return sum;
    }
    // Samples polled since the project was made, one per node and answered poll.
    qint64 samplesPolled() const { return (polls() - polledBefore) * NodesPerGateway; }
    qint64 rowsOfThisProject() const
    {
        // A range of serial numbers, found through the index: no scan on the probed thread.
        return DatabasePeek::scalar(database,
                                    QStringLiteral("select count(*) from quorbinal where serialno "
                                                   ">= 'G' and serialno < 'H'"));
    }
    bool indexed() const
    {
        const QString name = QUuid::createUuid().toString();
        bool found = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(database);
            found = db.open() && SampleTable::hasIndex(db);
        }
        QSqlDatabase::removeDatabase(name);
        return found;
    }

    QString path;
    QString database;
    QList<ConfiguredDevice*> gateways;

private:
    GatewaySimulator& simulator;
    QObject owner;
    qint64 polledBefore = 0;
};

int percentOf(const QString& indexingText)
{
    const int space = indexingText.lastIndexOf(QLatin1Char(' '));
    return indexingText.endsWith(QLatin1Char('%'))
               ? indexingText.mid(space + 1, indexingText.size() - space - 2).toInt()
               : -1;
}

// What opening the file cost the GUI thread before: the writer opened, and two scans.
double openedBefore(const QString& source)
{
    QElapsedTimer clock;
    clock.start();
    InsertSerialData writer(source, QUuid::createUuid().toString());
    if (!writer.createConnection())
        return -1;
    writer.startDateTime();
    writer.endDateTime();
    return clock.nsecsElapsed() / 1e6;
}

void buildWhileRecording(const QString& folder, const QString& source, GatewaySimulator& sim,
                         int afterSeconds)
{
    Project project(folder, source, sim);
    StallProbe probe;
    QElapsedTimer clock;
    clock.start();
    RecordingCycle cycle(project.path, QUuid::createUuid().toString(), project.gateways, 1000);
    if (!cycle.open()) {
        std::fprintf(stderr, "cannot open the project\n");
        std::exit(1);
    }
    const double openMs = clock.nsecsElapsed() / 1e6;
    const bool indexing = cycle.isIndexing();
    cycle.startRecording();
    cycle.startPolling();

    double buildMs = -1;
    int waiting = -1;
    QList<double> percentTimes{-1, -1, -1, -1}; // 25, 50, 75, 99 %
    QObject::connect(&cycle, &RecordingCycle::indexingStateChanged, &cycle,
                     [&](const QString& text) {
                         const double now = clock.nsecsElapsed() / 1e6;
                         const int percent = percentOf(text);
                         const int marks[] = {25, 50, 75, 99};
                         for (int i = 0; i < 4; ++i)
                             if (percent >= marks[i] && percentTimes[i] < 0)
                                 percentTimes[i] = now;
                         if (text.isEmpty()) {
                             buildMs = now;
                             waiting = cycle.pendingCount();
                             probe.splitHere();
                         }
                     });
    if (!runUntil([&] { return !cycle.isIndexing(); }, 30 * 60 * 1000)) {
        std::fprintf(stderr, "the build did not end\n");
        std::exit(1);
    }
    const int waitingAfterCatchUp = cycle.pendingCount();
    const qint64 rowsAfterBuild = project.rowsOfThisProject();
    const qint64 recordUntil = clock.elapsed() + afterSeconds * 1000LL;
    runUntil([&] { return clock.elapsed() >= recordUntil; }, recordUntil + 1000);
    cycle.stopRecording();
    const qint64 polled = project.samplesPolled();
    const qint64 rows = project.rowsOfThisProject();

    std::printf("   opened (RecordingCycle::open) in %.1f ms, index build started: %s\n", openMs,
                indexing ? "yes" : "NO");
    std::printf(
        "   build while recording: %.0f ms; progress shown 25%% at %.0f, 50%% at %.0f, 75%% "
        "at %.0f, 99%% at %.0f ms\n",
        buildMs, percentTimes[0], percentTimes[1], percentTimes[2], percentTimes[3]);
    std::printf("   samples recorded during the build, waiting at its end: %d; still waiting after "
                "the catch-up write: %d; stored by then: %lld\n",
                waiting, waitingAfterCatchUp, static_cast<long long>(rowsAfterBuild));
    std::printf("   recorded %d s more, stopped: samples polled %lld, rows stored %lld (with %d "
                "gap records), waiting %d, write warning \"%s\", index present: %s\n",
                afterSeconds, static_cast<long long>(polled), static_cast<long long>(rows),
                Gateways * NodesPerGateway, cycle.pendingCount(), qPrintable(cycle.writeWarning()),
                project.indexed() ? "yes" : "NO");
    std::printf("   longest event-loop stall: during the build %.1f ms, after it (catch-up write "
                "included) %.1f ms\n",
                probe.before(), probe.after());
}

void closeDuringBuild(const QString& folder, const QString& source, GatewaySimulator& sim)
{
    Project project(folder, source, sim);
    StallProbe probe;
    auto cycle = std::make_unique<RecordingCycle>(project.path, QUuid::createUuid().toString(),
                                                  project.gateways, 1000);
    if (!cycle->open()) {
        std::fprintf(stderr, "cannot open the project\n");
        std::exit(1);
    }
    cycle->startRecording();
    cycle->startPolling();
    runUntil([&] { return percentOf(cycle->indexingState()) >= 50 || !cycle->isIndexing(); },
             30 * 60 * 1000);
    const QString shown = cycle->indexingState();
    // As the window closes a project: the recording stops, the build is interrupted, what waits
    // is written, the cycle goes.
    probe.splitHere();
    QElapsedTimer clock;
    clock.start();
    cycle->stopRecording();
    cycle->stopIndexing();
    const bool flushed = cycle->flushAll();
    cycle.reset();
    const double closeMs = clock.nsecsElapsed() / 1e6;
    const qint64 polled = project.samplesPolled();
    const qint64 rows = project.rowsOfThisProject();
    std::printf("   closed at \"%s\": close took %.1f ms, everything written: %s; samples polled "
                "%lld, rows stored %lld (with %d gap records); index present: %s\n",
                qPrintable(shown), closeMs, flushed ? "yes" : "NO", static_cast<long long>(polled),
                static_cast<long long>(rows), Gateways * NodesPerGateway,
                project.indexed() ? "yes (NOT interrupted)" : "no");
    std::printf("   longest event-loop stall before the close %.1f ms\n", probe.before());
}

// Another program holding the write lock while it lives (a report, a backup).
class LockHolder
{
public:
    explicit LockHolder(const QString& database) : name(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(database);
        locked = db.open() && QSqlQuery(db).exec(QStringLiteral("begin immediate"));
    }
    ~LockHolder()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            QSqlQuery(db).exec(QStringLiteral("rollback"));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    bool locked = false;

private:
    QString name;
};

void recordUnderLock(const QString& folder, GatewaySimulator& sim, int lockSeconds)
{
    Project project(folder, QString(), sim);
    RecordingCycle cycle(project.path, QUuid::createUuid().toString(), project.gateways, 1000);
    if (!cycle.open()) {
        std::fprintf(stderr, "cannot open the project\n");
        std::exit(1);
    }
    cycle.startRecording();
    cycle.startPolling();
    QElapsedTimer clock;
    clock.start();
    runUntil([&] { return clock.elapsed() >= 3000; }, 4000);
    StallProbe probe;
    auto holder = std::make_unique<LockHolder>(project.database);
    const bool locked = holder->locked;
    QString warning;
    runUntil(
        [&] {
            if (!cycle.writeWarning().isEmpty())
                warning = cycle.writeWarning();
            return clock.elapsed() >= 3000 + lockSeconds * 1000LL;
        },
        lockSeconds * 1000LL + 5000);
    holder.reset();
    probe.splitHere();
    const qint64 lockedUntil = clock.elapsed();
    runUntil([&] { return clock.elapsed() >= lockedUntil + 8000; }, 9000);
    cycle.stopRecording();
    runUntil([&] { return cycle.pendingCount() == 0; }, 10000);
    const qint64 polled = project.samplesPolled();
    const qint64 rows = project.rowsOfThisProject();
    std::printf("   lock held: %s; shown meanwhile: \"%s\"\n", locked ? "yes" : "NO",
                qPrintable(warning));
    std::printf("   longest event-loop stall while the lock was held (%d s): %.1f ms; after it: "
                "%.1f ms\n",
                lockSeconds, probe.before(), probe.after());
    std::printf("   samples polled %lld, rows stored %lld (with %d gap records), waiting %d\n",
                static_cast<long long>(polled), static_cast<long long>(rows),
                Gateways * NodesPerGateway, cycle.pendingCount());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(dropDebugTraces);
    const int days = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const int afterSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const int lockSeconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 8;

    QVector<GatewaySimulator::Gateway> config;
    for (int g = 0; g < Gateways; ++g) {
        GatewaySimulator::Gateway gateway = GatewaySimulator::gateway(
            g % 2 ? QStringLiteral("TQ700") : QStringLiteral("TQ100"), {0, 4});
        gateway.nodes[0].ch1 = QStringLiteral("sine:20,5,60");
        gateway.nodes[1].ch2 = QStringLiteral("ramp:0,0.5,0,100");
        config << gateway;
    }
    GatewaySimulator sim;
    if (!sim.start(config)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorString()));
        return 1;
    }

    QTemporaryDir dir;
    const QString project = dir.filePath(QStringLiteral("source.tpc"));
    QElapsedTimer clock;
    clock.start();
    const qint64 first = QDateTime(QDate(2026, 1, 1), QTime(0, 0)).toSecsSinceEpoch();
    if (!dir.isValid() || !SampleDatabaseGenerator::generate(
                               SampleDatabaseGenerator::unbrokenRecording(project, first, days))
                               .ok) {
        std::fprintf(stderr, "cannot generate the %d-day file\n", days);
        return 1;
    }
    const QString source = ProjectFile::databasePath(project);
    std::printf("%d-day file without the index: %lld rows, %lld bytes, generated in %.1f s\n", days,
                static_cast<long long>(qint64(days) * 86400 * SampleDatabaseGenerator::MaxNodes),
                static_cast<long long>(QFileInfo(source).size()), clock.nsecsElapsed() / 1e9);
    std::printf("before: opening it blocked the GUI thread for the period's two scans: %.0f ms\n",
                openedBefore(source));
    std::printf("after, %d gateways / %d nodes at 1 s recording from the simulator:\n", Gateways,
                Gateways * NodesPerGateway);
    buildWhileRecording(dir.filePath(QStringLiteral("build")), source, sim, afterSeconds);
    std::printf("after, the same project closed halfway through the build:\n");
    closeDuringBuild(dir.filePath(QStringLiteral("close")), source, sim);
    std::printf("a new file while another connection holds the write lock for %d s:\n",
                lockSeconds);
    recordUnderLock(dir.filePath(QStringLiteral("locked")), sim, lockSeconds);
    return 0;
}
