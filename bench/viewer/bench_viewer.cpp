// Usage: bench_viewer [--dir DIR] [--steps N] [--phase cold|warm|warm-disk|check|steps|export]
// Start times count from the start of the process, before the application object.
// The data viewer on a 30-day, 16-node, 1 s database (41.5 million rows, with the range index),
// generated into DIR the first time (kept for later runs). Prints:
//  - start to the first drawn view of the last day, without and with the summary of an earlier
//    session (its file in the page cache, and read from the disk), and the time the first
//    summary takes;
//  - what checking an earlier session's summary against the file costs: reading the recorder's
//    summary marks, and counting every block of ids again (for files without them);
//  - scripted zoom and scroll steps from the whole month down to one minute with 4 channels of
//    4 nodes: each step from the input event to the drawn charts, p50/p95/max;
//  - the same windows read as plain rows (what a viewer without the summary reads), as the
//    baseline the steps are compared with;
//  - resident memory after every step and the peak of the process;
//  - CSV export of 2 channels of one node for the month by the Trendscope program, against the
//    sqlite3 program writing the same rows as CSV.
// Each part runs in a process of its own, as the program does, so the memory figures are one
// session's. Run it with QT_QPA_PLATFORM=offscreen; build in Release.
#include "bucketmarks.h"
#include "chartstack.h"
#include "meankinetictemperature.h"
#include "qchartviewer.h"
#include "sampledatabasegenerator.h"
#include "samplesummary.h"
#include "summarybuilder.h"
#include "trendchart.h"
#include "trendscopewindow.h"
#include "viewercommandline.h"
#include "viewersamplereader.h"
#include "viewersession.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QWheelEvent>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

namespace {

long statusKb(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLong();
    return 0;
}

long sampleRss()
{
    return statusKb("VmRSS:");
}

// Drops a file and its write-ahead log from the page cache: written back first, since dirty
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

double percentile(QVector<double> values, double p)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int i = std::min(int(values.size()) - 1, int(std::ceil(p * values.size())) - 1);
    return values[std::max(0, i)];
}

// Runs the event loop until done() or the time is up. The loop sleeps between events (a tick
// wakes it to look again): a loop that spins would take a processor from the threads measured.
bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    QTimer tick;
    tick.start(2);
    while (!done() && timer.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// Until the charts show the answer to the newest request, then paints it.
bool drawn(TrendscopeWindow* window, int timeoutMs)
{
    const bool ok = waitFor(
        [window]() {
            return window->requestedId() > 0 && window->drawnId() == window->requestedId();
        },
        timeoutMs);
    QApplication::processEvents();
    return ok;
}

QVector<int> fourNodes(const ChannelCatalog& catalog)
{
    // Channel 1 of nodes 1 and 5, channel 2 of node 9, channel 1 of node 13.
    QVector<int> chosen;
    for (const QString& key :
         {QStringLiteral("GEN-0001_channel1"), QStringLiteral("GEN-0005_channel1"),
          QStringLiteral("GEN-0009_channel2"), QStringLiteral("GEN-0013_channel1")})
        chosen << catalog.find(key);
    return chosen;
}

struct StartFigures
{
    double firstView = 0; // from the start of the process
    double shown = 0;
    double period = 0;
    double queryMs = 0;
    double summary = 0;
};

// `clock` started with the process.
StartFigures start(const ViewerCommandLine::Options& options, const QElapsedTimer& clock,
                   bool waitForSummary)
{
    StartFigures figures;
    auto* session = new ViewerSession(options.projectPath, options.devices);
    TrendscopeWindow window(session);
    window.resize(1360, 860);
    window.show();
    window.setChosen(fourNodes(session->catalog()));
    figures.shown = clock.nsecsElapsed() / 1e6;
    QObject::connect(session, &ViewerSession::periodChanged, &window, [&]() {
        if (figures.period == 0)
            figures.period = clock.nsecsElapsed() / 1e6;
    });
    QObject::connect(session, &ViewerSession::viewReady, &window, [&](const ViewQuery::Result& r) {
        if (figures.queryMs == 0 && r.slot == TrendscopeWindow::ChartSlot && !r.series.isEmpty())
            figures.queryMs = r.queryMs;
    });
    // The first drawn view of the last day: complete data, not a placeholder.
    bool complete = false;
    QObject::connect(&window, &TrendscopeWindow::viewDrawn, &window, [&]() {
        const ViewQuery::Result& r = window.findChild<ChartStack*>()->result();
        bool all = !r.series.isEmpty();
        for (const ViewQuery::Series& s : r.series)
            all = all && s.complete && s.kind != ViewQuery::Series::Nothing;
        if (all && !complete) {
            complete = true;
            figures.firstView = clock.nsecsElapsed() / 1e6;
        }
    });
    waitFor([&]() { return complete; }, 120000);
    sampleRss();
    if (waitForSummary) {
        waitFor([&]() { return session->isSummaryComplete(); }, 1800000);
        figures.summary = clock.nsecsElapsed() / 1e6;
    }
    sampleRss();
    window.close();
    return figures;
}

// The rows a viewer without a summary reads for a window: all samples of the four nodes.
double plainRead(const QString& database, double from, double to)
{
    ViewerSampleReader store;
    store.open(database);
    QElapsedTimer clock;
    clock.start();
    qint64 rows = 0;
    for (const char* serial : {"GEN-0001", "GEN-0005", "GEN-0009", "GEN-0013"})
        store.nodeRows(QByteArray(serial), qint64(from), qint64(to), [&](const StoredRow&) {
            ++rows;
            return true;
        });
    return clock.nsecsElapsed() / 1e6;
}

// The mean kinetic temperature of one node's first channel (degC) over [from, to], read from the
// rows plainly: each value stands for the time to the next, at most the 1 s interval.
double rowsMeanKinetic(const QString& database, const QByteArray& serial, qint64 from, qint64 to)
{
    ViewerSampleReader store;
    store.open(database);
    MeanKineticTemperature mkt(MeanKineticTemperature::Scale::Celsius);
    bool held = false;
    qint64 heldTime = 0;
    double heldValue = 0;
    store.nodeRows(serial, from, to, [&](const StoredRow& row) {
        if (!row.present[0])
            return true;
        if (held)
            mkt.add(heldValue, double(qMin<qint64>(row.time - heldTime, 1)));
        held = true;
        heldTime = row.time;
        heldValue = row.value[0];
        return true;
    });
    if (held)
        mkt.add(heldValue, double(qMin<qint64>(to + 1 - heldTime, 1)));
    return mkt.value();
}

} // namespace

namespace {

struct Setup
{
    QString dir;
    QString project;
    QString database;
    ViewerCommandLine::Options options;
    qint64 first = 0;
    qint64 last = 0;
    QElapsedTimer processClock; // started first thing in main()
};

int coldOrWarm(const Setup& setup, bool cold, bool fromDisk, QTextStream& out)
{
    if (fromDisk)
        evict(SummaryBuilder::snapshotPath(setup.database));
    const StartFigures figures = start(setup.options, setup.processClock, cold);
    const double plainDay =
        plainRead(setup.database, double(setup.last - 86400), double(setup.last));
    if (cold) {
        out << "  no summary yet (first session): " << figures.firstView << " ms; summary of "
            << "41.5 M rows complete after " << figures.summary / 1000.0 << " s" << Qt::endl;
    } else {
        out << "  summary of an earlier session"
            << (fromDisk ? ", its file read from the disk: " : ", its file in the page cache: ")
            << figures.firstView << " ms" << Qt::endl;
    }
    out << "    (from the process start: window shown " << figures.shown << " ms, period known "
        << figures.period << " ms, the view's queries took " << figures.queryMs << " ms, drawn "
        << figures.firstView << " ms)" << Qt::endl;
    out << "    baseline, the day's rows of the 4 nodes read plainly: " << plainDay << " ms; ratio "
        << figures.firstView / plainDay << "; peak resident memory " << statusKb("VmHWM:") / 1024
        << " MB" << Qt::endl;
    return 0;
}

// What checking an earlier session's summary against the file costs, with the database's pages
// in the page cache and without: the recorder's summary marks read once (files that have
// them), and every block of ids counted again (files without them; the newest day's blocks
// are what the first view waits for).
int checkPhase(const Setup& setup, QTextStream& out)
{
    out << "checking an earlier session's summary against the file:" << Qt::endl;
    for (bool cold : {true, false}) {
        if (cold)
            evict(setup.database);
        ViewerSampleReader store;
        store.open(setup.database);
        QElapsedTimer clock;
        clock.start();
        BucketMarks marks;
        qint64 maxId = 0;
        marks.read(&store, &maxId);
        const double marksMs = clock.nsecsElapsed() / 1e6;
        if (cold)
            evict(setup.database);
        clock.restart();
        double dayMs = 0;
        qint64 rows = 0;
        int blocks = 0;
        const qint64 dayRows = 86400LL * 16;
        for (qint64 key = maxId / SampleSummary::BlockIds; key >= 0; --key, ++blocks) {
            ViewerSampleReader::IdDigest digest;
            store.idDigest(key * SampleSummary::BlockIds, (key + 1) * SampleSummary::BlockIds - 1,
                           &digest);
            rows += digest.count;
            if (dayMs == 0 && rows >= dayRows)
                dayMs = clock.nsecsElapsed() / 1e6;
        }
        const double digestMs = clock.nsecsElapsed() / 1e6;
        out << (cold ? "  database not in the page cache: " : "  database in the page cache:     ")
            << "recorder's summary marks (" << marks.size() << " buckets) " << marksMs
            << " ms; id digests, the newest day " << dayMs << " ms, all " << blocks << " blocks ("
            << rows << " rows) " << digestMs / 1000.0 << " s" << Qt::endl;
    }
    return 0;
}

int stepsPhase(const Setup& setup, int steps, QTextStream& out)
{
    auto* session = new ViewerSession(setup.options.projectPath, setup.options.devices);
    TrendscopeWindow window(session);
    window.resize(1360, 860);
    window.show();
    window.setChosen(fourNodes(session->catalog()));
    waitFor([&]() { return session->isSummaryComplete(); }, 600000);
    drawn(&window, 60000);
    auto* stack = window.findChild<ChartStack*>();
    QVector<double> stepMs;
    QVector<double> spans;
    long maxStepRss = 0;
    const TimeWindow& time = window.timeWindow();
    window.showRange(time.first(), time.last());
    drawn(&window, 60000);
    int direction = 1; // zooming in
    for (int step = 0; step < steps; ++step) {
        QElapsedTimer clock;
        clock.start();
        if (step % 5 == 4) {
            // Scroll with the keys, alternately left and right.
            QKeyEvent key(QEvent::KeyPress, step % 10 == 4 ? Qt::Key_Left : Qt::Key_Right,
                          Qt::NoModifier);
            QApplication::sendEvent(&window, &key);
        } else {
            // Zoom with the wheel at a pointer position that wanders across the plot.
            QChartViewer* viewer = stack->viewer(step % 4);
            const QPointF at(TrendChart::LeftMargin + (step * 37 % 100) / 100.0 * stack->columns(),
                             viewer->height() / 2);
            QWheelEvent wheel(at, viewer->mapToGlobal(at.toPoint()), QPoint(),
                              QPoint(0, direction * 120), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(viewer, &wheel);
        }
        if (!drawn(&window, 30000)) {
            out << "step " << step << " was not drawn" << Qt::endl;
            return 1;
        }
        stepMs << clock.nsecsElapsed() / 1e6;
        spans << time.span();
        maxStepRss = std::max(maxStepRss, sampleRss());
        if (direction > 0 && time.span() <= 60.0 + 1e-6)
            direction = -1;
        else if (direction < 0 && time.span() >= time.last() - time.first() - 1)
            direction = 1;
    }
    const double minSpan = *std::min_element(spans.begin(), spans.end());
    const double maxSpan = *std::max_element(spans.begin(), spans.end());
    out << "zoom and scroll steps, 4 channels of 4 nodes: " << stepMs.size()
        << " steps, spans from " << minSpan << " s to " << maxSpan / 86400 << " days" << Qt::endl;
    out << "  p50 " << percentile(stepMs, 0.5) << " ms, p95 " << percentile(stepMs, 0.95)
        << " ms, max " << percentile(stepMs, 1.0) << " ms" << Qt::endl;
    out << "  baseline, the same windows read as plain rows:" << Qt::endl;
    for (const auto& [name, span] : {std::pair<const char*, double>{"month", 30 * 86400.0},
                                     {"week", 7 * 86400.0},
                                     {"day", 86400.0},
                                     {"hour", 3600.0}}) {
        const double plain =
            plainRead(setup.database, double(setup.last) - span, double(setup.last));
        window.showRange(double(setup.last) - span, double(setup.last));
        drawn(&window, 30000);
        // One second along: a step's own cost, for the ratio.
        QElapsedTimer clock;
        clock.start();
        window.showRange(double(setup.last) - span - 1, double(setup.last) - 1);
        drawn(&window, 30000);
        const double ours = clock.nsecsElapsed() / 1e6;
        out << "    " << name << ": plain rows " << plain << " ms, viewer step " << ours
            << " ms, ratio " << plain / std::max(0.001, ours) << Qt::endl;
        if (std::string(name) == "month") {
            // The statistics' mean kinetic temperature of the first channel against the rows'.
            const ViewQuery::Result& shown = stack->result();
            const double rowsFigure =
                rowsMeanKinetic(setup.database, "GEN-0001", qint64(std::ceil(shown.from)),
                                qint64(std::floor(shown.to)));
            out << "      MKT of GEN-0001 channel 1 over the month: viewer "
                << QString::number(shown.series.value(0).meanKinetic, 'f', 4) << ", rows "
                << QString::number(rowsFigure, 'f', 4) << Qt::endl;
        }
        sampleRss();
    }
    out << "resident memory of the session: largest after a step " << maxStepRss / 1024
        << " MB, peak of the process (VmHWM) " << statusKb("VmHWM:") / 1024 << " MB" << Qt::endl;
    return 0;
}

int exportPhase(const Setup& setup, QTextStream& out)
{
    QTemporaryDir work;
    const QString viewer =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../../viewer/Trendscope");
    const QString csv = work.filePath(QStringLiteral("export.csv"));
    const QString timeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    const qint64 from = setup.last - 30 * 86400 + 1;
    QElapsedTimer clock;
    clock.start();
    const int code = QProcess::execute(
        viewer, {QStringLiteral("--export-csv"), csv, QStringLiteral("--from"),
                 QDateTime::fromSecsSinceEpoch(from).toString(timeFormat), QStringLiteral("--to"),
                 QDateTime::fromSecsSinceEpoch(setup.last).toString(timeFormat),
                 QStringLiteral("--channels"),
                 QStringLiteral("GEN-0003_channel1,GEN-0003_channel2"), setup.project});
    const double exportMs = clock.nsecsElapsed() / 1e6;
    qint64 lines = 0;
    QFile f(csv);
    if (f.open(QIODevice::ReadOnly))
        while (!f.atEnd()) {
            f.readLine();
            ++lines;
        }
    clock.restart();
    QProcess sqlite;
    sqlite.setStandardOutputFile(work.filePath(QStringLiteral("plain.csv")));
    sqlite.start(QStringLiteral("sqlite3"),
                 {QStringLiteral("-readonly"), QStringLiteral("-csv"), setup.database,
                  QStringLiteral("select datetime(pointDate, 'unixepoch', 'localtime'), pointDate, "
                                 "channel1, channel2 from quorbinal where serialno = 'GEN-0003' "
                                 "and pointDate between %1 and %2 order by pointDate")
                      .arg(from)
                      .arg(setup.last)});
    sqlite.waitForFinished(600000);
    const double sqliteMs = clock.nsecsElapsed() / 1e6;
    out << "CSV export, 2 channels of one node, the month: exit code " << code << ", " << lines - 1
        << " rows, " << QFileInfo(csv).size() / 1048576 << " MB in " << exportMs / 1000.0
        << " s; sqlite3 writing the same rows: " << sqliteMs / 1000.0 << " s; ratio "
        << exportMs / sqliteMs << Qt::endl;
    return code;
}

} // namespace

int main(int argc, char* argv[])
{
    QElapsedTimer processClock;
    processClock.start();
    // Only the figures on the output: the programs' traces and the offscreen platform's notes
    // are dropped.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Trendscope"));
    QTextStream out(stdout);
    Setup setup;
    setup.processClock = processClock;
    setup.dir = QDir::tempPath() + QStringLiteral("/bench-viewer");
    int steps = 240;
    QString phase;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--dir"))
            setup.dir = args[++i];
        else if (args[i] == QLatin1String("--steps"))
            steps = args[++i].toInt();
        else if (args[i] == QLatin1String("--phase"))
            phase = args[++i];
    }
    setup.project = setup.dir + QStringLiteral("/Month.tpc");
    setup.database = QFileInfo(setup.dir + QStringLiteral("/Month.dat")).absoluteFilePath();
    if (phase.isEmpty() && !QFileInfo::exists(setup.database)) {
        out << "generating 30 days x 16 nodes x 1 s into " << setup.dir << " ..." << Qt::endl;
        SampleDatabaseGenerator::Options options;
        options.projectPath = setup.project;
        options.seconds = 30 * 86400;
        options.end = QDateTime::currentSecsSinceEpoch() / 60 * 60;
        options.nodes = 16;
        options.seed = 12;
        options.gaps = 10;
        options.nullRows = 20;
        options.spikes = 5;
        options.excursions = 10;
        options.index = true;
        QElapsedTimer clock;
        clock.start();
        const SampleDatabaseGenerator::Result r = SampleDatabaseGenerator::generate(options);
        if (!r.ok) {
            out << "generation failed: " << r.error << Qt::endl;
            return 1;
        }
        out << "generated " << r.rows << " rows in " << clock.elapsed() / 1000.0 << " s"
            << Qt::endl;
    }
    QString error;
    if (!ViewerCommandLine::parse({setup.project}, &setup.options, &error)) {
        out << error << Qt::endl;
        return 1;
    }
    {
        ViewerSampleReader store;
        store.open(setup.database);
        store.recordedPeriod(&setup.first, &setup.last);
    }
    if (phase == QLatin1String("cold") || phase == QLatin1String("warm") ||
        phase == QLatin1String("warm-disk"))
        return coldOrWarm(setup, phase == QLatin1String("cold"),
                          phase == QLatin1String("warm-disk"), out);
    if (phase == QLatin1String("check"))
        return checkPhase(setup, out);
    if (phase == QLatin1String("steps"))
        return stepsPhase(setup, steps, out);
    if (phase == QLatin1String("export"))
        return exportPhase(setup, out);

    out << "database " << setup.database << ", " << QFileInfo(setup.database).size() / 1048576
        << " MB" << Qt::endl;
    // The summary of earlier sessions lives in the cache folder: a fresh one for the first
    // session, kept for the others.
    QTemporaryDir cache;
    QTemporaryDir config;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    out << "start to first drawn view of the last day (4 channels):" << Qt::endl;
    int failures = 0;
    for (const QString& part :
         {QStringLiteral("cold"), QStringLiteral("warm"), QStringLiteral("warm-disk"),
          QStringLiteral("check"), QStringLiteral("steps"), QStringLiteral("export")}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--phase"), part, QStringLiteral("--dir"), setup.dir,
                     QStringLiteral("--steps"), QString::number(steps)});
        child.waitForFinished(-1);
        failures += child.exitCode() != 0 ? 1 : 0;
    }
    return failures;
}
