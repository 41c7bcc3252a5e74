#include "gatewaymodel.h"
#include "configureddevice.h"
#include "insertserialdata.h"
#include "nodedevice.h"
#include "novalue.h"
#include "recordingviews.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

const QDateTime kTime = QDateTime::fromSecsSinceEpoch(1800000000, Qt::UTC).addMSecs(250);

struct Row
{
    QString serial;
    QVariant ch1;
    QVariant ch2;
    qint64 time;
};

} // namespace

class TestNodeDevice : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void alarmRanges_data();
    void alarmRanges();
    void historyShiftsAndOverwrites();
    void historyIsFixedSize();
    void pushesIntoAttachedViews();
    void linkInfoOnlyForTq100_data();
    void linkInfoOnlyForTq100();
    void disconnectionKeepsHistory();
    void clearedViewsGetNothing();
    void recordingQueuesOnlyRegularSamples();
    void gapRecordAfterLastPoll();
    void nonFiniteTextIsNoValue_data();
    void nonFiniteTextIsNoValue();

private:
    QList<Row> flush();

    QTemporaryDir dir;
    std::unique_ptr<InsertSerialData> db;
};

void TestNodeDevice::init()
{
    QVERIFY(dir.isValid());
    db.reset(new InsertSerialData(dir.filePath(QStringLiteral("node.dat")),
                                  QUuid::createUuid().toString()));
    QVERIFY(db->createConnection());
    db->insertNow();
}

void TestNodeDevice::cleanup()
{
    db->insertNow();
    db.reset();
    QFile::remove(dir.filePath(QStringLiteral("node.dat")));
}

QList<Row> TestNodeDevice::flush()
{
    db->insertNow();
    QList<Row> rows;
    {
        QSqlDatabase check =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        check.setDatabaseName(dir.filePath(QStringLiteral("node.dat")));
        QSqlQuery query(check);
        if (!check.open() || !query.exec(QStringLiteral("select serialno, channel1, channel2, "
                                                        "pointDate from quorbinal order by id")))
            QTest::qFail(qPrintable(QStringLiteral("rows not read: ") + check.lastError().text() +
                                    query.lastError().text()),
                         __FILE__, __LINE__);
        while (query.next())
            rows.append({query.value(0).toString(), query.value(1), query.value(2),
                         query.value(3).toLongLong()});
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return rows;
}

void TestNodeDevice::alarmRanges_data()
{
    QTest::addColumn<float>("min");
    QTest::addColumn<float>("max");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("alarm");
    QTest::newRow("upper bound") << 10.0f << 30.0f << "30.00" << false;
    QTest::newRow("just above") << 10.0f << 30.0f << "30.01" << true;
    QTest::newRow("just below") << 10.0f << 30.0f << "9.99" << true;
    QTest::newRow("lower bound") << 10.0f << 30.0f << "10.00" << false;
    QTest::newRow("inside") << 10.0f << 30.0f << "21.50" << false;
    QTest::newRow("empty text") << 10.0f << 30.0f << "" << false;
    QTest::newRow("equal bounds") << 0.0f << 0.0f << "-100.00" << false;
    QTest::newRow("equal nonzero") << 5.0f << 5.0f << "7.00" << false;
    QTest::newRow("inverted inside") << 30.0f << 10.0f << "20.00" << true;
    QTest::newRow("inverted outside") << 30.0f << 10.0f << "40.00" << true;
    QTest::newRow("not a number text") << 10.0f << 30.0f << "abc" << true;
    // Limits kept in single precision: -18.1f is -18.1000004, 2.1f is 2.0999999.
    QTest::newRow("maximum -18.10 itself") << -30.0f << -18.1f << "-18.10" << false;
    QTest::newRow("a hundredth above -18.10") << -30.0f << -18.1f << "-18.09" << true;
    QTest::newRow("maximum 2.10 itself") << 0.0f << 2.1f << "2.10" << false;
    QTest::newRow("minimum -2.10 itself") << -2.1f << 30.0f << "-2.10" << false;
    QTest::newRow("a hundredth below -2.10") << -2.1f << 30.0f << "-2.11" << true;
}

// Catches off-by-one bound checks, alarms without a value and alarms with switched-off ranges,
// and a value equal to a limit as shown counted out of range (tiles and charts show this flag).
void TestNodeDevice::alarmRanges()
{
    QFETCH(float, min);
    QFETCH(float, max);
    QFETCH(QString, text);
    QFETCH(bool, alarm);
    NodeDevice node(QStringLiteral("N1"));
    node.setAlarmRanges(min, max, min, max);
    node.setData(text, text, QStringLiteral("-1"), QStringLiteral("-1"), kTime, false);
    QCOMPARE(node.isAlarmed(1), alarm);
    QCOMPARE(node.isAlarmed(2), alarm);

    // Ranges changed afterwards take effect through checkAlarms().
    node.setAlarmRanges(0, 0, 0, 0);
    node.checkAlarms();
    QVERIFY(!node.isAlarmed(1));
    QVERIFY(!node.isAlarmed(2));
}

// Catches a history that grows on repeated times or loses the newest slot.
void TestNodeDevice::historyShiftsAndOverwrites()
{
    NodeDevice node(QStringLiteral("N1"));
    double times[NodeDevice::HistorySize];
    double ch1[NodeDevice::HistorySize];
    double ch2[NodeDevice::HistorySize];
    node.history(times, ch1, ch2);
    for (int i = 0; i < NodeDevice::HistorySize; ++i) {
        QCOMPARE(times[i], NoValue);
        QCOMPARE(ch1[i], NoValue);
    }

    node.setData(QStringLiteral("1.00"), QStringLiteral("2.00"), {}, {}, kTime, false);
    node.setData(QStringLiteral("3.00"), QString(), {}, {}, kTime.addSecs(1), false);
    // The same time again (a refresh followed by the regular poll) overwrites the newest slot.
    node.setData(QStringLiteral("5.00"), QStringLiteral("6.00"), {}, {}, kTime.addSecs(1), true);
    node.history(times, ch1, ch2);
    const double t0 = double(kTime.toSecsSinceEpoch()) + 0.25;
    QCOMPARE(times[239], t0 + 1);
    QCOMPARE(ch1[239], 5.0);
    QCOMPARE(ch2[239], 6.0);
    QCOMPARE(times[238], t0);
    QCOMPARE(ch1[238], 1.0);
    QCOMPARE(ch2[238], 2.0);
    QCOMPARE(times[237], NoValue);
}

// Catches a history that is not a rolling window of exactly 240 samples.
void TestNodeDevice::historyIsFixedSize()
{
    NodeDevice node(QStringLiteral("N1"));
    for (int i = 0; i < 300; ++i)
        node.setData(QString::number(i), QString(), {}, {}, kTime.addSecs(i), false);
    const double* ch1 = node.ch1HistoryData();
    const double* ch2 = node.ch2HistoryData();
    for (int i = 0; i < NodeDevice::HistorySize; ++i) {
        QCOMPARE(ch1[i], double(60 + i));
        QCOMPARE(ch2[i], NoValue);
    }
}

// Catches values not reaching the panel and tiles, or reaching them in the wrong order.
void TestNodeDevice::pushesIntoAttachedViews()
{
    ConfiguredDevice gateway;
    auto* node = new NodeDevice(QStringLiteral("N7"), &gateway);
    gateway.addNode(node);
    RecordingChartView chart;
    RecordingTileView tile1;
    RecordingTileView tile2;
    RecordingListItem item;
    node->setChartView(&chart);
    node->setDashboardTiles(&tile1, &tile2);
    node->setListItem(&item);
    QCOMPARE(item.icons.size(), 1);

    gateway.deviceConnected();
    node->setData(QStringLiteral("21.50"), QStringLiteral("45.25"), QStringLiteral("87"),
                  QStringLiteral("3"), kTime, false);
    QCOMPARE(chart.calls,
             QStringList({"connected N7", "setData 21.50 45.25", "setLqiBattery 87 3"}));
    QCOMPARE(chart.lastCh1, 21.5);
    QCOMPARE(chart.lastCh2, 45.25);
    QCOMPARE(tile1.calls, QStringList({"connected N7", "value 21.50"}));
    QCOMPARE(tile2.calls, QStringList({"connected N7", "value 45.25"}));
    QCOMPARE(item.icons.size(), 2);
    QVERIFY(item.icons[0] != item.icons[1]);
}

void TestNodeDevice::linkInfoOnlyForTq100_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("linkInfo");
    QTest::newRow("TQ100") << "TQ100" << true;
    QTest::newRow("TQ700") << "TQ700" << false;
    QTest::newRow("lower case") << "tq100" << false;
    for (const GatewayModel::Row& row : GatewayModel::rows())
        QTest::newRow(qPrintable(QStringLiteral("table row ") + row.name))
            << row.name << row.reportsLinkInfo;
}

// Catches link quality shown for gateways that do not provide it.
void TestNodeDevice::linkInfoOnlyForTq100()
{
    QFETCH(QString, model);
    QFETCH(bool, linkInfo);
    ConfiguredDevice gateway;
    gateway.setDeviceModel(model);
    auto* node = new NodeDevice(QStringLiteral("N1"), &gateway);
    gateway.addNode(node);
    RecordingChartView chart;
    node->setChartView(&chart);
    node->setData(QStringLiteral("1.00"), QStringLiteral("2.00"), QStringLiteral("-1"),
                  QStringLiteral("-1"), kTime, false);
    QCOMPARE(chart.calls.filter(QStringLiteral("setLqiBattery")).size(), linkInfo ? 1 : 0);
}

// Catches a disconnection that keeps stale values or alarms, or wipes the chart history.
void TestNodeDevice::disconnectionKeepsHistory()
{
    NodeDevice node(QStringLiteral("N1"));
    RecordingChartView chart;
    RecordingTileView tile1;
    RecordingTileView tile2;
    node.setChartView(&chart);
    node.setDashboardTiles(&tile1, &tile2);
    node.setAlarmRanges(10, 30, 10, 30);
    node.setData(QStringLiteral("50.00"), QStringLiteral("5.00"), QStringLiteral("80"),
                 QStringLiteral("2"), kTime, false);
    QVERIFY(node.isAlarmed(1) && node.isAlarmed(2));

    node.deviceDisconnected();
    QVERIFY(!node.isAlarmed(1));
    QVERIFY(!node.isAlarmed(2));
    QCOMPARE(node.shownChannel(1), QString());
    QCOMPARE(node.shownChannel(2), QString());
    QCOMPARE(node.shownLinkQuality(), QStringLiteral("80"));
    QCOMPARE(node.ch1HistoryData()[239], 50.0);
    QCOMPARE(chart.calls.last(), QStringLiteral("disconnected N1"));
    QCOMPARE(tile1.calls.last(), QStringLiteral("disconnected N1"));
    QCOMPARE(tile2.calls.last(), QStringLiteral("disconnected N1"));
}

// Catches a panel that keeps receiving samples after it was detached.
void TestNodeDevice::clearedViewsGetNothing()
{
    NodeDevice node(QStringLiteral("N1"));
    RecordingChartView chart;
    RecordingTileView tile;
    node.setChartView(&chart);
    node.setDashboardTiles(&tile, &tile);
    node.clearChartView();
    node.clearDashboardTiles();
    node.clearListItem();
    node.setData(QStringLiteral("1.00"), QStringLiteral("2.00"), {}, {}, kTime, false);
    node.deviceConnected();
    node.deviceDisconnected();
    QVERIFY(chart.calls.isEmpty());
    QVERIFY(tile.calls.isEmpty());
    QCOMPARE(node.chartView(), nullptr);
}

// Catches refresh samples in the database, or samples stored while not recording.
void TestNodeDevice::recordingQueuesOnlyRegularSamples()
{
    NodeDevice node(QStringLiteral("N'1"));
    node.setSampleWriter(db.get());
    node.setData(QStringLiteral("1.00"), QStringLiteral("2.00"), {}, {}, kTime, false);
    QCOMPARE(db->pendingCount(), 0);
    node.setRecordEnabled(true);
    node.setData(QStringLiteral("3.00"), QString(), {}, {}, kTime.addSecs(1), false);
    node.setData(QStringLiteral("4.00"), QStringLiteral("5.00"), {}, {}, kTime.addSecs(2), true);
    node.setData(QStringLiteral("21.50"), QStringLiteral("45.25"), {}, {}, kTime.addSecs(2), false);
    QCOMPARE(db->pendingCount(), 2);

    const QList<Row> rows = flush();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].serial, QStringLiteral("N'1"));
    QCOMPARE(rows[0].ch1.toDouble(), 3.0);
    QVERIFY(rows[0].ch2.isNull());
    QCOMPARE(rows[0].time, kTime.toSecsSinceEpoch() + 1);
    QCOMPARE(rows[1].ch1.toDouble(), 21.5);
    QCOMPARE(rows[1].ch2.toDouble(), 45.25);
}

// Catches a gap record dated at the wrong time or written while not recording.
void TestNodeDevice::gapRecordAfterLastPoll()
{
    ConfiguredDevice gateway;
    gateway.setInterval(60000);
    auto* node = new NodeDevice(QStringLiteral("N1"), &gateway);
    gateway.addNode(node);
    gateway.lastPollTime = kTime;
    node->setSampleWriter(db.get());
    node->insertNoValue();
    QCOMPARE(db->pendingCount(), 0);
    node->setRecordEnabled(true);
    node->insertNoValue();
    const QList<Row> rows = flush();
    QCOMPARE(rows.size(), 1);
    QVERIFY(rows[0].ch1.isNull());
    QVERIFY(rows[0].ch2.isNull());
    QCOMPARE(rows[0].time, kTime.toSecsSinceEpoch() + 60);
}

void TestNodeDevice::nonFiniteTextIsNoValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("nan") << "nan";
    QTest::newRow("inf") << "inf";
    QTest::newRow("-inf") << "-inf";
}

// Catches NaN or infinity raising alarms, drawing, or reaching the database.
void TestNodeDevice::nonFiniteTextIsNoValue()
{
    QFETCH(QString, text);
    NodeDevice node(QStringLiteral("N1"));
    node.setAlarmRanges(10, 30, 10, 30);
    node.setSampleWriter(db.get());
    node.setRecordEnabled(true);
    node.setData(text, QStringLiteral("20.00"), {}, {}, kTime, false);
    QVERIFY(!node.isAlarmed(1));
    QCOMPARE(node.ch1HistoryData()[239], NoValue);
    const QList<Row> rows = flush();
    QCOMPARE(rows.size(), 1);
    QVERIFY(rows[0].ch1.isNull());
    QCOMPARE(rows[0].ch2.toDouble(), 20.0);
}

QTEST_GUILESS_MAIN(TestNodeDevice)
#include "tst_nodedevice.moc"
