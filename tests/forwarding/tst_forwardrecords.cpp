#include "forwardcursor.h"
#include "forwardrecords.h"
#include "nodeconfig.h"
#include "novalue.h"
#include "retrybackoff.h"

#include <QTest>

#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(std::optional<double>)

// Which stored rows become which forwarded samples, and which ids the cursor may pass.
class TestForwardRecords : public QObject
{
    Q_OBJECT

private slots:
    void samplesOfRow_data();
    void samplesOfRow();
    void labelsFromConfig();
    void cursor_data();
    void cursor();
    void backoff();
};

void TestForwardRecords::samplesOfRow_data()
{
    QTest::addColumn<std::optional<double>>("channel1");
    QTest::addColumn<std::optional<double>>("channel2");
    QTest::addColumn<QList<int>>("channels"); // forwarded, in order

    const std::optional<double> none;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    // Fault: a channel without value sent as a number (0, the marker) into the central store.
    QTest::newRow("both values") << std::optional<double>(21.5) << std::optional<double>(45.0)
                                 << QList<int>{1, 2};
    QTest::newRow("zero is a value")
        << std::optional<double>(0.0) << std::optional<double>(-0.0) << QList<int>{1, 2};
    QTest::newRow("channel 1 NULL") << none << std::optional<double>(45.0) << QList<int>{2};
    QTest::newRow("channel 2 marker")
        << std::optional<double>(-3.25) << std::optional<double>(NoValue) << QList<int>{1};
    QTest::newRow("negative marker")
        << std::optional<double>(-NoValue) << std::optional<double>(1.0) << QList<int>{2};
    QTest::newRow("gap record") << none << none << QList<int>{};
    QTest::newRow("gap record as markers")
        << std::optional<double>(NoValue) << std::optional<double>(NoValue) << QList<int>{};
    QTest::newRow("not a number") << std::optional<double>(nan) << std::optional<double>(inf)
                                  << QList<int>{};
}

void TestForwardRecords::samplesOfRow()
{
    QFETCH(std::optional<double>, channel1);
    QFETCH(std::optional<double>, channel2);
    QFETCH(QList<int>, channels);

    StoredSampleRow row;
    row.id = 4711;
    row.serial = QStringLiteral("N-0815");
    row.channel1 = channel1;
    row.channel2 = channel2;
    row.pointDate = 1700000000;
    NodeLabels labels;
    labels.nodeName = QStringLiteral("Cold store");
    labels.channelName = {QStringLiteral("Air"), QStringLiteral("Humidity")};
    labels.unit = {QStringLiteral("°C"), QStringLiteral("%RH")};

    const QVector<ForwardSample> samples = forwardedSamples(row, labels);
    QCOMPARE(samples.size(), channels.size());
    for (int i = 0; i < samples.size(); ++i) {
        const ForwardSample& s = samples.at(i);
        const int c = channels.at(i);
        QCOMPARE(s.channel, c);
        QCOMPARE(s.rowId, row.id);
        QCOMPARE(s.serial, row.serial);
        QCOMPARE(s.time, row.pointDate);
        QCOMPARE(s.value, *(c == 1 ? channel1 : channel2));
        QCOMPARE(s.nodeName, labels.nodeName);
        QCOMPARE(s.channelName, labels.channelName[size_t(c - 1)]);
        QCOMPARE(s.unit, labels.unit[size_t(c - 1)]);
    }
}

void TestForwardRecords::labelsFromConfig()
{
    // Fault: the unit code or the custom text of the wrong channel sent along.
    NodeConfig node;
    node.deviceName = QStringLiteral("Lab 2");
    node.ch1Name = QStringLiteral("Temperature");
    node.ch2Name = QStringLiteral("Pressure");
    node.ch1Unit = TemperatureF;
    node.ch2Unit = Custom;
    node.ch1Custom = QStringLiteral("unused");
    node.ch2Custom = QStringLiteral("hPa");
    const NodeLabels labels = NodeLabels::fromConfig(node);
    QCOMPARE(labels.nodeName, node.deviceName);
    QCOMPARE(labels.channelName[0], node.ch1Name);
    QCOMPARE(labels.channelName[1], node.ch2Name);
    QCOMPARE(labels.unit[0], QStringLiteral("°F"));
    QCOMPARE(labels.unit[1], QStringLiteral("hPa"));
}

// Steps, separated by blanks: "e5:1,2" expects id 5 sent as channels 1 and 2 ("e5:" sent as
// nothing), "a5:2" acknowledges channel 2 of id 5, "x5:" an expectation that must be refused,
// "r" forgets what is outstanding.
void TestForwardRecords::cursor_data()
{
    QTest::addColumn<qint64>("start");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<int>("outstanding");

    // Faults: the cursor passes a row whose second sample the server never took, or one behind
    // a row still in flight, and that row is never sent again after a restart.
    QTest::newRow("in order") << qint64(10) << "e11:1,2 e12:1 a11:1 a11:2 a12:1" << qint64(12) << 0;
    QTest::newRow("one of two channels") << qint64(10) << "e11:1,2 a11:1" << qint64(10) << 1;
    QTest::newRow("later row first") << qint64(0) << "e1:1 e2:1 e3:2 a3:2 a2:1" << qint64(0) << 1;
    QTest::newRow("later row first, then the first")
        << qint64(0) << "e1:1 e2:1 e3:2 a3:2 a2:1 a1:1" << qint64(3) << 0;
    QTest::newRow("stops at the first open row")
        << qint64(0) << "e1:1 e2:1 e3:1 a1:1 a3:1" << qint64(1) << 1;
    QTest::newRow("gap record passes at once") << qint64(7) << "e8:" << qint64(8) << 0;
    QTest::newRow("gap record waits for the row before")
        << qint64(7) << "e8:1 e9: e10:1 a10:1" << qint64(7) << 1;
    QTest::newRow("ids with holes") << qint64(0) << "e5:1 e9:2 a9:2 a5:1" << qint64(9) << 0;
    QTest::newRow("acknowledged twice") << qint64(0) << "e1:1,2 a1:1 a1:1" << qint64(0) << 1;
    QTest::newRow("unknown acknowledgement")
        << qint64(0) << "e1:1 a2:1 a1:2 a0:1" << qint64(0) << 1;
    QTest::newRow("acknowledgement of an id passed")
        << qint64(0) << "e1:1 a1:1 a1:1" << qint64(1) << 0;
    QTest::newRow("descending refused") << qint64(0) << "e5:1 x4:1 x5:1" << qint64(0) << 1;
    QTest::newRow("at or below the start refused") << qint64(20) << "x20:1 x3:1" << qint64(20) << 0;
    QTest::newRow("alarm change marks")
        << qint64(100) << "e101:0 e102:0 a102:0 a101:0" << qint64(102) << 0;
    QTest::newRow("reset forgets what is open")
        << qint64(0) << "e1:1 e2:1 a1:1 r e2:1 a2:1" << qint64(2) << 0;
}

void TestForwardRecords::cursor()
{
    QFETCH(qint64, start);
    QFETCH(QString, steps);
    QFETCH(qint64, position);
    QFETCH(int, outstanding);

    ForwardCursor cursor(start);
    for (const QString& step : steps.split(QLatin1Char(' '))) {
        if (step == QLatin1String("r")) {
            cursor.reset();
            continue;
        }
        const QStringList parts = step.mid(1).split(QLatin1Char(':'));
        const qint64 id = parts.at(0).toLongLong();
        QVector<int> channels;
        for (const QString& c : parts.at(1).split(QLatin1Char(','), Qt::SkipEmptyParts))
            channels.append(c.toInt());
        switch (step.at(0).toLatin1()) {
        case 'e':
            QVERIFY2(cursor.expect(id, channels), qPrintable(step));
            break;
        case 'x':
            QVERIFY2(!cursor.expect(id, channels), qPrintable(step));
            break;
        case 'a':
            cursor.acknowledge(id, channels.value(0));
            break;
        default:
            QFAIL(qPrintable(step));
        }
    }
    QCOMPARE(cursor.position(), position);
    QCOMPARE(cursor.outstanding(), outstanding);
}

void TestForwardRecords::backoff()
{
    // Fault: a refused login retried at once, again and again (a storm), or never again.
    RetryBackoff backoff(500, 5000);
    QList<int> waits;
    for (int i = 0; i < 7; ++i)
        waits << backoff.next();
    QCOMPARE(waits, (QList<int>{500, 1000, 2000, 4000, 5000, 5000, 5000}));
    QCOMPARE(backoff.failures(), 7);
    backoff.reset();
    QCOMPARE(backoff.next(), 500);
    RetryBackoff huge(1000, std::numeric_limits<int>::max());
    for (int i = 0; i < 100; ++i)
        QVERIFY(huge.next() > 0);
}

QTEST_GUILESS_MAIN(TestForwardRecords)
#include "tst_forwardrecords.moc"
