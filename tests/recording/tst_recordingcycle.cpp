#include "audittrail.h"
#include "auditverifier.h"
#include "configureddevice.h"
#include "databasepeek.h"
#include "databasewriter.h"
#include "flushpolicy.h"
#include "gatewaysimulator.h"
#include "nodedevice.h"
#include "projectfile.h"
#include "recordingcycle.h"
#include "recordingtestsupport.h"
#include "samplereader.h"
#include "sampleseal.h"
#include "sqliteconnection.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <memory>

struct Tick
{
    qint64 atMs;
    int pending;
    bool due;
    bool fails = false; // the write that is due fails
    int left = 0;       // samples still waiting after the write that is due
    bool reset = false; // the recording stops after this tick
};
Q_DECLARE_METATYPE(QVector<Tick>)

namespace {

const char* const TimeFormat = "yyyy-MM-dd hh:mm:ss";

} // namespace

// The recording run time of one project without a window: flush decisions, failed writes, the
// stop and the end of the program, against a temporary database and, where polls matter, the
// gateway simulator.
class TestRecordingCycle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void flushTicks_data();
    void flushTicks();
    void stopWritesGapRecordsAndStopTime();
    void recordedPeriodKeepsFirstStart();
    void failedWriteBacksOffAndWarns();
    void oldFileIndexedWhileRecording_data();
    void oldFileIndexedWhileRecording();
    void shutdownWritesWhatWaits();
    void pollsRecordedUntilStop();
    void samplesDatedByTheirRead_data();
    void samplesDatedByTheirRead();
    void recordingSealsEveryQuarter_data();
    void recordingSealsEveryQuarter();

private:
    // A project with one gateway per port (one node each) and its open cycle on a fake clock.
    std::unique_ptr<RecordingCycle> openCycle(const QList<quint16>& ports, int interval = 1000);
    // One sample of every node, one second after the previous ones.
    void sampleAll(const QString& value);
    QString database() const { return ProjectFile::databasePath(project); }

    std::unique_ptr<QTemporaryDir> dir;
    QString project;
    QList<ConfiguredDevice*> gateways;
    QDateTime now;
    QDateTime sampleTime;
};

void TestRecordingCycle::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestRecordingCycle::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    project = dir->filePath(QStringLiteral("cycle.tpc"));
    now = QDateTime(QDate(2024, 3, 31), QTime(1, 59, 0));
    sampleTime = now.addSecs(-600);
}

void TestRecordingCycle::cleanup()
{
    qDeleteAll(gateways);
    gateways.clear();
    dir.reset();
}

std::unique_ptr<RecordingCycle> TestRecordingCycle::openCycle(const QList<quint16>& ports,
                                                              int interval)
{
    ProjectFile(project).create(interval);
    int number = 0;
    for (quint16 port : ports) {
        GatewayConfig gateway;
        gateway.ipAddress = QStringLiteral("127.0.0.1");
        gateway.port = port;
        NodeConfig node;
        node.deviceNumber = QStringLiteral("N%1").arg(++number);
        gateway.nodes << node;
        gateways << ConfiguredDevice::fromConfig(gateway);
    }
    auto cycle = std::make_unique<RecordingCycle>(project, QUuid::createUuid().toString(), gateways,
                                                  interval);
    cycle->setClock([this] { return now; });
    if (!cycle->open())
        return nullptr;
    return cycle;
}

void TestRecordingCycle::sampleAll(const QString& value)
{
    sampleTime = sampleTime.addSecs(1);
    for (ConfiguredDevice* gateway : qAsConst(gateways)) {
        gateway->lastPollTime = sampleTime;
        for (NodeDevice* node : gateway->nodes())
            node->setData(value, value, {}, {}, sampleTime, false);
    }
}

void TestRecordingCycle::flushTicks_data()
{
    QTest::addColumn<int>("gatewayCount");
    QTest::addColumn<QVector<Tick>>("ticks");
    QTest::newRow("one gateway: 7 waits, 8 writes")
        << 1 << QVector<Tick>{{0, 7, false}, {1500, 7, false}, {3000, 8, true}};
    QTest::newRow("two gateways: 15 waits, 16 writes")
        << 2 << QVector<Tick>{{0, 8, false}, {1500, 15, false}, {3000, 16, true}};
    QTest::newRow("no gateway counts as one") << 0 << QVector<Tick>{{0, 8, true}};
    QTest::newRow("10-minute interval: one sample flushed within a minute")
        << 1 << QVector<Tick>{{0, 0, false}, {1500, 1, false}, {57000, 1, false}, {60000, 1, true}};
    QTest::newRow("age counts from the first waiting sample") << 3
                                                              << QVector<Tick>{{0, 1, false},
                                                                               {30000, 0, false},
                                                                               {31500, 2, false},
                                                                               {88500, 2, false},
                                                                               {90000, 2, true}};
    QTest::newRow("failing file: one attempt in five seconds")
        << 1 << QVector<Tick>{{0, 8, true, true},     {1500, 9, false},  {4500, 11, false},
                              {5000, 11, true, true}, {6500, 12, false}, {10000, 13, true},
                              {11500, 1, false}};
    QTest::newRow("failed small batch: retried after the back-off, not a minute later")
        << 1
        << QVector<Tick>{
               {0, 1, false}, {58500, 1, true, true}, {60000, 1, false}, {63500, 1, true}};
    QTest::newRow("samples left after a write keep their age")
        << 1 << QVector<Tick>{{0, 1, false}, {58500, 1, true, false, 1}, {60000, 1, true}};
    QTest::newRow("a stop starts the age again")
        << 1 << QVector<Tick>{{0, 1, false, false, 0, true}, {58500, 1, false}, {117000, 1, true}};
}

// Catches: samples kept in memory for up to 80 minutes, batches written below the threshold,
// or a file that cannot be written tried at every tick (each attempt blocks the window).
void TestRecordingCycle::flushTicks()
{
    QFETCH(int, gatewayCount);
    QFETCH(QVector<Tick>, ticks);
    FlushPolicy policy;
    for (const Tick& tick : ticks) {
        QVERIFY2(policy.due(tick.pending, gatewayCount, tick.atMs) == tick.due,
                 qPrintable(QString::number(tick.atMs)));
        if (tick.due && tick.fails)
            policy.failed(tick.atMs);
        else if (tick.due)
            policy.flushed(tick.left);
        if (tick.reset)
            policy.reset();
    }
}

// Catches: gap records missing or dated wrong, samples left waiting after the stop, or the stop
// time not written into the project file.
void TestRecordingCycle::stopWritesGapRecordsAndStopTime()
{
    auto cycle = openCycle({1, 2});
    QVERIFY(cycle);
    QSignalSpy recording(cycle.get(), &RecordingCycle::recordingChanged);
    cycle->startRecording();
    sampleAll(QStringLiteral("21.50"));
    sampleAll(QStringLiteral("22.25"));
    now = now.addSecs(90);
    cycle->stopRecording();
    QVERIFY(!cycle->isRecording());
    QTRY_COMPARE(cycle->pendingCount(), 0);
    QCOMPARE(recording.size(), 2);
    QCOMPARE(recording[1][0].toBool(), false);
    const qint64 last = sampleTime.toSecsSinceEpoch();
    QCOMPARE(storedRows(database()), (QStringList{QStringLiteral("N1 21.5 21.5 %1").arg(last - 1),
                                                  QStringLiteral("N2 21.5 21.5 %1").arg(last - 1),
                                                  QStringLiteral("N1 22.25 22.25 %1").arg(last),
                                                  QStringLiteral("N2 22.25 22.25 %1").arg(last),
                                                  QStringLiteral("N1 - - %1").arg(last + 1),
                                                  QStringLiteral("N2 - - %1").arg(last + 1)}));
    const ProjectFile file(project);
    QCOMPARE(file.value(QStringLiteral("record_start_time")),
             now.addSecs(-90).toString(QLatin1String(TimeFormat)));
    QCOMPARE(file.value(QStringLiteral("record_stop_time")),
             now.toString(QLatin1String(TimeFormat)));
    // Stopped, nothing more is stored.
    sampleAll(QStringLiteral("23.00"));
    QCOMPARE(cycle->pendingCount(), 0);
}

// Catches: a second recording, or a database that already holds samples, overwriting the start
// of the recorded period.
void TestRecordingCycle::recordedPeriodKeepsFirstStart()
{
    auto cycle = openCycle({1});
    QVERIFY(cycle);
    QVERIFY(cycle->recordStartTime().isEmpty());
    const QString first = now.toString(QLatin1String(TimeFormat));
    cycle->startRecording();
    sampleAll(QStringLiteral("1.00"));
    now = now.addSecs(60);
    cycle->stopRecording();
    now = now.addSecs(3600);
    cycle->startRecording();
    QCOMPARE(cycle->recordStartTime(), first);
    QCOMPARE(ProjectFile(project).value(QStringLiteral("record_start_time")), first);
    now = now.addSecs(5);
    QSignalSpy times(cycle.get(), &RecordingCycle::recordTimesChanged);
    cycle->clockTick();
    QCOMPARE(times.size(), 1);
    QCOMPARE(times[0][1].toString(), now.toString(QLatin1String(TimeFormat)));
    cycle->stopRecording();

    // Opened again, the period starts at the first stored sample.
    cycle.reset();
    qDeleteAll(gateways);
    gateways.clear();
    cycle = openCycle({1});
    QVERIFY(cycle);
    QCOMPARE(cycle->recordStartTime(), sampleTime.toString(QLatin1String(TimeFormat)));
    QCOMPARE(cycle->recordEndTime(), sampleTime.addSecs(1).toString(QLatin1String(TimeFormat)));
    QVERIFY(cycle->databaseSize() > 0);
}

// Catches: a failing file that goes unnoticed, is retried at every tick, or whose samples are
// lost; samples dropped at the queue's bound without the user told; a warning that stays after
// the file can be written again.
void TestRecordingCycle::failedWriteBacksOffAndWarns()
{
    auto cycle = openCycle({1});
    QVERIFY(cycle);
    cycle->sampleWriter()->setPendingLimit(9);
    QSignalSpy warnings(cycle.get(), &RecordingCycle::writeWarningChanged);
    cycle->startRecording();
    for (int i = 0; i < FlushPolicy::SingleGatewayBatch; ++i)
        sampleAll(QStringLiteral("5.00"));
    auto holder = std::make_unique<LockHolder>(database());
    QVERIFY(holder->locked);
    QElapsedTimer attempt;
    attempt.start();
    cycle->writeDb();
    // The attempt waits for the lock on the writer's thread, never on the window's.
    QVERIFY2(attempt.elapsed() < 100, qPrintable(QString::number(attempt.elapsed())));
    QCOMPARE(cycle->pendingCount(), 8);
    QTRY_COMPARE(cycle->writeWarning(),
                 QStringLiteral("Database write failing: 8 samples waiting"));

    holder.reset();
    sampleAll(QStringLiteral("5.00"));
    sampleAll(QStringLiteral("6.00"));
    now = now.addMSecs(1500);
    cycle->writeDb();
    QTRY_COMPARE(cycle->writeWarning(),
                 QStringLiteral("Database write failing: 9 samples waiting, 1 oldest dropped"));
    QCOMPARE(cycle->pendingCount(), 9);
    now = now.addMSecs(3500);
    cycle->writeDb();
    QTRY_COMPARE(cycle->pendingCount(), 0);
    QTRY_VERIFY(cycle->writeWarning().isEmpty());
    QCOMPARE(storedRows(database()).size(), 9);
    QCOMPARE(warnings.first().first().toString(),
             QStringLiteral("Database write failing: 8 samples waiting"));
    QVERIFY(warnings.last().first().toString().isEmpty());
}

void TestRecordingCycle::oldFileIndexedWhileRecording_data()
{
    QTest::addColumn<bool>("indexed");
    QTest::newRow("table alone") << false;
    QTest::newRow("index without the summary") << true;
}

// Catches: a file without the index scanned at open on the GUI thread or left without it, or
// one without the summary left so; flushes during the build (which holds the write lock)
// waiting for the lock, failing or warning; samples lost, or missing from the summary; the old
// samples' period not shown, or overwritten by the new start.
void TestRecordingCycle::oldFileIndexedWhileRecording()
{
    QFETCH(bool, indexed);
    ProjectFile(project).create(1000);
    const QDateTime first = now.addDays(-3);
    QVERIFY(writeOldDatabase(database(), 1000000, first.toSecsSinceEpoch()));
    if (indexed)
        DatabasePeek::scalar(database(), SampleTable::createIndexStatement());
    QCOMPARE(DatabasePeek::scalar(database(),
                                  QStringLiteral("select count(*) from sqlite_master where name = "
                                                 "'") +
                                      SampleTable::indexName() + QLatin1Char('\'')),
             indexed ? 1 : 0);
    auto cycle = openCycle({1, 2});
    QVERIFY(cycle);
    QVERIFY(cycle->isIndexing());
    QVERIFY2(cycle->indexingState().startsWith(QLatin1String("Indexing database...")),
             qPrintable(cycle->indexingState()));
    // Through the index at once; without it, once the build has made it.
    QCOMPARE(cycle->recordStartTime().isEmpty(), !indexed);
    QSignalSpy warnings(cycle.get(), &RecordingCycle::writeWarningChanged);

    cycle->startRecording();
    for (int i = 0; i < 2 * FlushPolicy::MultiGatewayBatch; ++i) {
        sampleAll(QStringLiteral("4.00"));
        now = now.addMSecs(FlushPolicy::TickMs);
        cycle->writeDb();
    }
    cycle->stopRecording();
    const QString stopped = now.toString(QLatin1String(TimeFormat));
    QVERIFY(cycle->isIndexing());
    QCOMPARE(cycle->pendingCount(), 2 * (2 * FlushPolicy::MultiGatewayBatch + 1));

    QTRY_VERIFY_WITH_TIMEOUT(!cycle->isIndexing(), 120000);
    QVERIFY(cycle->indexingState().isEmpty());
    QVERIFY(SampleReader(database()).hasIndex());
    QVERIFY(SampleReader(database()).hasSummary());
    QTRY_COMPARE(cycle->pendingCount(), 0);
    QCOMPARE(DatabasePeek::scalar(database(),
                                  QStringLiteral("select sum(rowCount) from quorbinal_summary")),
             DatabasePeek::scalar(database(), QStringLiteral("select count(*) from quorbinal")));
    QVERIFY(warnings.isEmpty());
    const QStringList rows = storedRows(database(), QStringLiteral("serialno not like 'OLD%'"));
    QCOMPARE(rows.size(), 2 * (2 * FlushPolicy::MultiGatewayBatch + 1));
    QVERIFY(rows.last().startsWith(QLatin1String("N2 - - ")));
    QCOMPARE(cycle->recordStartTime(), first.toString(QLatin1String(TimeFormat)));
    QCOMPARE(cycle->recordEndTime(), stopped);
    QCOMPARE(ProjectFile(project).value(QStringLiteral("record_start_time")),
             first.toString(QLatin1String(TimeFormat)));
}

// Catches: the end of the program losing what still waits (the back-off of a failed write is
// running, too few samples for a batch), the gap records or the stop time.
void TestRecordingCycle::shutdownWritesWhatWaits()
{
    auto cycle = openCycle({1});
    QVERIFY(cycle);
    cycle->startRecording();
    for (int i = 0; i < FlushPolicy::SingleGatewayBatch; ++i)
        sampleAll(QStringLiteral("7.00"));
    {
        LockHolder holder(database());
        cycle->writeDb();
        QTRY_VERIFY(!cycle->writeWarning().isEmpty());
    }
    sampleAll(QStringLiteral("7.50"));
    now = now.addSecs(1);
    QSignalSpy finished(cycle.get(), &RecordingCycle::shutdownFinished);
    cycle->shutdown();
    QVERIFY(!cycle->isRecording());
    QVERIFY(finished.wait(5000));
    QTRY_COMPARE(cycle->pendingCount(), 0);
    QTRY_VERIFY(cycle->writeWarning().isEmpty());
    const QStringList rows = storedRows(database());
    QCOMPARE(rows.size(), 10);
    QCOMPARE(rows.last(), QStringLiteral("N1 - - %1").arg(sampleTime.toSecsSinceEpoch() + 1));
    QCOMPARE(ProjectFile(project).value(QStringLiteral("record_stop_time")),
             now.toString(QLatin1String(TimeFormat)));
}

// Catches: the polling tick not reaching the gateways, or their samples not reaching the
// project's database. Polls may answer after poll() returns: the samples are awaited.
void TestRecordingCycle::pollsRecordedUntilStop()
{
    GatewaySimulator sim;
    GatewaySimulator::Gateway gateway = GatewaySimulator::gateway(QStringLiteral("TQ100"), {0});
    gateway.nodes[0].ch1 = QStringLiteral("12.5");
    gateway.nodes[0].ch2 = QStringLiteral("60");
    QVERIFY2(sim.start({gateway}), qPrintable(sim.errorString()));
    auto cycle = openCycle({sim.port(0)});
    QVERIFY(cycle);
    cycle->setClock([] { return QDateTime::currentDateTime(); });
    cycle->startRecording();
    cycle->startPolling();
    // Two polls of one second with the same values make one row (the batch's "union"), and the
    // 1 s timer may put two ticks in one second now and then, more often on a loaded machine:
    // six samples (below the batch of eight) leave at least four rows.
    QTRY_VERIFY_WITH_TIMEOUT(cycle->pendingCount() >= 6, 15000);
    cycle->stopRecording();
    QTRY_COMPARE(cycle->pendingCount(), 0);
    const QStringList rows = storedRows(database());
    QVERIFY2(rows.size() >= 4, qPrintable(rows.join(QLatin1Char('\n'))));
    for (int i = 0; i + 1 < rows.size(); ++i)
        QVERIFY2(rows[i].startsWith(QLatin1String("N1 12.5 60 ")), qPrintable(rows[i]));
    QVERIFY(rows.last().startsWith(QLatin1String("N1 - - ")));
}

void TestRecordingCycle::samplesDatedByTheirRead_data()
{
    QTest::addColumn<int>("interval");
    QTest::newRow("1 s") << 1000;
    QTest::newRow("10 min") << 600000;
}

// Catches: a sample dated one interval before it was read (a change lands in the wrong quarter
// or report hour), the first sample of a session dated by the gateway's construction, two rows
// of one node in one second at start-up, and a gap record not one interval after the last poll.
void TestRecordingCycle::samplesDatedByTheirRead()
{
    QFETCH(int, interval);
    GatewaySimulator sim;
    GatewaySimulator::Gateway gateway = GatewaySimulator::gateway(QStringLiteral("TQ100"), {0});
    gateway.nodes[0].ch1 = QStringLiteral("12.5");
    gateway.nodes[0].ch2 = QStringLiteral("60");
    QVERIFY2(sim.start({gateway}), qPrintable(sim.errorString()));
    auto cycle = openCycle({sim.port(0)}, interval);
    QVERIFY(cycle);
    cycle->startRecording();
    // The device timer's ticks, on the cycle's clock: the first at once.
    const qint64 first = now.toSecsSinceEpoch();
    cycle->writeDevice();
    QTRY_COMPARE(cycle->pendingCount(), 1);
    // The value changes just before the next poll reads it.
    QVERIFY(sim.setChannel(0, 0, 1, 30.0));
    now = now.addMSecs(interval);
    cycle->writeDevice();
    QTRY_COMPARE(cycle->pendingCount(), 2);
    now = now.addMSecs(interval / 2);
    cycle->stopRecording();
    QTRY_COMPARE(cycle->pendingCount(), 0);
    const qint64 step = interval / 1000;
    QCOMPARE(storedRows(database()),
             (QStringList{QStringLiteral("N1 12.5 60 %1").arg(first),
                          QStringLiteral("N1 30 60 %1").arg(first + step),
                          QStringLiteral("N1 - - %1").arg(first + 2 * step)}));
}

void TestRecordingCycle::recordingSealsEveryQuarter_data()
{
    // Steps: start, stop, tick (the database timer), flush (everything waiting written),
    // "sample N" (N seconds of samples), "wait N" (the clock moves on N seconds), "sealed N" (N
    // seals written so far), reopen (the program ends without stopping and starts again),
    // verified (the verification at the clock's time finds nothing), "resealed at start" (the
    // newest seal is the next start's of rows written after a seal).
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("seals"); // the quarters sealed in order, minutes after 01:45
    QTest::newRow("stopped within its first quarter")
        << QStringList{"start", "sample 5", "wait 90", "stop"} << QStringList{"0"};
    // The stop's gap records, dated after the last samples, reach the writer after the stop's
    // seals: their quarter is sealed again.
    QTest::newRow("quarters sealed once ended, an empty one too, then the stop")
        << QStringList{"start", "sample 5", "wait 960", "tick", "sample 5",  "wait 60",
                       "tick",  "wait 900", "tick",     "wait 60", "stop"}
        << QStringList{"0", "15", "30", "15"};
    QTest::newRow("not before the margin for answers on their way")
        << QStringList{"start", "sample 5", "wait 959", "tick", "sealed 0", "wait 2", "tick",
                       "sealed 1", "stop"}
        << QStringList{"0", "15", "0"};
    // The rows after the first stop's seal are sealed by the second stop, not by the flush.
    QTest::newRow("restarted within a sealed quarter: its rows sealed again")
        << QStringList{"start", "sample 5", "stop", "wait 30", "start", "sample 5", "flush",
                       "wait 30", "stop"}
        << QStringList{"0", "0"};
    // Every flush sealed the quarter again until it ended. Its last rows are written 20 s after
    // its end (within the margin), its seal comes at 02:01:01, then rows of the next quarter.
    QTest::newRow("restarted within a sealed quarter, many flushes: sealed once after its end")
        << QStringList{"start",    "sample 5", "stop",     "wait 30",  "start",    "sample 5",
                       "flush",    "sealed 1", "verified", "sample 5", "flush",    "sample 5",
                       "tick",     "flush",    "sealed 1", "verified", "wait 830", "sample 5",
                       "flush",    "sample 5", "wait 60",  "flush",    "sealed 1", "verified",
                       "wait 41",  "tick",     "sealed 2", "verified", "sample 5", "flush",
                       "sealed 2", "verified", "stop"}
        << QStringList{"0", "0", "15"};
    QTest::newRow("killed after a restart within a sealed quarter: sealed again at the next start")
        << QStringList{"start", "sample 5", "stop", "wait 30", "start", "sample 5", "flush",
                       "verified", "reopen", "wait 3600", "start", "sealed 2",
                       "resealed at start", "verified", "stop"}
        << QStringList{"0", "0", "60"};
    QTest::newRow("a run that ended without stopping, sealed at the next start")
        << QStringList{"start", "sample 5", "wait 960", "tick", "sample 5", "reopen", "wait 3600",
                       "start", "stop"}
        << QStringList{"0", "15", "75"};
}

// Catches: a quarter left unsealed while recording (a forged row filling it would not show),
// a seal before the answers on their way came in, rows written after a seal that then read as
// tampering, what a killed run left unsealed for good, and a quarter sealed at a stop sealed
// again at every flush once recording started again within it.
void TestRecordingCycle::recordingSealsEveryQuarter()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, seals);
    now = QDateTime::fromSecsSinceEpoch(1711849500); // 2024-03-31 01:45 UTC, a quarter's start
    sampleTime = now;
    auto cycle = openCycle({1, 2});
    QVERIFY(cycle);
    const qint64 first = SampleSeal::quarterOfSeconds(now.toSecsSinceEpoch());
    QStringList got;
    QStringList reasons;
    auto readSeals = [&]() {
        got.clear();
        reasons.clear();
        SqliteConnection db;
        QString error;
        return db.open(database(), 0x1) && // SQLite's read-only flag
               AuditTrail::forEach(
                   db.get(),
                   [&](const AuditEntry& e) {
                       qint64 quarter = 0;
                       qint64 rows = 0;
                       QByteArray digest;
                       if (SampleSeal::parseEntry(e, &quarter, &rows, &digest)) {
                           got << QString::number((quarter - first) * 15);
                           reasons << e.reason;
                       }
                   },
                   &error);
    };
    for (const QString& step : qAsConst(steps)) {
        const QStringList words = step.split(QLatin1Char(' '));
        if (step == QLatin1String("start")) {
            cycle->startRecording();
        } else if (step == QLatin1String("stop")) {
            cycle->stopRecording();
        } else if (step == QLatin1String("tick")) {
            cycle->writeDb();
        } else if (step == QLatin1String("flush")) {
            QVERIFY(cycle->flushAll());
        } else if (words.first() == QLatin1String("sealed")) {
            QVERIFY(cycle->flushAll());
            QVERIFY(readSeals());
            QCOMPARE(got.size(), words.at(1).toInt());
        } else if (step == QLatin1String("verified")) {
            QVERIFY(cycle->flushAll());
            AuditVerifier verifier;
            verifier.setNow(now.toSecsSinceEpoch());
            AuditVerifier::Result result;
            QString error;
            QVERIFY2(verifier.verify(database(), &result, &error), qPrintable(error));
            QVERIFY2(result.holds(), qPrintable(result.findings.join(QLatin1Char('\n'))));
        } else if (step == QLatin1String("resealed at start")) {
            QVERIFY(cycle->flushAll());
            QVERIFY(readSeals());
            QVERIFY(!reasons.isEmpty());
            QCOMPARE(reasons.last(), SampleSeal::restartedReason());
        } else if (words.first() == QLatin1String("sample")) {
            for (int i = 0; i < words.at(1).toInt(); ++i)
                sampleAll(QStringLiteral("4.5"));
        } else if (words.first() == QLatin1String("wait")) {
            now = now.addSecs(words.at(1).toInt());
            sampleTime = now;
        } else if (step == QLatin1String("reopen")) {
            QVERIFY(cycle->flushAll());
            cycle.reset();
            qDeleteAll(gateways);
            gateways.clear();
            cycle = openCycle({1, 2});
            QVERIFY(cycle);
        }
    }
    QVERIFY(cycle->flushAll());
    cycle.reset();

    QVERIFY(readSeals());
    QString error;
    QCOMPARE(got.join(QLatin1Char(' ')), seals.join(QLatin1Char(' ')));
    AuditVerifier verifier;
    verifier.setNow(now.toSecsSinceEpoch() + 86400);
    AuditVerifier::Result result;
    QVERIFY2(verifier.verify(database(), &result, &error), qPrintable(error));
    QVERIFY2(result.holds(), qPrintable(result.findings.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestRecordingCycle)
#include "tst_recordingcycle.moc"
