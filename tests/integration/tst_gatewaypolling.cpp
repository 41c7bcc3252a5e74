#include "configureddevice.h"
#include "datainterval.h"
#include "gatewaysimulator.h"
#include "insertserialdata.h"
#include "nodedevice.h"
#include "recordingviews.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>

// Gateways polled through the real simulator: decoding end to end, missed-poll counting,
// disconnection, the retry rhythm and recovery from every fault the simulator can play, and
// polls that never hold up their caller however the gateway misbehaves.
class TestGatewayPolling : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void valuesEndToEnd();
    void disconnectsAfterLimit_data();
    void disconnectsAfterLimit();
    void recoversFromEveryFault_data();
    void recoversFromEveryFault();
    void refreshIsShownNotStored();
    void refreshBringsWaitingGatewayBack();
    void nonFiniteValuesFromGateway();
    void answerAfterTheNextPollIsMissed();
    void pollsNeverWaitAndCloseEndsLinks();
    void silentGatewaysBesideHealthyOne();

private:
    ConfiguredDevice* gateway(int index, const QList<int>& starts);
    ConfiguredDevice* gatewayAt(quint16 port, const QString& number);
    void pollUntilDisconnected(ConfiguredDevice* gw, int expectedPolls);

    GatewaySimulator sim;
    std::unique_ptr<QObject> owner;
    // The interval the gateways made by the test poll at.
    int interval = DefaultDataInterval;
    // The poll clock of a gateway whose polls the test times itself.
    qint64 pollMs = 0;
    QTemporaryDir dir;
};

void TestGatewayPolling::initTestCase()
{
    GatewaySimulator::Gateway a = GatewaySimulator::gateway(QStringLiteral("TQ100"), {0, 4, 8});
    a.nodes[0].ch1 = QStringLiteral("21.5");
    a.nodes[0].ch2 = QStringLiteral("45.25");
    a.nodes[1].ch1 = QStringLiteral("-7.125");
    a.nodes[2].lqi = 87;
    a.nodes[2].battery = 3;
    GatewaySimulator::Gateway b = GatewaySimulator::gateway(QStringLiteral("TQ700"), {100, 104});
    b.nodes[1].ch1 = QStringLiteral("1234.567");
    QVERIFY2(sim.start({a, b}), qPrintable(sim.errorString()));
}

void TestGatewayPolling::init()
{
    interval = DefaultDataInterval;
    owner.reset(new QObject);
    for (int g = 0; g < 2; ++g) {
        QVERIFY(sim.setFault(g, QStringLiteral("none")));
        QVERIFY(sim.startGateway(g));
    }
    // Whatever a failed test left behind.
    QVERIFY(sim.setChannel(0, 0, 1, 21.5));
    QVERIFY(sim.setChannel(0, 0, 2, 45.25));
}

void TestGatewayPolling::cleanup()
{
    owner.reset();
}

ConfiguredDevice* TestGatewayPolling::gateway(int index, const QList<int>& starts)
{
    auto* gw = new ConfiguredDevice(owner.get());
    gw->setInterval(interval);
    gw->setDeviceInfo(QStringLiteral("127.0.0.1"), sim.port(index));
    gw->setDeviceModel(index == 0 ? QStringLiteral("TQ100") : QStringLiteral("TQ700"));
    for (int start : starts) {
        auto* node = new NodeDevice(QStringLiteral("G%1-%2").arg(index).arg(start), gw);
        node->setStartAddress(start);
        gw->addNode(node);
    }
    return gw;
}

ConfiguredDevice* TestGatewayPolling::gatewayAt(quint16 port, const QString& number)
{
    auto* gw = new ConfiguredDevice(owner.get());
    gw->setInterval(interval);
    gw->setDeviceInfo(QStringLiteral("127.0.0.1"), port);
    auto* node = new NodeDevice(number, gw);
    gw->addNode(node);
    return gw;
}

namespace {

// One poll, waited for: the answer comes back through the event loop.
bool pollAndWait(ConfiguredDevice* gw, bool refresh = false)
{
    QSignalSpy polled(gw, &ConfiguredDevice::polled);
    if (refresh)
        gw->refresh();
    else
        gw->poll();
    return polled.wait(5000);
}

} // namespace

void TestGatewayPolling::pollUntilDisconnected(ConfiguredDevice* gw, int expectedPolls)
{
    for (int i = 1; i < expectedPolls; ++i) {
        QVERIFY(pollAndWait(gw));
        QVERIFY2(!gw->retryPending, qPrintable(QStringLiteral("disconnected at poll %1").arg(i)));
    }
    QVERIFY(pollAndWait(gw));
    QVERIFY(gw->retryPending);
    QVERIFY(!gw->connected);
}

// Catches wrong offsets, byte orders or link-quality handling against a real gateway.
void TestGatewayPolling::valuesEndToEnd()
{
    ConfiguredDevice* a = gateway(0, {0, 4, 8});
    ConfiguredDevice* b = gateway(1, {104, 100});
    // The gateway is built when the project opens and polled a little later.
    QTest::qWait(20);
    const QDateTime polling = QDateTime::currentDateTimeUtc();
    QVERIFY(pollAndWait(a));
    const QDateTime polled = QDateTime::currentDateTimeUtc();
    QVERIFY(pollAndWait(b));
    QVERIFY(a->connected && b->connected);
    // A sample is dated by the moment its read went to the gateway, not by an earlier time.
    auto chartTime = [](const QDateTime& t) {
        return double(t.toSecsSinceEpoch()) + t.time().msec() / 1000.0;
    };
    const double sampled = a->nodes()[0]->timeHistoryData()[NodeDevice::HistorySize - 1];
    QVERIFY2(sampled >= chartTime(polling) && sampled <= chartTime(polled),
             qPrintable(QStringLiteral("%1 not in %2 .. %3")
                            .arg(sampled, 0, 'f', 3)
                            .arg(chartTime(polling), 0, 'f', 3)
                            .arg(chartTime(polled), 0, 'f', 3)));
    QCOMPARE(a->nodes()[0]->shownChannel(1), QStringLiteral("21.50"));
    QCOMPARE(a->nodes()[0]->shownChannel(2), QStringLiteral("45.25"));
    QCOMPARE(a->nodes()[1]->shownChannel(1), QStringLiteral("-7.13"));
    // Node 0's link registers are node 1's channels here: they say nothing about node 0.
    QCOMPARE(a->nodes()[0]->shownLinkQuality(), QStringLiteral("-1"));
    QCOMPARE(a->nodes()[0]->shownBattery(), QStringLiteral("-1"));
    // The last node's link registers lie outside the block.
    QCOMPARE(a->nodes()[2]->shownLinkQuality(), QStringLiteral("-1"));
    QCOMPARE(b->nodes()[0]->shownChannel(1), QStringLiteral("1234.57"));
    QCOMPARE(b->nodes()[1]->shownChannel(1), QStringLiteral("0.00"));
    QCOMPARE(b->nodes()[0]->shownLinkQuality(), QStringLiteral("-1"));
}

void TestGatewayPolling::disconnectsAfterLimit_data()
{
    QTest::addColumn<int>("pollInterval");
    QTest::addColumn<bool>("answeredBefore");
    QTest::addColumn<int>("polls");
    QTest::newRow("1 s after data") << 1000 << true << 5;
    QTest::newRow("10 s after data") << 10000 << true << 2;
    QTest::newRow("1 s never answered") << 1000 << false << 6;
    QTest::newRow("10 s never answered") << 10000 << false << 3;
    QTest::newRow("5 min after data") << 300000 << true << 2;
}

// Catches a disconnection declared one poll early or late.
void TestGatewayPolling::disconnectsAfterLimit()
{
    QFETCH(int, pollInterval);
    QFETCH(bool, answeredBefore);
    QFETCH(int, polls);
    interval = pollInterval;
    ConfiguredDevice* gw = gateway(0, {0});
    RecordingChartView chart;
    gw->nodes()[0]->setChartView(&chart);
    if (answeredBefore) {
        QVERIFY(pollAndWait(gw));
        QVERIFY(gw->connected);
        QCOMPARE(gw->missedPolls, 1);
    }
    QVERIFY(sim.stopGateway(0));
    pollUntilDisconnected(gw, polls);
    QCOMPARE(chart.calls.last(), QStringLiteral("disconnected G0-0"));
    QCOMPARE(gw->nodes()[0]->shownChannel(1), QString());
    // Further polls without data declare it again, with no second retry timer.
    QVERIFY(pollAndWait(gw));
    QCOMPARE(chart.calls.filter(QStringLiteral("disconnected")).size(), 2);
    // A retry that fails with the interval's poll right behind it: that poll is not made.
    QSignalSpy polled(gw, &ConfiguredDevice::polled);
    gw->disconnectRetry();
    gw->poll();
    QVERIFY(polled.wait(5000));
    QVERIFY(!polled.wait(300));
    QCOMPARE(chart.calls.filter(QStringLiteral("disconnected")).size(), 3);
    QVERIFY(gw->retryPending);
}

void TestGatewayPolling::recoversFromEveryFault_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("silent") << "silent";
    QTest::newRow("slow") << "slow 700";
    QTest::newRow("exception") << "exception";
    QTest::newRow("short") << "short";
    QTest::newRow("drop every request") << "drop 1";
    QTest::newRow("stopped") << "stopped";
    QTest::newRow("unreachable") << "unreachable";
    QTest::newRow("answer a byte at a time beyond the timeout") << "trickle 700";
}

// Catches a gateway that stays offline after the fault clears, or is retried too often.
void TestGatewayPolling::recoversFromEveryFault()
{
    QFETCH(QString, fault);
    ConfiguredDevice* gw = gateway(0, {0, 4});
    gw->setRetryInterval(400);
    QVERIFY(pollAndWait(gw));
    QVERIFY(gw->connected);
    QVERIFY(sim.setFault(0, fault));
    pollUntilDisconnected(gw, 2);

    // While the fault lasts each retry fails and a new wait begins: a poll every 400 ms at most.
    // The retry's request is timed on the link's thread from the disconnection; the test waits
    // for it and for its failure.
    static std::atomic<int> writes;
    static std::atomic<qint64> firstWriteMs;
    static QElapsedTimer since;
    writes = 0;
    since.start();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& message) {
            if (message.startsWith(QLatin1String("ModbusDevice::write")) && writes++ == 0)
                firstWriteMs = since.elapsed();
        });
    QTRY_VERIFY_WITH_TIMEOUT(writes >= 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(gw->retryPending, 5000);
    qInstallMessageHandler(previous);
    QCOMPARE(writes.load(), 1);
    // The retry's wait began a moment before the clock here did.
    QVERIFY2(firstWriteMs >= 350, qPrintable(QString::number(firstWriteMs)));
    QVERIFY(!gw->connected);

    QVERIFY(sim.setFault(0, QStringLiteral("none")));
    QVERIFY(sim.startGateway(0));
    QTRY_VERIFY_WITH_TIMEOUT(gw->connected, 5000);
    QVERIFY(!gw->retryPending);
    QCOMPARE(gw->nodes()[0]->shownChannel(1), QStringLiteral("21.50"));
}

// Catches refresh samples reaching the database queue, or the refresh flag leaking on.
void TestGatewayPolling::refreshIsShownNotStored()
{
    InsertSerialData db(dir.filePath(QStringLiteral("refresh.dat")), QStringLiteral("refresh"));
    QVERIFY(db.createConnection());
    db.insertNow();
    ConfiguredDevice* gw = gateway(0, {0});
    NodeDevice* node = gw->nodes()[0];
    node->setSampleWriter(&db);
    node->setRecordEnabled(true);
    QVERIFY(sim.setChannel(0, 0, 1, 30.0));
    QVERIFY(pollAndWait(gw, true));
    QCOMPARE(node->shownChannel(1), QStringLiteral("30.00"));
    QCOMPARE(db.pendingCount(), 0);
    QVERIFY(pollAndWait(gw));
    QCOMPARE(db.pendingCount(), 1);
    db.insertNow();
    QCOMPARE(db.pendingCount(), 0);
    QVERIFY(sim.setChannel(0, 0, 1, 21.5));
}

// Catches a refresh that cannot reach a gateway waiting for its retry.
void TestGatewayPolling::refreshBringsWaitingGatewayBack()
{
    ConfiguredDevice* gw = gateway(0, {0});
    QVERIFY(sim.stopGateway(0));
    pollUntilDisconnected(gw, 3);
    QVERIFY(sim.startGateway(0));
    QVERIFY(pollAndWait(gw, true));
    QVERIFY(gw->connected);
    QVERIFY(!gw->retryPending);
}

// Catches NaN or infinity served by a gateway shown or alarmed as a number.
void TestGatewayPolling::nonFiniteValuesFromGateway()
{
    ConfiguredDevice* gw = gateway(0, {0});
    NodeDevice* node = gw->nodes()[0];
    node->setAlarmRanges(10, 30, 10, 30);
    QVERIFY(sim.setChannel(0, 0, 1, QStringLiteral("nan")));
    QVERIFY(sim.setChannel(0, 0, 2, QStringLiteral("-inf")));
    QVERIFY(pollAndWait(gw));
    QVERIFY(gw->connected);
    QCOMPARE(node->shownChannel(1), QString());
    QCOMPARE(node->shownChannel(2), QString());
    QVERIFY(!node->isAlarmed(1));
    QVERIFY(!node->isAlarmed(2));
    QVERIFY(sim.setChannel(0, 0, 1, 21.5));
    QVERIFY(sim.setChannel(0, 0, 2, 45.25));
}

// Catches a poll that waits for a slow answer instead of counting it missed at the next poll, a
// late answer taken for a later poll's data, a second request sent while one is under way, and
// a retry or refresh counted missed by the interval's poll that follows it closely.
void TestGatewayPolling::answerAfterTheNextPollIsMissed()
{
    interval = 1000;
    ConfiguredDevice* gw = gateway(0, {0});
    pollMs = 0;
    gw->setPollClock([this] { return pollMs; });
    QSignalSpy polled(gw, &ConfiguredDevice::polled);
    gw->refresh();
    gw->poll();
    QTRY_COMPARE_WITH_TIMEOUT(polled.size(), 2, 5000);
    QCOMPARE(polled.at(0).at(0).toBool(), true);
    QCOMPARE(polled.at(1).at(0).toBool(), true);
    QCOMPARE(gw->missedPolls, 1);

    const qint64 requests = sim.requestCount(0);
    const qint64 answers = sim.pollCount(0);
    QVERIFY(sim.setChannel(0, 0, 1, 30.0));
    // 17 bytes of answer, one every 100 ms: each byte within the link's byte timeout.
    QVERIFY(sim.setFault(0, QStringLiteral("trickle 100")));
    gw->poll();
    QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(0), requests + 1, 2000);
    // The next poll of the interval comes (at least half an interval later).
    pollMs += 600;
    gw->poll();
    QCOMPARE(gw->missedPolls, 2);
    // The late answer is dropped; then the waiting poll goes out and gets its own answer.
    QTRY_COMPARE_WITH_TIMEOUT(sim.pollCount(0), answers + 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(sim.requestCount(0), requests + 2, 2000);
    QCOMPARE(gw->nodes()[0]->shownChannel(1), QStringLiteral("21.50"));
    QTRY_COMPARE_WITH_TIMEOUT(gw->nodes()[0]->shownChannel(1), QStringLiteral("30.00"), 5000);
    QCOMPARE(gw->missedPolls, 1);
    QVERIFY(sim.setChannel(0, 0, 1, 21.5));
}

// Catches polls that hold up their caller while gateways do not answer, cannot be reached or
// answer a byte at a time, and closing links that hangs on such a gateway.
void TestGatewayPolling::pollsNeverWaitAndCloseEndsLinks()
{
    GatewaySimulator faulty;
    QVERIFY2(faulty.start(QVector<GatewaySimulator::Gateway>(
                 3, GatewaySimulator::gateway(QStringLiteral("TQ700"), {0}))),
             qPrintable(faulty.errorString()));
    const QStringList faults = {QStringLiteral("silent"), QStringLiteral("trickle 300"),
                                QStringLiteral("unreachable")};
    QList<ConfiguredDevice*> gateways;
    for (int g = 0; g < faults.size(); ++g) {
        QVERIFY(faulty.setFault(g, faults.at(g)));
        gateways << gatewayAt(faulty.port(g), faults.at(g));
    }
    QElapsedTimer timer;
    timer.start();
    for (ConfiguredDevice* gw : qAsConst(gateways))
        gw->poll();
    QVERIFY2(timer.elapsed() < 100, qPrintable(QString::number(timer.elapsed())));

    // Closing while the silent and the trickling gateway hold their reads.
    QTRY_VERIFY_WITH_TIMEOUT(faulty.requestCount(0) == 1 && faulty.requestCount(1) == 1, 2000);
    for (ConfiguredDevice* gw : qAsConst(gateways))
        gw->closeDevice();
    timer.restart();
    delete gateways.takeFirst();
    delete gateways.takeFirst();
    QVERIFY2(timer.elapsed() < 100, qPrintable(QString::number(timer.elapsed())));
    // A connect under way cannot be cut short: it ends at the link's response timeout, 0.5 s
    // after the poll at most.
    delete gateways.takeFirst();
    QVERIFY2(timer.elapsed() < 600, qPrintable(QString::number(timer.elapsed())));
}

// Catches silent gateways that hold up a healthy one (its samples late or bunched), samples that
// do not reach the nodes, and silent gateways declared disconnected before their missed polls.
void TestGatewayPolling::silentGatewaysBesideHealthyOne()
{
    interval = 1000;
    GatewaySimulator silentSim;
    QVERIFY2(silentSim.start(QVector<GatewaySimulator::Gateway>(
                 8, GatewaySimulator::gateway(QStringLiteral("TQ700"), {0}))),
             qPrintable(silentSim.errorString()));
    QList<ConfiguredDevice*> silent;
    QVector<int> polls(8);
    for (int g = 0; g < 8; ++g) {
        QVERIFY(silentSim.setFault(g, QStringLiteral("silent")));
        silent << gatewayAt(silentSim.port(g), QStringLiteral("S%1").arg(g));
    }
    ConfiguredDevice* healthy = gateway(0, {0, 4, 8});
    RecordingChartView chart;
    healthy->nodes()[0]->setChartView(&chart);
    RecordingChartView silentChart;
    silent[0]->nodes()[0]->setChartView(&silentChart);

    // The device timer's tick, as the recorder runs it.
    auto tick = [&] {
        for (int g = 0; g < 8; ++g) {
            if (!silent[g]->retryPending) {
                silent[g]->poll();
                ++polls[g];
            }
        }
        if (!healthy->retryPending)
            healthy->poll();
    };
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, tick);
    tick();
    timer.start(1000);
    QTRY_VERIFY_WITH_TIMEOUT(chart.sampleTimes.size() >= 8, 12000);
    timer.stop();

    // Never answered: declared at the sixth poll, and not polled again before the retry.
    for (int g = 0; g < 8; ++g) {
        QCOMPARE(polls[g], 6);
        QVERIFY(silent[g]->retryPending);
        QVERIFY(!silent[g]->connected);
    }
    QCOMPARE(silentChart.calls, QStringList{QStringLiteral("disconnected S0")});
    QVERIFY(healthy->connected);
    QCOMPARE(healthy->nodes()[2]->shownChannel(1), QStringLiteral("0.00"));
    QCOMPARE(chart.calls.filter(QStringLiteral("setData 21.50 45.25")).size(),
             chart.sampleTimes.size());
    // Each sample carries the time of its own poll: one per second from the first on.
    QList<double> spacing;
    for (int i = 1; i < chart.sampleTimes.size(); ++i)
        spacing << chart.sampleTimes[i] - chart.sampleTimes[i - 1];
    std::sort(spacing.begin(), spacing.end());
    QVERIFY2(spacing.first() > 0.5 && spacing.last() < 1.5,
             qPrintable(QStringLiteral("%1 .. %2 s").arg(spacing.first()).arg(spacing.last())));
}

QTEST_GUILESS_MAIN(TestGatewayPolling)
#include "tst_gatewaypolling.moc"
