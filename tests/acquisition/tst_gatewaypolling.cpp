#include "configureddevice.h"
#include "datainterval.h"
#include "gatewaysimulator.h"
#include "insertserialdata.h"
#include "nodedevice.h"
#include "recordingviews.h"

#include <QTemporaryDir>
#include <QtTest>

// Gateways polled through the real simulator: decoding end to end, missed-poll counting,
// disconnection, the retry rhythm and recovery from every fault the simulator can play.
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

private:
    ConfiguredDevice* gateway(int index, const QList<int>& starts);
    void pollUntilDisconnected(ConfiguredDevice* gw, int expectedPolls);

    GatewaySimulator sim;
    std::unique_ptr<QObject> owner;
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
    dataInterval = DefaultDataInterval;
    owner.reset(new QObject);
    for (int g = 0; g < 2; ++g) {
        QVERIFY(sim.setFault(g, QStringLiteral("none")));
        QVERIFY(sim.startGateway(g));
    }
}

void TestGatewayPolling::cleanup()
{
    owner.reset();
}

ConfiguredDevice* TestGatewayPolling::gateway(int index, const QList<int>& starts)
{
    auto* gw = new ConfiguredDevice(owner.get());
    gw->setDeviceInfo(QStringLiteral("127.0.0.1"), sim.port(index));
    gw->setDeviceModel(index == 0 ? QStringLiteral("TQ100") : QStringLiteral("TQ700"));
    for (int start : starts) {
        auto* node = new NodeDevice(QStringLiteral("G%1-%2").arg(index).arg(start), gw);
        node->startAddress = start;
        gw->addNode(node);
    }
    return gw;
}

void TestGatewayPolling::pollUntilDisconnected(ConfiguredDevice* gw, int expectedPolls)
{
    for (int i = 1; i < expectedPolls; ++i) {
        gw->poll();
        QVERIFY2(!gw->retryPending, qPrintable(QStringLiteral("disconnected at poll %1").arg(i)));
    }
    gw->poll();
    QVERIFY(gw->retryPending);
    QVERIFY(!gw->connected);
}

// Catches wrong offsets, byte orders or link-quality handling against a real gateway.
void TestGatewayPolling::valuesEndToEnd()
{
    ConfiguredDevice* a = gateway(0, {0, 4, 8});
    ConfiguredDevice* b = gateway(1, {104, 100});
    a->poll();
    b->poll();
    QVERIFY(a->connected && b->connected);
    QCOMPARE(a->nodes()[0]->ch1Text, QStringLiteral("21.50"));
    QCOMPARE(a->nodes()[0]->ch2Text, QStringLiteral("45.25"));
    QCOMPARE(a->nodes()[1]->ch1Text, QStringLiteral("-7.13"));
    // Node 0's link registers are node 1's channels here: they say nothing about node 0.
    QCOMPARE(a->nodes()[0]->lqiText, QStringLiteral("-1"));
    QCOMPARE(a->nodes()[0]->batteryText, QStringLiteral("-1"));
    // The last node's link registers lie outside the block.
    QCOMPARE(a->nodes()[2]->lqiText, QStringLiteral("-1"));
    QCOMPARE(b->nodes()[0]->ch1Text, QStringLiteral("1234.57"));
    QCOMPARE(b->nodes()[1]->ch1Text, QStringLiteral("0.00"));
    QCOMPARE(b->nodes()[0]->lqiText, QStringLiteral("-1"));
}

void TestGatewayPolling::disconnectsAfterLimit_data()
{
    QTest::addColumn<int>("interval");
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
    QFETCH(int, interval);
    QFETCH(bool, answeredBefore);
    QFETCH(int, polls);
    dataInterval = interval;
    ConfiguredDevice* gw = gateway(0, {0});
    RecordingChartView chart;
    gw->nodes()[0]->setChartView(&chart);
    if (answeredBefore) {
        gw->poll();
        QVERIFY(gw->connected);
        QCOMPARE(gw->missedPolls, 1);
    }
    QVERIFY(sim.stopGateway(0));
    pollUntilDisconnected(gw, polls);
    QCOMPARE(chart.calls.last(), QStringLiteral("disconnected G0-0"));
    QCOMPARE(gw->nodes()[0]->ch1Text, QString());
    // Further polls without data declare it again, with no second retry timer.
    gw->poll();
    QCOMPARE(chart.calls.filter(QStringLiteral("disconnected")).size(), 2);
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
}

// Catches a gateway that stays offline after the fault clears, or is retried too often.
void TestGatewayPolling::recoversFromEveryFault()
{
    QFETCH(QString, fault);
    ConfiguredDevice* gw = gateway(0, {0, 4});
    gw->setRetryInterval(400);
    gw->poll();
    QVERIFY(gw->connected);
    QVERIFY(sim.setFault(0, fault));
    pollUntilDisconnected(gw, 2);

    // While the fault lasts each retry fails and a new wait begins: a poll every 400 ms at most.
    static int writes;
    writes = 0;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& message) {
            if (message.startsWith(QLatin1String("ModbusDevice::write")))
                ++writes;
        });
    QTest::qWait(1000);
    qInstallMessageHandler(previous);
    QVERIFY2(writes >= 1 && writes <= 3, qPrintable(QString::number(writes)));
    QVERIFY(gw->retryPending);
    QVERIFY(!gw->connected);

    QVERIFY(sim.setFault(0, QStringLiteral("none")));
    QVERIFY(sim.startGateway(0));
    QTRY_VERIFY_WITH_TIMEOUT(gw->connected, 5000);
    QVERIFY(!gw->retryPending);
    QCOMPARE(gw->nodes()[0]->ch1Text, QStringLiteral("21.50"));
}

// Catches refresh samples reaching the database queue, or the refresh flag leaking on.
void TestGatewayPolling::refreshIsShownNotStored()
{
    InsertSerialData db(dir.filePath(QStringLiteral("refresh.dat")), QStringLiteral("refresh"));
    QVERIFY(db.createConnection());
    db.insertNow();
    ConfiguredDevice* gw = gateway(0, {0});
    NodeDevice* node = gw->nodes()[0];
    node->setRecordEnabled(true);
    QVERIFY(sim.setChannel(0, 0, 1, 30.0));
    gw->refresh();
    QCOMPARE(node->ch1Text, QStringLiteral("30.00"));
    QCOMPARE(InsertSerialData::pendingCount(), 0);
    gw->poll();
    QCOMPARE(InsertSerialData::pendingCount(), 1);
    db.insertNow();
    QCOMPARE(InsertSerialData::pendingCount(), 0);
    QVERIFY(sim.setChannel(0, 0, 1, 21.5));
}

// Catches a refresh that cannot reach a gateway waiting for its retry.
void TestGatewayPolling::refreshBringsWaitingGatewayBack()
{
    ConfiguredDevice* gw = gateway(0, {0});
    QVERIFY(sim.stopGateway(0));
    pollUntilDisconnected(gw, 3);
    QVERIFY(sim.startGateway(0));
    gw->refresh();
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
    gw->poll();
    QVERIFY(gw->connected);
    QCOMPARE(node->ch1Text, QString());
    QCOMPARE(node->ch2Text, QString());
    QVERIFY(!node->ch1Alarm);
    QVERIFY(!node->ch2Alarm);
    QVERIFY(sim.setChannel(0, 0, 1, 21.5));
    QVERIFY(sim.setChannel(0, 0, 2, 45.25));
}

QTEST_GUILESS_MAIN(TestGatewayPolling)
#include "tst_gatewaypolling.moc"
